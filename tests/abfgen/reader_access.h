// Opening the writer's files with our ABF library, as the plug-in does.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "interface/abffio.h"

namespace abftest {

// A header record prepared as the plug-in prepares it (zero-filled, versions 2.05,
// lHeaderSize 11335), with room to spare should a library write its larger layout.
struct PreparedHeader {
    std::vector<uint8_t> storage = std::vector<uint8_t>(65536, 0);
    PreparedHeader()
    {
        ABFFileHeader* h = get();
        h->fFileVersionNumber = 2.05f;
        h->fHeaderVersionNumber = 2.05f;
        h->lHeaderSize = int32_t(sizeof(ABFFileHeader));
    }
    ABFFileHeader* get() { return reinterpret_cast<ABFFileHeader*>(storage.data()); }
};

struct OpenFile {
    int32_t handle = -1;
    uint32_t maxSamples = kAbfSampleLimit, maxEpisodes = 0;
    int32_t error = 0;
    bool ok = false;
    PreparedHeader header;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    explicit OpenFile(const std::string& path)
    {
        ok = ABF_ReadOpen(path.c_str(), &handle, 0, header.get(), &maxSamples, &maxEpisodes, &error) != 0;
    }
    ~OpenFile()
    {
        int32_t e;
        if (ok) ABF_Close(handle, &e);
    }
};

inline std::string SharedFile(const std::string& name)
{
    const char* dir = std::getenv("KAV_SHARED_DIR");
    return dir ? std::string(dir) + "/data/abf/" + name : std::string();
}

// Whether our library reads files at all yet: it must open a real recording.
// When the shared data are absent the tests run (and report what fails).
inline bool ReaderReady(std::string* why)
{
    const std::string probe = SharedFile("16d22006_kim_gapfree.abf");
    if (probe.empty()) return true;
    FILE* f = std::fopen(probe.c_str(), "rb");
    if (!f) return true;
    std::fclose(f);
    OpenFile o(probe);
    if (o.ok) return true;
    *why =
        "our ABF library does not open real recordings yet (error " + std::to_string(o.error) + " for " + probe + ")";
    return false;
}

#define SKIP_UNLESS_READER_READY()                              \
    do {                                                        \
        std::string why_;                                       \
        if (!abftest::ReaderReady(&why_)) GTEST_SKIP() << why_; \
    } while (0)

}  // namespace abftest
