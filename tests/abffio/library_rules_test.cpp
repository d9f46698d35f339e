// The library's rules that the recorded corpus does not show, on files the tests
// write themselves: header versions, event and gap-free cutting, the last partial read,
// handles, several open files, error numbers and texts, hostile headers, test controls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <string>
#include <vector>

#include "minimal_files.h"
#include "abffio/writer/abf_writer.h"
#include "interface/abffio.h"
#include "tools/abfgen/cli.h"

namespace fs = std::filesystem;
namespace v1 = abfformat::abf1;
namespace v2 = abfformat::abf2;
using abftest::MinimalFile;

namespace {

std::vector<uint8_t> g_block(70000);

ABFFileHeader* Header()
{
    std::fill(g_block.begin(), g_block.end(), 0);
    return reinterpret_cast<ABFFileHeader*>(g_block.data());
}

// A file of the test's own.
std::string RulesFile(const std::string& name)
{
    const fs::path dir = fs::current_path() / "abffio-rules-files";
    fs::create_directories(dir);
    return (dir / name).string();
}

// Writes `bytes` to a file of the test's own and returns its path.
std::string Save(const std::vector<uint8_t>& bytes, const std::string& name)
{
    const std::string path = RulesFile(name);
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return path;
}

struct Opened {
    ABFBOOL ok = 0;
    int32_t handle = -1, error = -1;
    uint32_t samples = kAbfSampleLimit, episodes = 0;
    ABFFileHeader* h = nullptr;
};

Opened Open(const std::string& path)
{
    Opened o;
    o.h = Header();
    o.ok = ABF_ReadOpen(path.c_str(), &o.handle, 0, o.h, &o.samples, &o.episodes, &o.error);
    return o;
}

void Close(const Opened& o)
{
    int32_t e = 0;
    if (o.ok) {
        EXPECT_TRUE(ABF_Close(o.handle, &e));
    }
}

// Episodic recording: `episodes` sweeps of `perChannel` samples on `channels`.
MinimalFile Episodic(int abfMajor, std::vector<int16_t> channels, int32_t perChannel, int32_t episodes)
{
    MinimalFile r;
    r.abfMajor = abfMajor;
    r.channels = channels;
    r.mode = 5;
    const int32_t nch = static_cast<int32_t>(channels.size());
    r.samplesPerEpisode = perChannel * nch;
    r.episodes = episodes;
    r.synchTimeUnit = 10.0f;
    r.raw.resize(static_cast<size_t>(r.samplesPerEpisode) * episodes);
    for (size_t j = 0; j < r.raw.size(); ++j) r.raw[j] = abftest::RawAt(j);
    for (int32_t e = 0; e < episodes; ++e) r.synch.push_back({e * 100000 + 7, r.samplesPerEpisode});
    return r;
}

// Gap-free recording of `perChannel` samples per channel.
MinimalFile GapFree(int abfMajor, std::vector<int16_t> channels, size_t perChannel)
{
    MinimalFile r;
    r.abfMajor = abfMajor;
    r.channels = channels;
    r.mode = 3;
    r.samplesPerEpisode = 512;
    r.raw.resize(perChannel * channels.size());
    for (size_t j = 0; j < r.raw.size(); ++j) r.raw[j] = abftest::RawAt(j);
    return r;
}

// The value the library should deliver for raw sample j (range 10 V, 32768 steps, scale 1).
float Expected(size_t j) { return static_cast<float>(abftest::RawAt(j)) * (10.0f / 1.0f / 32768.0f); }

TEST(AbfLibraryRules, EveryHeaderVersionOpensAndReads)
{
    struct Case {
        int major;
        float abf1Version;
        uint8_t abf2Minor;
        float recordVersion;
    };
    const Case cases[] = {
        {1, 1.3f, 0, 1.3f}, {1, 1.65f, 0, 1.65f}, {1, 1.83f, 0, 1.83f}, {1, 1.84f, 0, 1.84f},
        {2, 0, 0, 2.0f},    {2, 0, 3, 2.03f},     {2, 0, 6, 2.06f},     {2, 0, 9, 2.09f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recordVersion);
        MinimalFile r = Episodic(c.major, {3, 1}, 500, 3);
        r.abf1Version = c.abf1Version;
        r.abf2Minor = c.abf2Minor;
        std::vector<uint8_t> bytes = abftest::Write(r);
        if (c.major == 1 && c.abf1Version < 1.6f) {
            // Old headers end at byte 2048: what follows must not be taken for header fields.
            bytes.insert(bytes.begin() + v1::kOldHeaderBytes, v1::kExtent - v1::kOldHeaderBytes, 0);
            for (const auto& block : {v1::lDataSectionPtr, v1::lSynchArrayPtr}) {
                int32_t b;
                memcpy(&b, bytes.data() + block.offset, 4);
                b += 8;
                memcpy(bytes.data() + block.offset, &b, 4);
            }
            const int16_t garbage = -7220;
            memcpy(bytes.data() + v1::nTelegraphEnable.At(3), &garbage, 2);  // would-be nTelegraphEnable[3]
        }
        const Opened o = Open(Save(bytes, "version.abf"));
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_FLOAT_EQ(+o.h->fFileVersionNumber, c.recordVersion);
        EXPECT_FLOAT_EQ(+o.h->fHeaderVersionNumber, 2.09f);
        EXPECT_EQ(+o.h->nADCNumChannels, 2);
        EXPECT_EQ(+o.h->nADCSamplingSeq[0], 3);
        EXPECT_EQ(+o.h->nADCSamplingSeq[1], 1);
        EXPECT_EQ(+o.h->nTelegraphEnable[3], 0);
        EXPECT_EQ(o.samples, 500u);
        EXPECT_EQ(o.episodes, 3u);
        std::vector<float> buf(o.samples);
        uint32_t n = 0;
        int32_t e = 0;
        ASSERT_TRUE(ABF_ReadChannel(o.handle, o.h, 1, 2, buf.data(), &n, &e)) << e;
        ASSERT_EQ(n, 500u);
        for (uint32_t i = 0; i < n; i += 97) EXPECT_EQ(buf[i], Expected(1000 + 2 * i + 1)) << i;
        Close(o);
    }
}

// Record fields of ABF1 files that the vendor library reports otherwise than the file
// stores them; each case names the recordings its rule rests on.
TEST(AbfLibraryRules, Abf1DigitizerAndTriggerSourceAreReportedAsTheVendorLibraryDoes)
{
    struct Case {
        float version;
        bool gapFree;
        int16_t storedTriggerSource;
        int16_t triggerSource, digitizerADCs, digitizerDACs;
    };
    const Case cases[] = {
        // Before version 1.6 an episodic recording's trigger source is -3 whatever the
        // file holds (six 1.3 recordings hold 0, 130618-1-12.abf holds 15); a gap-free
        // one keeps what it holds.
        {1.3f, false, 0, -3, 16, 2},
        {1.3f, false, 15, -3, 16, 2},
        {1.3f, true, 15, 15, 16, 2},
        {1.3f, true, 0, 0, 16, 2},
        // Later versions report what the file holds (their recordings all hold -3).
        {1.83f, false, 15, 15, 16, 2},
        // Version 1.84: two digitizer ADCs and no other digitizer field
        // (multichannelAbf1WithTags.abf, pclamp11_4ch_abf1.abf).
        {1.84f, false, -3, -3, 2, 0},
        {1.84f, false, 4, 4, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << c.version << (c.gapFree ? " gap-free" : " episodic")
                                        << ", stored " << c.storedTriggerSource);
        MinimalFile r = c.gapFree ? GapFree(1, {0, 1}, 1000) : Episodic(1, {0, 1}, 100, 2);
        r.abf1Version = c.version;
        r.triggerSource = c.storedTriggerSource;
        const Opened o = Open(Save(abftest::Write(r), "abf1-fields.abf"));
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(+o.h->nTriggerSource, c.triggerSource);
        EXPECT_EQ(+o.h->nDigitizerADCs, c.digitizerADCs);
        EXPECT_EQ(+o.h->nDigitizerDACs, c.digitizerDACs);
        Close(o);
    }
}

// The episode duration (ordinal 360) multiplies the samples of all channels by the
// sequence interval before it divides by the channel count: three channels of 9600
// samples at 20 kHz last exactly 480 ms, as the vendor library answers.
TEST(AbfLibraryRules, EpisodeDurationOfAThreeChannelRecording)
{
    abfw::RecordingSpec rec;
    std::string file;
    ASSERT_TRUE(abfgen::BuildRecording({"--mode", "episodic", "--channels", "3", "--rate", "20000", "--episode-samples",
                                        "9600", "--episodes", "3", "three-channels.abf"},
                                       &rec, &file));
    const std::string path = RulesFile(file);
    std::string error;
    ASSERT_TRUE(abfw::WriteAbf(rec, path, &error)) << error;
    const Opened o = Open(path);
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_EQ(o.episodes, 3u);
    for (uint32_t e = 1; e <= o.episodes; ++e) {
        double duration = 0;
        int32_t err = 0;
        ASSERT_TRUE(ABF_GetEpisodeDuration(o.handle, o.h, e, &duration, &err)) << err;
        EXPECT_EQ(duration, 480.0) << "episode " << e << ": " << std::setprecision(17) << duration;
    }
    Close(o);
}

TEST(AbfLibraryRules, FloatSamplesAreDeliveredUnchanged)
{
    MinimalFile r = Episodic(2, {0, 2}, 300, 2);
    r.floatData = true;
    r.rawFloat.resize(r.raw.size());
    for (size_t j = 0; j < r.rawFloat.size(); ++j) r.rawFloat[j] = static_cast<float>(j) * 0.25f - 17.0f;
    const Opened o = Open(Save(abftest::Write(r), "float.abf"));
    ASSERT_TRUE(o.ok) << o.error;
    std::vector<float> buf(o.samples);
    uint32_t n = 0;
    int32_t e = 0;
    ASSERT_TRUE(ABF_ReadChannel(o.handle, o.h, 2, 2, buf.data(), &n, &e));
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(buf[i], r.rawFloat[600 + 2 * i + 1]);
    Close(o);
}

TEST(AbfLibraryRules, GapFreeIsCutIntoReadsAndTheLastReadIsPartial)
{
    // 40000 samples per channel, limit 16384: reads of 16384, 16384 and 7232.
    const MinimalFile r = GapFree(2, {4, 5}, 40000);
    const Opened o = Open(Save(abftest::Write(r), "gapfree.abf"));
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.samples, 16384u);
    ASSERT_EQ(o.episodes, 3u);
    EXPECT_EQ(+o.h->lActualEpisodes, 3);
    EXPECT_EQ(+o.h->lNumSamplesPerEpisode, 16384 * 2);
    const uint32_t expected[] = {16384, 16384, 7232};
    std::vector<float> buf(o.samples);
    for (uint32_t e = 1; e <= 3; ++e) {
        uint32_t count = 0, n = 0;
        int32_t err = 0;
        ASSERT_TRUE(ABF_GetNumSamples(o.handle, o.h, e, &count, &err));
        EXPECT_EQ(count, expected[e - 1]);
        ASSERT_TRUE(ABF_ReadChannel(o.handle, o.h, 5, e, buf.data(), &n, &err));
        ASSERT_EQ(n, expected[e - 1]);
        const size_t first = static_cast<size_t>(e - 1) * 16384 * 2 + 1;
        EXPECT_EQ(buf[0], Expected(first));
        EXPECT_EQ(buf[n - 1], Expected(first + 2 * (n - 1)));
        double start = -1, duration = -1;
        ASSERT_TRUE(ABF_GetStartTime(o.handle, o.h, 4, e, &start, &err));
        EXPECT_DOUBLE_EQ(start, (e - 1) * 16384.0 * 2 * 50.0 / 1000.0);
        ASSERT_TRUE(ABF_GetEpisodeDuration(o.handle, o.h, e, &duration, &err));
        EXPECT_DOUBLE_EQ(duration, expected[e - 1] * 2 * 50.0 / 1000.0);
    }
    Close(o);
}

TEST(AbfLibraryRules, TheSampleLimitSetsTheReadSizeOfContinuousFiles)
{
    // 3 channels, 10000 samples each.
    const std::string path = Save(abftest::Write(GapFree(2, {0, 1, 2}, 10000)), "limits.abf");
    struct Case {
        uint32_t limitIn, limitOut, episodes, last;
    };
    const Case cases[] = {
        {16384, 10000, 1, 10000},  // at most the recording
        {0, 2730, 4, 1810},        // 0: 8192 multiplexed samples
        {1000, 1000, 10, 1000},   {3333, 3333, 4, 1}, {1, 1, 10000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limitIn);
        Opened o;
        o.h = Header();
        o.samples = c.limitIn;
        ASSERT_TRUE(ABF_ReadOpen(path.c_str(), &o.handle, 0, o.h, &o.samples, &o.episodes, &o.error));
        o.ok = 1;
        EXPECT_EQ(o.samples, c.limitOut);
        EXPECT_EQ(o.episodes, c.episodes);
        EXPECT_EQ(+o.h->lNumSamplesPerEpisode, static_cast<int32_t>(c.limitOut * 3));
        uint32_t n = 0;
        int32_t e = 0;
        ASSERT_TRUE(ABF_GetNumSamples(o.handle, o.h, o.episodes, &n, &e));
        EXPECT_EQ(n, c.last);
        std::vector<float> buf(o.samples);
        ASSERT_TRUE(ABF_ReadChannel(o.handle, o.h, 2, o.episodes, buf.data(), &n, &e));
        EXPECT_EQ(buf[n - 1], Expected(3 * 10000 - 1));
        Close(o);
    }
}

TEST(AbfLibraryRules, EventsAreMergedWhenContiguousAndCutAtTheLimit)
{
    // Events (mux samples, 1 channel): 1000 at 0, 20000 at 1000 (contiguous: merged with
    // the first), 500 at 50000, 16384 at 60000.
    MinimalFile r;
    r.mode = 1;
    r.channels = {0};
    r.synch = {{0, 1000}, {1000, 20000}, {50000, 500}, {60000, 16384}};
    r.raw.resize(1000 + 20000 + 500 + 16384);
    for (size_t j = 0; j < r.raw.size(); ++j) r.raw[j] = abftest::RawAt(j);
    for (int major : {1, 2}) {
        SCOPED_TRACE(major);
        r.abfMajor = major;
        const Opened o = Open(Save(abftest::Write(r), "events.abf"));
        ASSERT_TRUE(o.ok) << o.error;
        // Run 0..21000 -> 16384 + 4616; then 500; then 16384.
        const uint32_t counts[] = {16384, 4616, 500, 16384};
        const double starts[] = {0, 16384, 50000, 60000};
        const size_t firsts[] = {0, 16384, 21000, 21500};
        ASSERT_EQ(o.episodes, 4u);
        EXPECT_EQ(+o.h->lActualEpisodes, 4);
        std::vector<float> buf(o.samples);
        for (uint32_t e = 1; e <= 4; ++e) {
            uint32_t count = 0, n = 0;
            int32_t err = 0;
            double start = -1;
            ASSERT_TRUE(ABF_GetNumSamples(o.handle, o.h, e, &count, &err));
            EXPECT_EQ(count, counts[e - 1]);
            ASSERT_TRUE(ABF_GetStartTime(o.handle, o.h, 0, e, &start, &err));
            EXPECT_DOUBLE_EQ(start, starts[e - 1] * 100.0 / 1000.0);
            ASSERT_TRUE(ABF_ReadChannel(o.handle, o.h, 0, e, buf.data(), &n, &err));
            EXPECT_EQ(buf[0], Expected(firsts[e - 1]));
            EXPECT_EQ(buf[n - 1], Expected(firsts[e - 1] + n - 1));
        }
        Close(o);
    }
}

TEST(AbfLibraryRules, OverlappingFixedLengthSweepsAreShortened)
{
    MinimalFile r;
    r.mode = 2;
    r.channels = {0, 1};
    r.samplesPerEpisode = 2000;
    r.synch = {{0, 2000}, {1500, 2000}, {10000, 2000}};
    r.raw.resize(6000);
    for (size_t j = 0; j < r.raw.size(); ++j) r.raw[j] = abftest::RawAt(j);
    const Opened o = Open(Save(abftest::Write(r), "overlap.abf"));
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_EQ(o.episodes, 3u);
    const uint32_t counts[] = {750, 1000, 1000};
    for (uint32_t e = 1; e <= 3; ++e) {
        uint32_t count = 0;
        int32_t err = 0;
        ASSERT_TRUE(ABF_GetNumSamples(o.handle, o.h, e, &count, &err));
        EXPECT_EQ(count, counts[e - 1]) << e;
    }
    // The second sweep still starts where it was stored.
    std::vector<float> buf(o.samples);
    uint32_t n = 0;
    int32_t err = 0;
    ASSERT_TRUE(ABF_ReadChannel(o.handle, o.h, 0, 2, buf.data(), &n, &err));
    EXPECT_EQ(buf[0], Expected(2000));
    Close(o);
}

TEST(AbfLibraryRules, BadHandlesEpisodesAndChannelsGiveErrorNumbers)
{
    const Opened o = Open(Save(abftest::Write(Episodic(2, {0, 1}, 100, 2)), "args.abf"));
    ASSERT_TRUE(o.ok);
    std::vector<float> buf(o.samples);
    uint32_t n = 0;
    double d = 0;
    ABFTag tag;
    for (int32_t bad : {-1, 63, 64, 1000000, o.handle + 1}) {
        int32_t e = 0;
        EXPECT_FALSE(ABF_ReadChannel(bad, o.h, 0, 1, buf.data(), &n, &e));
        EXPECT_EQ(e, ABF_EBADFILEINDEX);
        e = 0;
        EXPECT_FALSE(ABF_GetNumSamples(bad, o.h, 1, &n, &e));
        EXPECT_EQ(e, ABF_EBADFILEINDEX);
        e = 0;
        EXPECT_FALSE(ABF_GetStartTime(bad, o.h, 0, 1, &d, &e));
        EXPECT_EQ(e, ABF_EBADFILEINDEX);
        e = 0;
        EXPECT_FALSE(ABF_GetEpisodeDuration(bad, o.h, 1, &d, &e));
        EXPECT_EQ(e, ABF_EBADFILEINDEX);
        e = 0;
        EXPECT_FALSE(ABF_GetWaveform(bad, o.h, 0, 1, buf.data(), &e));
        EXPECT_EQ(e, ABF_EBADFILEINDEX);
        e = 0;
        EXPECT_FALSE(ABF_ReadTags(bad, o.h, 0, &tag, 1, &e));
        EXPECT_EQ(e, ABF_EBADFILEINDEX);
        e = 0;
        EXPECT_FALSE(ABF_Close(bad, &e));
        EXPECT_EQ(e, ABF_EBADFILEINDEX);
        EXPECT_FALSE(ABF_HasData(bad, o.h));
    }
    struct Arg {
        int32_t channel;
        uint32_t episode;
        int32_t error;
    };
    for (const Arg& a :
         {Arg{0, 0, ABF_EEPISODERANGE}, Arg{0, 3, ABF_EEPISODERANGE}, Arg{0, 0xFFFFFFFFu, ABF_EEPISODERANGE},
          Arg{2, 1, ABF_EINVALIDCHANNEL}, Arg{-1, 1, ABF_EINVALIDCHANNEL}, Arg{16, 2, ABF_EINVALIDCHANNEL}}) {
        int32_t e = 0;
        EXPECT_FALSE(ABF_ReadChannel(o.handle, o.h, a.channel, a.episode, buf.data(), &n, &e));
        EXPECT_EQ(e, a.error) << a.channel << " " << a.episode;
        e = 0;
        EXPECT_FALSE(ABF_GetStartTime(o.handle, o.h, a.channel, a.episode, &d, &e));
        EXPECT_EQ(e, a.error);
        if (a.error == ABF_EEPISODERANGE) {
            e = 0;
            EXPECT_FALSE(ABF_GetNumSamples(o.handle, o.h, a.episode, &n, &e));
            EXPECT_EQ(e, ABF_EEPISODERANGE);
        }
    }
    int32_t e = 0;
    EXPECT_FALSE(ABF_ReadTags(o.handle, o.h, 0, &tag, 1, &e));
    EXPECT_EQ(e, ABF_ENOTAGS);
    EXPECT_TRUE(ABF_Close(o.handle, &e));
    EXPECT_FALSE(ABF_Close(o.handle, &e));  // closing twice
    EXPECT_EQ(e, ABF_EBADFILEINDEX);
    EXPECT_FALSE(ABF_ReadChannel(o.handle, o.h, 0, 1, buf.data(), &n, &e));
    EXPECT_EQ(e, ABF_EBADFILEINDEX);
}

TEST(AbfLibraryRules, SeveralFilesOpenAtOnceStaySeparate)
{
    const std::string a = Save(abftest::Write(Episodic(2, {0}, 100, 2)), "a.abf");
    const std::string b = Save(abftest::Write(GapFree(1, {2, 3}, 20000)), "b.abf");
    std::vector<uint8_t> ha(20000), hb(20000);
    int32_t fa = -1, fb = -1, e = 0;
    uint32_t sa = kAbfSampleLimit, sb = kAbfSampleLimit, ea = 0, eb = 0;
    ASSERT_TRUE(ABF_ReadOpen(a.c_str(), &fa, 0, reinterpret_cast<ABFFileHeader*>(ha.data()), &sa, &ea, &e));
    ASSERT_TRUE(ABF_ReadOpen(b.c_str(), &fb, 0, reinterpret_cast<ABFFileHeader*>(hb.data()), &sb, &eb, &e));
    EXPECT_NE(fa, fb);
    EXPECT_EQ(ea, 2u);
    EXPECT_EQ(eb, 2u);
    std::vector<float> buf(kAbfSampleLimit);
    uint32_t n = 0;
    ASSERT_TRUE(ABF_ReadChannel(fb, nullptr, 3, 2, buf.data(), &n, &e));
    EXPECT_EQ(n, 20000u - 16384u);
    EXPECT_EQ(buf[0], Expected(2 * 16384 + 1));
    ASSERT_TRUE(ABF_Close(fa, &e));
    ASSERT_TRUE(ABF_ReadChannel(fb, nullptr, 2, 1, buf.data(), &n, &e));
    EXPECT_EQ(buf[1], Expected(2));
    EXPECT_FALSE(ABF_ReadChannel(fa, nullptr, 0, 1, buf.data(), &n, &e));
    ASSERT_TRUE(ABF_Close(fb, &e));

    // The table of open files is bounded; a full table gives 1003, and closing frees it.
    std::vector<int32_t> handles;
    int32_t h = -1;
    uint32_t s = kAbfSampleLimit, ep = 0;
    while (handles.size() < 1000 &&
           ABF_ReadOpen(a.c_str(), &h, 0, reinterpret_cast<ABFFileHeader*>(ha.data()), &s, &ep, &e))
        handles.push_back(h);
    EXPECT_EQ(e, ABF_TOOMANYFILESOPEN);
    EXPECT_GE(handles.size(), 16u);
    EXPECT_LT(handles.size(), 1000u);
    for (int32_t x : handles) EXPECT_TRUE(ABF_Close(x, &e));
}

TEST(AbfLibraryRules, FilesThatAreNotRecordingsGiveErrorNumbers)
{
    const std::vector<uint8_t> good = abftest::Write(Episodic(2, {0}, 100, 2));
    const std::vector<uint8_t> good1 = abftest::Write(Episodic(1, {0}, 100, 2));
    const size_t kSynchMapEntry = v2::SectionEntryOffset(v2::kSynchArray);
    auto patched = [](std::vector<uint8_t> b, size_t off, int32_t v, size_t width) {
        memcpy(b.data() + off, &v, width);
        return b;
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int32_t openError;
    };
    const Case cases[] = {
        {"empty", {}, ABF_EINVALIDFILE},
        {"text", std::vector<uint8_t>(100, 'x'), ABF_EINVALIDFILE},
        {"big-endian ABF1", patched(good1, v1::lFileSignature.offset, 0x41424620, 4), ABF_EINVALIDFILE},
        {"ABF version 3", patched(good, v2::fileinfo::uFileVersionMajor.offset, 3, 1), ABF_EINVALIDFILE},
        {"ABF1 version 2.5", patched(good1, v1::fFileVersionNumber.offset, 0x40200000, 4), ABF_EINVALIDFILE},
        {"truncated ABF1 header", std::vector<uint8_t>(good1.begin(), good1.begin() + 3000), ABF_EINVALIDFILE},
        {"no channels", patched(good1, v1::nADCNumChannels.offset, 0, 2), ABF_EINVALIDFILE},
        {"17 channels", patched(good1, v1::nADCNumChannels.offset, 17, 2), ABF_EINVALIDFILE},
        {"negative length", patched(good1, v1::lActualAcqLength.offset, -5, 4), ABF_EINVALIDFILE},
        {"data format 7", patched(good1, v1::nDataFormat.offset, 7, 2), ABF_EINVALIDFILE},
        {"unknown mode", patched(good1, v1::nOperationMode.offset, 9, 2), ABF_EINVALIDFILE},
        {"huge synch array", patched(good, kSynchMapEntry + v2::section::llNumEntries.offset, 0x7FFFFFFF, 4),
         ABF_EBADSYNCH},
        {"synch array past the end", patched(good, kSynchMapEntry, 100000, 4), ABF_EBADSYNCH},
        {"shorter synch array", patched(good1, v1::lSynchArraySize.offset, 1, 4), 0},
        {"sweep longer than an episode", patched(good1, v1::lNumSamplesPerEpisode.offset, 50, 4), ABF_EBADSYNCH},
        {"sampling sequence out of range", patched(good1, v1::nADCSamplingSeq.offset, 99, 2), ABF_EINVALIDFILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Opened o = Open(Save(c.bytes, "bad.abf"));
        EXPECT_EQ(o.ok != 0, c.openError == 0);
        if (c.openError) {
            EXPECT_EQ(o.error, c.openError);
        }
        Close(o);
    }
    int32_t fmt = 5, e = 0;
    EXPECT_FALSE(ABF_IsABFFile((fs::current_path() / "no-such-dir" / "x.abf").string().c_str(), &fmt, &e));
    EXPECT_EQ(e, ABF_EOPENFILE);
    EXPECT_EQ(fmt, 5);
    const Opened missing = Open((fs::current_path() / "no-such-dir" / "x.abf").string());
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, ABF_EOPENFILE);
}

TEST(AbfLibraryRules, AFileShorterThanItsDataIsRefused)
{
    // Every sample the header announces must be in the file (no read, buffer or waveform
    // larger than the file justifies).
    std::vector<uint8_t> bytes = abftest::Write(GapFree(2, {0}, 40000));
    const Opened whole = Open(Save(bytes, "whole.abf"));
    EXPECT_TRUE(whole.ok);
    Close(whole);
    bytes.resize(bytes.size() - 40000);  // the last 20000 samples are gone
    const Opened o = Open(Save(bytes, "short.abf"));
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, ABF_EREADDATA);
    Close(o);
}

TEST(AbfLibraryRules, TagsAreReadAsStored)
{
    MinimalFile r = GapFree(1, {0}, 5000);
    r.tags = {{100, "first", 0}, {2500, "second comment", 1}, {4000, "ext", 2}};
    for (int major : {1, 2}) {
        SCOPED_TRACE(major);
        r.abfMajor = major;
        const Opened o = Open(Save(abftest::Write(r), "tags.abf"));
        ASSERT_TRUE(o.ok);
        EXPECT_EQ(+o.h->lNumTagEntries, 3);
        ABFTag tags[4];
        memset(tags, 0x5A, sizeof tags);
        int32_t e = 0;
        ASSERT_TRUE(ABF_ReadTags(o.handle, o.h, 0, tags, 3, &e));
        EXPECT_EQ(tags[1].lTagTime, 2500);
        EXPECT_EQ(std::string(tags[1].sComment, 14), "second comment");
        EXPECT_EQ(tags[2].nTagType, 2);
        EXPECT_EQ(static_cast<unsigned char>(reinterpret_cast<uint8_t*>(&tags[3])[0]), 0x5Au);  // nothing beyond
        ASSERT_TRUE(ABF_ReadTags(o.handle, o.h, 2, tags, 1, &e));
        EXPECT_EQ(tags[0].lTagTime, 4000);
        EXPECT_FALSE(ABF_ReadTags(o.handle, o.h, 1, tags, 3, &e));
        EXPECT_EQ(e, ABF_EREADTAG);
        Close(o);
    }
}

TEST(AbfLibraryRules, ErrorTextsNameTheFileAndStayInTheBuffer)
{
    char text[1100];
    for (int n :
         {1002, 1004, 1005, 1006, 1008, 1009, 1010, 1011, 1012, 1013, 1016, 1017, 1018, 1019, 1020, 1021, 1001, 1003}) {
        memset(text, 'Z', sizeof text);
        ASSERT_TRUE(ABF_BuildErrorText(n, "C:\\data\\cell7.abf", text, 1024)) << n;
        const size_t len = strlen(text);
        EXPECT_GT(len, 10u);
        EXPECT_LE(len, 1023u);
        if (n != 1002 && n != 1003) {
            EXPECT_NE(strstr(text, "cell7.abf"), nullptr) << text;
        }
    }
    for (int n : {0, -1, 7, 1007, 1024, 1500, 9999}) EXPECT_FALSE(ABF_BuildErrorText(n, "x.abf", text, 1024)) << n;
    // A small buffer gets a cut, terminated text and nothing past its end.
    memset(text, 'Z', sizeof text);
    ASSERT_TRUE(ABF_BuildErrorText(1004, "x.abf", text, 12));
    EXPECT_EQ(strlen(text), 11u);
    EXPECT_EQ(text[12], 'Z');
    // A very long name still gives at most 1023 characters.
    const std::string longName(5000, 'n');
    memset(text, 'Z', sizeof text);
    ASSERT_TRUE(ABF_BuildErrorText(1005, longName.c_str(), text, 1024));
    EXPECT_LE(strlen(text), 1023u);
    EXPECT_EQ(text[1024], 'Z');
    EXPECT_FALSE(ABF_BuildErrorText(1005, "x", text, 0));
}

TEST(AbfLibraryRules, InjectedFaultsFailTheChosenCallOnce)
{
    const std::string path = Save(abftest::Write(Episodic(2, {0}, 100, 3)), "fault.abf");
    const Opened o = Open(path);
    ASSERT_TRUE(o.ok);
    std::vector<float> buf(o.samples);
    uint32_t n = 0;
    int32_t e = 0;
    ABFTest_InjectFault(210, ABF_EREADDATA, 1);
    EXPECT_TRUE(ABF_ReadChannel(o.handle, o.h, 0, 1, buf.data(), &n, &e));
    EXPECT_FALSE(ABF_ReadChannel(o.handle, o.h, 0, 1, buf.data(), &n, &e));
    EXPECT_EQ(e, ABF_EREADDATA);
    EXPECT_TRUE(ABF_ReadChannel(o.handle, o.h, 0, 1, buf.data(), &n, &e));
    ABFTest_InjectFault(150, 0, 0);
    EXPECT_FALSE(ABF_HasData(o.handle, o.h));
    EXPECT_TRUE(ABF_HasData(o.handle, o.h));
    ABFTest_InjectFault(340, ABF_EEPISODESIZE, 0);
    ABFTest_InjectFault(0, 0, 0);  // clears it
    EXPECT_TRUE(ABF_GetNumSamples(o.handle, o.h, 1, &n, &e));
    Close(o);
    ABFTest_InjectFault(110, ABF_OUTOFMEMORY, 0);
    const Opened f = Open(path);
    EXPECT_FALSE(f.ok);
    EXPECT_EQ(f.error, ABF_OUTOFMEMORY);
    ABFTest_InjectFault(470, 0, 0);
    char text[64];
    EXPECT_FALSE(ABF_BuildErrorText(1004, "x", text, sizeof text));
}

TEST(AbfLibraryRules, RecordLayoutsAndTheirExtent)
{
    const std::string path = Save(abftest::Write(Episodic(2, {6, 2}, 100, 2)), "layout.abf");
    for (int library : {0, 1}) {
        SCOPED_TRACE(library);
        std::vector<uint8_t> block(40000, 0xCC);
        int32_t h = -1, e = 0;
        uint32_t s = kAbfSampleLimit, ep = 0;
        ABFTest_WriteLibraryRecord(library);
        ASSERT_TRUE(ABF_ReadOpen(path.c_str(), &h, 0, reinterpret_cast<ABFFileHeader*>(block.data()), &s, &ep, &e));
        ABFTest_WriteLibraryRecord(0);
        const size_t size = library ? kAbfLibraryRecordSize : kAbfRecordSize;
        for (size_t i = size; i < block.size(); ++i) ASSERT_EQ(block[i], 0xCC) << "written past the record at " << i;
        if (library) {
            const ABFLibraryHeader* r = reinterpret_cast<const ABFLibraryHeader*>(block.data());
            EXPECT_EQ(+r->nADCSamplingSeq[0], 6);
            EXPECT_FLOAT_EQ(+r->fADCRange, 10.0f);
            EXPECT_EQ(+r->lNumSamplesPerEpisode, 200);
        } else {
            const ABFFileHeader* r = reinterpret_cast<const ABFFileHeader*>(block.data());
            EXPECT_EQ(+r->nADCSamplingSeq[1], 2);
            EXPECT_FLOAT_EQ(+r->fADCRange, 10.0f);
            EXPECT_EQ(std::string(r->sADCUnits[6], 2), "pA");
        }
        ASSERT_TRUE(ABF_Close(h, &e));
    }
}

}  // namespace
