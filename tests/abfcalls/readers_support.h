// Support for the reader tests: a host with the plug-in loaded whose every call is
// checked for the ownership audit (the query tests' fixture), the library's own
// answers asked directly, the wave note as key=value pairs, SHA-256 of samples,
// and recordings written by the sample writer.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "abffio/writer/abf_writer.h"
#include "interface/abffio.h"
#include "host/host.h"
#include "query_support.h"

namespace readertest {

using kavhost::Arg;
using kavhost::CallResult;
using kavhost::Wave;

// The library's own answers about a file, asked directly in the test program.
struct DirectFile {
    bool ok = false;
    int32_t error = 0;
    uint32_t sampleLimit = 0;
    uint32_t episodes = 0;
    ABFFileHeader header{};
};
DirectFile OpenDirect(const std::string& path);
// One read of ordinal 210 (physical channel); empty on failure.
std::vector<float> ReadDirect(const std::string& path, int32_t physical, uint32_t episode);
// The channel's whole recording, every read appended.
std::vector<float> ReadChannelDirect(const std::string& path, int32_t physical);

// "k=v;k=v;" as a map; a malformed note gives an entry "!" with the rest.
std::map<std::string, std::string> ParseNote(const std::string& note);

std::string Sha256Floats(const float* values, size_t count);
// The float32 values of a single-precision wave, or a double wave narrowed back.
std::vector<float> WaveFloats(const Wave* w);

// Writes a recording into the scratch folder; the path, or empty (test failure).
std::string WriteRecording(const abfw::RecordingSpec& rec, const std::string& name);

// A gap-free recording of `channels` channels and `samples` samples each, with
// explicit sample values (physical channels 0, 2, 4, ...).
abfw::RecordingSpec GapFreeRecording(int channels, int64_t samples);

class ReaderTest : public querytest::QueryTest {
protected:
    // Puts a known failure into the last-error state (so later checks can tell
    // whether anything was recorded since).
    void Mark();
    static constexpr int32_t kMark = -777;
};

}  // namespace readertest
