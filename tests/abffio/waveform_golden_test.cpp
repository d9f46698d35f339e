// Every waveform the vendor library delivered for the real recordings, computed
// from the library record it filled for each file: same success or error number,
// same float32 bytes (SHA-256), and three complete arrays compared point by point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "abffio/waveform.h"
#include "interface/abffio.h"
#include "tests/support/shared_data.h"
#include "tools/abfcompare/json.h"
#include "tools/abfcompare/sha256.h"

namespace {

bool DecodeHex(const std::string& hex, std::vector<uint8_t>& bytes)
{
    if (hex.size() % 2) return false;
    bytes.resize(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        char* end = nullptr;
        bytes[i] = static_cast<uint8_t>(std::strtoul(pair, &end, 16));
        if (end != pair + 2) return false;
    }
    return true;
}

// File access for DAC-file waveforms stored in the recording.
struct OpenFile {
    std::FILE* f = nullptr;
    ~OpenFile()
    {
        if (f) std::fclose(f);
    }
};

bool ReadInt16(void* context, uint64_t offset, uint32_t count, int16_t* out)
{
    auto* file = static_cast<OpenFile*>(context);
    if (!file->f || std::fseek(file->f, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 2, count, file->f) == count;
}

bool LoadRecord(const abfcompare::Json& golden, ABFLibraryHeader& h)
{
    std::vector<uint8_t> bytes;
    if (!DecodeHex(abfcompare::String(golden, "ord110/library_record_hex"), bytes)) return false;
    if (bytes.size() != sizeof(ABFLibraryHeader)) return false;
    std::memcpy(&h, bytes.data(), sizeof h);
    return true;
}

struct Tally {
    int compared = 0;
    int matched = 0;
};

void CheckFile(const std::filesystem::path& jsonPath, Tally& tally)
{
    abfcompare::Json golden;
    std::string parseError;
    ASSERT_TRUE(abfcompare::ParseJsonFile(jsonPath.string(), golden, parseError)) << jsonPath << ": " << parseError;
    const abfcompare::Json& episodes = abfcompare::At(golden, "episodes");
    if (!episodes.is_array() || episodes.empty()) return;
    ABFLibraryHeader h;
    ASSERT_TRUE(LoadRecord(golden, h)) << jsonPath;

    OpenFile file;
    const std::string abfPath = kavtest::SharedLocal("data/abf/" + abfcompare::String(golden, "file"));
    file.f = std::fopen(abfPath.c_str(), "rb");
    AbfWaveformFileAccess access{ReadInt16, &file};

    for (const abfcompare::Json& ep : episodes) {
        const uint32_t episode = static_cast<uint32_t>(abfcompare::Int(ep, "episode"));
        const uint32_t count = static_cast<uint32_t>(abfcompare::Int(ep, "ord340/count"));
        for (const abfcompare::Json& ch : abfcompare::At(ep, "channels")) {
            const abfcompare::Json& want = abfcompare::At(ch, "ord250");
            if (want.is_null()) continue;
            SCOPED_TRACE(abfcompare::String(golden, "file") + " episode " + std::to_string(episode) + " physical " +
                         std::to_string(abfcompare::Int(ch, "physical")));
            std::vector<float> buf(count, 0.0f);
            const int32_t err = AbfComputeWaveform(h, static_cast<int32_t>(abfcompare::Int(ch, "physical")), episode,
                                                   buf.data(), count, &access);
            ++tally.compared;
            const int wantError = static_cast<int>(abfcompare::Int(want, "error"));
            const bool wantOk = abfcompare::Int(want, "ok") != 0;
            EXPECT_EQ(err == 0, wantOk);
            EXPECT_EQ(err, wantOk ? 0 : wantError);
            const std::string sha = abfcompare::Sha256Hex(buf.data(), buf.size() * sizeof(float));
            bool same = sha == abfcompare::String(want, "sha256") && (err == 0) == wantOk;
            if (!same) {
                // Show where the values part from the recorded first and last values.
                const abfcompare::Json& first8 = abfcompare::At(want, "first8");
                const abfcompare::Json& last8 = abfcompare::At(want, "last8");
                for (std::size_t i = 0; i < 8 && i < first8.size() && i < buf.size(); ++i)
                    EXPECT_FLOAT_EQ(buf[i], first8[i].get<float>()) << "first8 " << i;
                for (std::size_t i = 0; i < 8 && i < last8.size() && i < buf.size(); ++i)
                    EXPECT_FLOAT_EQ(buf[buf.size() - last8.size() + i], last8[i].get<float>()) << "last8 " << i;
            }
            EXPECT_EQ(sha, abfcompare::String(want, "sha256"));
            if (same) ++tally.matched;
        }
    }
}

TEST(WaveformGolden, EveryRecordedWaveformMatches)
{
    REQUIRE_SHARED("data/golden");
    const std::filesystem::path dir = kavtest::SharedLocal("data/golden");
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".json") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    Tally tally;
    for (const auto& f : files) {
        Tally one;
        CheckFile(f, one);
        if (one.compared) std::printf("%-40s %4d/%4d\n", f.filename().string().c_str(), one.matched, one.compared);
        tally.compared += one.compared;
        tally.matched += one.matched;
    }
    std::printf("waveforms matching the vendor library: %d of %d\n", tally.matched, tally.compared);
    EXPECT_GT(tally.compared, 1000);
    EXPECT_EQ(tally.matched, tally.compared);
}

// The three recordings whose waveforms were kept whole: every point (one of them
// has no waveform: its arrays are the untouched zeroed buffer).
TEST(WaveformGolden, CompleteArraysMatchPointByPoint)
{
    REQUIRE_SHARED("data/golden/full");
    const std::filesystem::path dir = kavtest::SharedLocal("data/golden");
    int arrays = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "full")) {
        const std::string name = entry.path().filename().string();
        const std::string suffix = ".wave.f32";
        if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        // NAME.LOGICAL.EPISODE.wave.f32
        const std::string stem = name.substr(0, name.size() - suffix.size());
        const std::size_t dot2 = stem.rfind('.');
        const std::size_t dot1 = stem.rfind('.', dot2 - 1);
        const std::string base = stem.substr(0, dot1);
        const int logical = std::atoi(stem.substr(dot1 + 1, dot2 - dot1 - 1).c_str());
        const uint32_t episode = static_cast<uint32_t>(std::atoi(stem.substr(dot2 + 1).c_str()));
        SCOPED_TRACE(name);

        abfcompare::Json golden;
        std::string parseError;
        ASSERT_TRUE(abfcompare::ParseJsonFile((dir / (base + ".json")).string(), golden, parseError)) << parseError;
        ABFLibraryHeader h;
        ASSERT_TRUE(LoadRecord(golden, h));
        const abfcompare::Json& ch = golden["episodes"][episode - 1]["channels"][static_cast<std::size_t>(logical)];
        const int32_t wantError =
            abfcompare::Int(ch, "ord250/ok") ? 0 : static_cast<int32_t>(abfcompare::Int(ch, "ord250/error"));

        std::FILE* f = std::fopen(entry.path().string().c_str(), "rb");
        ASSERT_NE(f, nullptr);
        std::vector<float> want;
        float v;
        while (std::fread(&v, 4, 1, f) == 1) want.push_back(v);
        std::fclose(f);

        // Recorded into a zeroed buffer, which a failing call leaves as it is.
        std::vector<float> got(want.size(), 0.0f);
        ASSERT_EQ(AbfComputeWaveform(h, static_cast<int32_t>(abfcompare::Int(ch, "physical")), episode, got.data(),
                                     static_cast<uint32_t>(got.size()), nullptr),
                  wantError);
        std::size_t differing = 0, firstDiff = want.size();
        for (std::size_t i = 0; i < want.size(); ++i)
            if (std::memcmp(&want[i], &got[i], 4) != 0) {
                if (!differing) firstDiff = i;
                ++differing;
            }
        EXPECT_EQ(differing, 0u) << "first difference at " << firstDiff << ": "
                                 << (firstDiff < want.size() ? got[firstDiff] : 0.0f) << " instead of "
                                 << (firstDiff < want.size() ? want[firstDiff] : 0.0f);
        ++arrays;
    }
    EXPECT_GT(arrays, 0);
}

}  // namespace
