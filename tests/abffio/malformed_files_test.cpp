// Malformed files through our ABF library: each is refused at the open or fails on
// a later call, with one of the library's error numbers, and nothing crashes
// (these tests also run under AddressSanitizer).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "abffio/writer/abf_writer.h"
#include "tests/abffio/writer/parsed_file.h"
#include "tests/support/library_file.h"

using namespace abfw;

namespace {

const std::set<int32_t> kKnownErrors = {
    ABF_EUNKNOWNFILETYPE, ABF_EINVALIDFILE, ABF_EREADDATA, ABF_OUTOFMEMORY,     ABF_EREADSYNCH,
    ABF_EBADSYNCH,        ABF_EEPISODESIZE, ABF_EREADTAG,  ABF_ENOSYNCHPRESENT, ABF_EEPISODERANGE,
};

std::vector<std::string> MalformedPresets()
{
    std::vector<std::string> v;
    for (const PresetInfo& p : Presets())
        if (p.malformed) v.push_back(p.name);
    return v;
}

class Malformed : public ::testing::TestWithParam<std::string> {};

TEST_P(Malformed, FailsCleanlyWithAnErrorNumber)
{
    RecordingSpec rec;
    std::string error;
    ASSERT_TRUE(MakePreset(GetParam(), &rec, &error)) << error;
    const std::string path = abftest::ScratchPath("malformed_" + GetParam());
    ASSERT_TRUE(WriteAbf(rec, path, &error)) << error;
    struct Cleanup {
        std::string p;
        ~Cleanup() { std::remove(p.c_str()); }
    } cleanup{path};

    int32_t format = -1, err = 0;
    if (!ABF_IsABFFile(path.c_str(), &format, &err)) {
        EXPECT_TRUE(kKnownErrors.count(err)) << "IsABFFile error " << err;
    }

    kavtest::LibraryFile file(path);
    if (!file.ok) {
        EXPECT_TRUE(kKnownErrors.count(file.error)) << "open failed with unexpected error " << file.error;
        char text[512] = {};
        EXPECT_TRUE(ABF_BuildErrorText(file.error, path.c_str(), text, sizeof text)) << file.error;
        EXPECT_NE(text[0], '\0');
        return;
    }

    // Opened: some later call must fail, and every failure must be a known number.
    std::vector<int32_t> failures;
    ABFFileHeader* h = file.header();
    const int nch = std::clamp<int>(h->nADCNumChannels, 0, 16);
    std::vector<float> buffer(std::max<uint32_t>(file.sampleLimit, 1) + 1024);
    for (uint32_t e = 1; e <= std::min<uint32_t>(file.episodes, 1000); ++e) {
        uint32_t n = 0;
        if (!ABF_GetNumSamples(file.handle, h, e, &n, &err)) {
            failures.push_back(err);
            continue;
        }
        if (n > file.sampleLimit) {
            ADD_FAILURE() << "episode " << e << " claims " << n << " samples, more than the " << file.sampleLimit
                          << " one read delivers";
            break;
        }
        for (int p = 0; p < nch; ++p) {
            uint32_t got = 0;
            if (!ABF_ReadChannel(file.handle, h, h->nADCSamplingSeq[p], e, buffer.data(), &got, &err))
                failures.push_back(err);
        }
    }
    const int64_t tags = h->lNumTagEntries;
    if (tags > 0) {
        ABFTag one;
        if (!ABF_ReadTags(file.handle, h, 0, &one, 1, &err)) failures.push_back(err);
        if (!ABF_ReadTags(file.handle, h, uint32_t(std::min<int64_t>(tags - 1, UINT32_MAX)), &one, 1, &err))
            failures.push_back(err);
    }
    EXPECT_FALSE(failures.empty()) << "every call succeeded on a malformed file";
    for (int32_t f : failures) EXPECT_TRUE(kKnownErrors.count(f)) << "unexpected error " << f;
}

INSTANTIATE_TEST_SUITE_P(Presets, Malformed, ::testing::ValuesIn(MalformedPresets()),
                         [](const ::testing::TestParamInfo<std::string>& i) {
                             std::string s = i.param;
                             std::replace(s.begin(), s.end(), '-', '_');
                             return s;
                         });

// The open refuses these outright: a header cut short, a broken signature or
// version, no channel or no data (invalid file), and a broken synch array.
TEST(MalformedOpen, RefusedWithTheRightNumber)
{
    const struct {
        const char* preset;
        int32_t error;
    } cases[] = {
        {"truncated-file-info", ABF_EINVALIDFILE},  {"abf1-truncated-header", ABF_EINVALIDFILE},
        {"bad-signature", ABF_EINVALIDFILE},        {"bad-version", ABF_EINVALIDFILE},
        {"zero-channels", ABF_EINVALIDFILE},        {"zero-episodes", ABF_EINVALIDFILE},
        {"synch-length-too-long", ABF_EBADSYNCH},   {"abf1-synch-length-too-long", ABF_EBADSYNCH},
        {"synch-starts-decreasing", ABF_EBADSYNCH}, {"fixed-events-negative-start", ABF_EBADSYNCH},
        {"truncated-at-synch", ABF_EBADSYNCH},
    };
    for (const auto& k : cases) {
        RecordingSpec rec;
        std::string error;
        ASSERT_TRUE(MakePreset(k.preset, &rec, &error)) << error;
        const std::string path = abftest::ScratchPath("refused_" + std::string(k.preset));
        ASSERT_TRUE(WriteAbf(rec, path, &error)) << error;
        {
            kavtest::LibraryFile file(path);
            EXPECT_FALSE(file.ok) << k.preset;
            EXPECT_EQ(file.error, k.error) << k.preset;
        }
        std::remove(path.c_str());
    }
}

}  // namespace
