// Waveform rules on small made-up protocols, with the expected samples worked out
// by hand: the timeline (first holding, epochs, trailing level), per-episode
// increments, inter-episode holding, alternating outputs, presweep trains, every
// epoch shape, user lists, DAC-file sweeps and the failures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "abffio.h"
#include "waveform.h"

namespace {

constexpr float kHold = -70.0f;

// An episodic record: `nch` channels, `samples` per channel, DAC 0 enabled with
// epochs as the waveform source, holding at -70.
ABFLibraryHeader Protocol(int nch, int32_t samples, int32_t episodes = 3)
{
    ABFLibraryHeader h;
    std::memset(&h, 0, sizeof h);
    h.nOperationMode = 5;
    h.nADCNumChannels = static_cast<int16_t>(nch);
    h.lNumSamplesPerEpisode = samples * nch;
    h.lActualEpisodes = episodes;
    h.lEpisodesPerRun = episodes;
    h.fDACRange = 10.0f;
    h.lDACResolution = 32768;
    for (int d = 0; d < 8; ++d) {
        h.fDACScaleFactor[d] = 20.0f;
        h.fDACCalibrationFactor[d] = 1.0f;
    }
    h.nWaveformEnable[0] = 1;
    h.nWaveformSource[0] = 1;
    h.fDACHoldingLevel[0] = kHold;
    return h;
}

struct EpochSpec {
    int16_t type;
    float level;
    int32_t duration;
    float levelInc = 0;
    int32_t durationInc = 0;
    int32_t period = 0;
    int32_t width = 0;
};

void SetEpoch(ABFLibraryHeader& h, int dac, int i, const EpochSpec& e)
{
    h.nEpochType[dac][i] = e.type;
    h.fEpochInitLevel[dac][i] = e.level;
    h.lEpochInitDuration[dac][i] = e.duration;
    h.fEpochLevelInc[dac][i] = e.levelInc;
    h.lEpochDurationInc[dac][i] = e.durationInc;
    h.lEpochPulsePeriod[dac][i] = e.period;
    h.lEpochPulseWidth[dac][i] = e.width;
}

void SetList(ABFLibraryHeader& h, int u, int code, const char* items, bool repeat = false)
{
    h.nULEnable[u] = 1;
    h.nULParamToVary[u] = static_cast<int16_t>(code);
    h.nULRepeat[u] = repeat ? 1 : 0;
    std::strncpy(h.sULParamValueList[u], items, sizeof h.sULParamValueList[u]);
}

// Runs of equal values, concatenated.
std::vector<float> Runs(std::initializer_list<std::pair<float, int>> runs)
{
    std::vector<float> v;
    for (const auto& r : runs) v.insert(v.end(), static_cast<std::size_t>(r.second), r.first);
    return v;
}

int32_t Compute(const ABFLibraryHeader& h, int dac, uint32_t episode, std::vector<float>& out,
                const AbfWaveformFileAccess* file = nullptr)
{
    out.assign(AbfWaveformLength(h), 12345.0f);
    return AbfComputeWaveform(h, dac, episode, out.data(), static_cast<uint32_t>(out.size()), file);
}

struct TimelineCase {
    const char* name;
    std::function<ABFLibraryHeader()> protocol;
    int dac;
    uint32_t episode;
    std::vector<float> want;
};

class WaveformTimeline : public ::testing::TestWithParam<TimelineCase> {};

TEST_P(WaveformTimeline, SamplesAsWorkedOut)
{
    const TimelineCase& c = GetParam();
    std::vector<float> got;
    ASSERT_EQ(Compute(c.protocol(), c.dac, c.episode, got), 0);
    ASSERT_EQ(got.size(), c.want.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_FLOAT_EQ(got[i], c.want[i]) << "sample " << i;
}

ABFLibraryHeader IncrementsProtocol()
{
    ABFLibraryHeader h = Protocol(1, 20);
    SetEpoch(h, 0, 0, {1, -50.0f, 4, 5.0f, 1});
    SetEpoch(h, 0, 1, {0, 99.0f, 3});           // disabled: takes no time
    SetEpoch(h, 0, 2, {1, 10.0f, 0, 0.0f, 2});  // no duration in episode 1
    return h;
}

ABFLibraryHeader InterEpisodeProtocol()
{
    ABFLibraryHeader h = Protocol(1, 128);
    h.nEnableFirstLastHolding = 1;  // 128 / 64 = 2 holding samples
    h.nInterEpisodeLevel[0] = 1;
    SetEpoch(h, 0, 0, {1, -60.0f, 2, 10.0f});
    SetEpoch(h, 0, 1, {1, 20.0f, 0});  // never played, but the last typed epoch
    return h;
}

ABFLibraryHeader AlternatingProtocol()
{
    ABFLibraryHeader h = Protocol(2, 10, 4);
    h.nAlternateDACOutputState = 1;
    h.nWaveformEnable[1] = 1;
    h.nWaveformSource[1] = 1;
    h.fDACHoldingLevel[1] = -20.0f;
    SetEpoch(h, 0, 0, {1, 10.0f, 4});
    SetEpoch(h, 1, 0, {1, 30.0f, 3});
    return h;
}

ABFLibraryHeader PostTrainProtocol(float period)
{
    ABFLibraryHeader h = Protocol(1, 128);
    h.nEnableFirstLastHolding = 1;
    h.nConditEnable[0] = 1;
    h.fPostTrainPeriod[0] = period;
    h.fPostTrainLevel[0] = -90.0f;
    SetEpoch(h, 0, 0, {1, 0.0f, 4});
    return h;
}

ABFLibraryHeader ShapeProtocol(int nch, const EpochSpec& shape, int32_t samples)
{
    ABFLibraryHeader h = Protocol(nch, samples);
    h.fDACHoldingLevel[0] = 0.0f;
    SetEpoch(h, 0, 0, {1, 0.0f, 1});
    SetEpoch(h, 0, 1, shape);
    return h;
}

const TimelineCase kTimelineCases[] = {
    {"StepsFirstEpisode", IncrementsProtocol, 0, 1, Runs({{-50.0f, 4}, {kHold, 16}})},
    // Episode 3: epoch 0 at -50 + 2*5 for 4 + 2*1 samples, epoch 2 now 2*2 long.
    {"StepsThirdEpisodeWithIncrements", IncrementsProtocol, 0, 3, Runs({{-40.0f, 6}, {10.0f, 4}, {kHold, 10}})},
    // 103224 multiplexed samples over 2 channels: 103224 / 64 = 1612 -> 806 per channel.
    {"FirstHoldingIsOneSixtyFourth",
     [] {
         ABFLibraryHeader h = Protocol(2, 51612);
         h.nEnableFirstLastHolding = 1;
         SetEpoch(h, 0, 0, {1, 5.0f, 1000});
         return h;
     },
     0, 1, Runs({{kHold, 806}, {5.0f, 1000}, {kHold, 51612 - 1806}})},
    // 100 / 64 = 1 multiplexed sample, less than one sequence of 4: one sequence.
    {"FirstHoldingAtLeastOneSequence",
     [] {
         ABFLibraryHeader h = Protocol(4, 25);
         h.nEnableFirstLastHolding = 1;
         SetEpoch(h, 0, 0, {1, 5.0f, 3});
         return h;
     },
     0, 1, Runs({{kHold, 1}, {5.0f, 3}, {kHold, 21}})},
    {"InterEpisodeFirstEpisodeHoldsAtHolding", InterEpisodeProtocol, 0, 1,
     Runs({{kHold, 2}, {-60.0f, 2}, {-60.0f, 124}})},
    // Episode 2 starts at the last typed epoch's level of episode 1 (20) and ends
    // at the last played level of episode 2 (-50).
    {"InterEpisodeHoldsPreviousLastLevel", InterEpisodeProtocol, 0, 2,
     Runs({{20.0f, 2}, {-50.0f, 2}, {-50.0f, 124}})},
    {"AlternatingDac0PlaysOddEpisodes", AlternatingProtocol, 0, 3, Runs({{10.0f, 4}, {kHold, 6}})},
    {"AlternatingDac0HoldsOnEvenEpisodes", AlternatingProtocol, 0, 2, Runs({{kHold, 10}})},
    {"AlternatingDac1HoldsOnOddEpisodes", AlternatingProtocol, 1, 1, Runs({{-20.0f, 10}})},
    {"AlternatingDac1PlaysEvenEpisodes", AlternatingProtocol, 1, 4, Runs({{30.0f, 3}, {-20.0f, 7}})},
    {"EpisodesBeyondTheRunHold",
     [] {
         ABFLibraryHeader h = Protocol(1, 8, 3);
         h.lEpisodesPerRun = 2;
         SetEpoch(h, 0, 0, {1, 5.0f, 4});
         return h;
     },
     0, 3, Runs({{kHold, 8}})},
    // The presweep train leaves the output at its post-train level until the
    // epochs; after them the output returns to the holding level.
    {"PostTrainLevelHolds", [] { return PostTrainProtocol(5.0f); }, 0, 1,
     Runs({{-90.0f, 2}, {0.0f, 4}, {kHold, 122}})},
    {"PostTrainWithoutPeriodHoldsAtHolding", [] { return PostTrainProtocol(0.0f); }, 0, 1,
     Runs({{kHold, 2}, {0.0f, 4}, {kHold, 122}})},
    // Shapes start from the previous level 0 and aim at 10 (or -70 below).
    {"PulseTrainWithIncompleteLastPeriod",
     [] {
         ABFLibraryHeader h = Protocol(1, 12);
         SetEpoch(h, 0, 0, {3, 0.0f, 10, 0.0f, 0, 4, 1});
         return h;
     },
     0, 1,
     std::vector<float>{0, kHold, kHold, kHold, 0, kHold, kHold, kHold, 0, kHold, kHold, kHold}},
    {"BiphasicTrainMirrorsAroundStartLevel",
     [] { return ShapeProtocol(1, {7, 10.0f, 8, 0.0f, 0, 4, 2}, 10); }, 0, 1,
     std::vector<float>{0, 10, -10, 0, 0, 10, -10, 0, 0, 0}},
    {"TriangleTrainRisesOverWidthFallsOverRest",
     [] { return ShapeProtocol(1, {4, 10.0f, 8, 0.0f, 0, 4, 2}, 10); }, 0, 1,
     std::vector<float>{0, 0, 5, 10, 5, 0, 5, 10, 5, 0}},
    {"CosineTrainReachesLevelAtHalfPeriod",
     [] { return ShapeProtocol(1, {5, 10.0f, 8, 0.0f, 0, 4, 1}, 10); }, 0, 1,
     std::vector<float>{0, 0, 5, 10, 5, 0, 5, 10, 5, 0}},
    // The ramp's samples are those of the multiplexed ramp at positions 0, nch, ...
    // counted from 1: it ends on the target level.
    {"RampOneChannelEndsOnLevel", [] { return ShapeProtocol(1, {2, 8.0f, 4}, 6); }, 0, 1,
     std::vector<float>{0, 2, 4, 6, 8, 0}},
    {"RampTwoChannelsSamplesPositionZero", [] { return ShapeProtocol(2, {2, 8.0f, 4}, 6); }, 0, 1,
     std::vector<float>{0, 1, 3, 5, 7, 0}},
    // User lists: level of epoch 0 is code 61, duration 111, period 161.
    {"LevelListSkipsEmptyItems",
     [] {
         ABFLibraryHeader h = Protocol(1, 4, 5);
         SetEpoch(h, 0, 0, {1, 99.0f, 2});
         SetList(h, 0, 61, "1, 2,,3");
         return h;
     },
     0, 3, Runs({{3.0f, 2}, {kHold, 2}})},
    {"LevelListKeepsLastItem",
     [] {
         ABFLibraryHeader h = Protocol(1, 4, 5);
         SetEpoch(h, 0, 0, {1, 99.0f, 2});
         SetList(h, 0, 61, "1, 2,,3");
         return h;
     },
     0, 5, Runs({{3.0f, 2}, {kHold, 2}})},
    {"LevelListRepeats",
     [] {
         ABFLibraryHeader h = Protocol(1, 4, 5);
         SetEpoch(h, 0, 0, {1, 99.0f, 2});
         SetList(h, 0, 61, "1, 2,,3", true);
         return h;
     },
     0, 5, Runs({{2.0f, 2}, {kHold, 2}})},
    {"DurationListOnActiveDac",
     [] {
         ABFLibraryHeader h = Protocol(1, 8);
         SetEpoch(h, 0, 0, {1, 5.0f, 2});
         SetList(h, 0, 111, "2, 5");
         return h;
     },
     0, 2, Runs({{5.0f, 5}, {kHold, 3}})},
    {"DurationListIgnoredOffTheActiveDac",
     [] {
         ABFLibraryHeader h = Protocol(1, 8);
         h.nActiveDACChannel = 1;
         SetEpoch(h, 0, 0, {1, 5.0f, 2});
         SetList(h, 0, 111, "2, 5");
         return h;
     },
     0, 2, Runs({{5.0f, 2}, {kHold, 6}})},
    {"PeriodListVariesTrain",
     [] {
         ABFLibraryHeader h = Protocol(1, 6);
         SetEpoch(h, 0, 0, {3, 0.0f, 6, 0.0f, 0, 3, 1});
         SetList(h, 0, 161, "2");
         return h;
     },
     0, 1, std::vector<float>{0, kHold, 0, kHold, 0, kHold}},
    // A list of another DAC leaves this one alone.
    {"LevelListOfOtherDacIgnored",
     [] {
         ABFLibraryHeader h = Protocol(1, 4);
         SetEpoch(h, 0, 0, {1, 7.0f, 2});
         SetList(h, 1, 61, "1");
         return h;
     },
     0, 1, Runs({{7.0f, 2}, {kHold, 2}})},
};

INSTANTIATE_TEST_SUITE_P(Rules, WaveformTimeline, ::testing::ValuesIn(kTimelineCases),
                         [](const ::testing::TestParamInfo<TimelineCase>& param) {
                             return std::string(param.param.name);
                         });

struct FailureCase {
    const char* name;
    std::function<ABFLibraryHeader()> protocol;
    int dac;
    uint32_t episode;
    int capacityShortBy;
    int32_t error;
};

class WaveformFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(WaveformFailure, ErrorNumberAndBufferUntouched)
{
    const FailureCase& c = GetParam();
    const ABFLibraryHeader h = c.protocol();
    std::vector<float> buf(AbfWaveformLength(h) + 4, 12345.0f);
    const uint32_t capacity = static_cast<uint32_t>(static_cast<int>(AbfWaveformLength(h)) - c.capacityShortBy);
    EXPECT_EQ(AbfComputeWaveform(h, c.dac, c.episode, buf.data(), capacity, nullptr), c.error);
    for (std::size_t i = 0; i < buf.size(); ++i) ASSERT_EQ(buf[i], 12345.0f) << "sample " << i;
}

ABFLibraryHeader Simple()
{
    ABFLibraryHeader h = Protocol(1, 8);
    SetEpoch(h, 0, 0, {1, 5.0f, 4});
    return h;
}

const FailureCase kFailureCases[] = {
    {"NotEpisodic", [] { ABFLibraryHeader h = Simple(); h.nOperationMode = 3; return h; }, 0, 1, 0,
     ABF_ENOWAVEFORM},
    {"ChannelBeyondTheDacs", Simple, 8, 1, 0, ABF_ENOWAVEFORM},
    {"NegativeChannel", Simple, -1, 1, 0, ABF_ENOWAVEFORM},
    {"DacWithoutWaveform", Simple, 1, 1, 0, ABF_ENOWAVEFORM},
    {"WaveformDisabled", [] { ABFLibraryHeader h = Simple(); h.nWaveformEnable[0] = 0; return h; }, 0, 1, 0,
     ABF_ENOWAVEFORM},
    {"NoSource", [] { ABFLibraryHeader h = Simple(); h.nWaveformSource[0] = 0; return h; }, 0, 1, 0,
     ABF_ENOWAVEFORM},
    {"UnknownSource", [] { ABFLibraryHeader h = Simple(); h.nWaveformSource[0] = 5; return h; }, 0, 1, 0,
     ABF_EBADWAVEFORM},
    {"EpisodeZero", Simple, 0, 0, 0, ABF_EEPISODERANGE},
    {"EpisodeBeyondTheFile", Simple, 0, 4, 0, ABF_EEPISODERANGE},
    {"EpochsOverrunTheEpisode",
     [] { ABFLibraryHeader h = Simple(); SetEpoch(h, 0, 1, {1, 1.0f, 5}); return h; }, 0, 1, 0,
     ABF_ENOWAVEFORM},
    {"IncrementOverrunsLaterEpisode",
     [] { ABFLibraryHeader h = Simple(); h.lEpochDurationInc[0][0] = 3; return h; }, 0, 3, 0,
     ABF_ENOWAVEFORM},
    {"HugeIncrementDoesNotWrap",
     [] { ABFLibraryHeader h = Simple(); h.lEpochDurationInc[0][0] = 2147483647; return h; }, 0, 3, 0,
     ABF_ENOWAVEFORM},
    {"PulseTrainWithoutPeriod",
     [] { ABFLibraryHeader h = Simple(); SetEpoch(h, 0, 0, {3, 1.0f, 4, 0.0f, 0, 0, 1}); return h; }, 0, 1, 0,
     ABF_EBADWAVEFORM},
    {"PeriodListOfZero",
     [] {
         ABFLibraryHeader h = Simple();
         SetEpoch(h, 0, 0, {7, 1.0f, 4, 0.0f, 0, 4, 2});
         SetList(h, 0, 161, "0");
         return h;
     },
     0, 1, 0, ABF_EBADWAVEFORM},
    {"BufferTooSmall", Simple, 0, 1, 1, ABF_EEPISODESIZE},
    {"DacFileNotStored", [] { ABFLibraryHeader h = Simple(); h.nWaveformSource[0] = 2; return h; }, 0, 1, 0,
     ABF_ENOWAVEFORM},
    {"DacFileWithoutFileAccess",
     [] {
         ABFLibraryHeader h = Simple();
         h.nWaveformSource[0] = 2;
         h.lDACFilePtr[0] = 4;
         h.lDACFileNumEpisodes[0] = 1;
         return h;
     },
     0, 1, 0, ABF_EREADDACEPISODE},
};

INSTANTIATE_TEST_SUITE_P(Rules, WaveformFailure, ::testing::ValuesIn(kFailureCases),
                         [](const ::testing::TestParamInfo<FailureCase>& param) {
                             return std::string(param.param.name);
                         });

// DAC-file sweeps stored in the recording: a fake file that serves counts
// 16384 - sweep*4096 + k and notes where it was read.
struct FakeDacFile {
    uint64_t lastOffset = 0;
    uint32_t lastCount = 0;
    bool fail = false;
    uint64_t sweepBytes = 0;
    uint64_t base = 0;
};

bool FakeRead(void* context, uint64_t offset, uint32_t count, int16_t* out)
{
    auto* f = static_cast<FakeDacFile*>(context);
    f->lastOffset = offset;
    f->lastCount = count;
    if (f->fail) return false;
    const uint64_t sweep = (offset - f->base) / f->sweepBytes;  // from 0
    for (uint32_t k = 0; k < count; ++k) out[k] = static_cast<int16_t>(16384 - static_cast<int>(sweep) * 4096 + static_cast<int>(k));
    return true;
}

ABFLibraryHeader DacFileProtocol()
{
    ABFLibraryHeader h = Protocol(1, 4, 3);
    h.nWaveformSource[0] = 2;
    h.lDACFilePtr[0] = 10;
    h.lDACFileNumEpisodes[0] = 2;
    return h;
}

TEST(WaveformDacFile, StoredSweepOfTheEpisodeInUserUnits)
{
    const ABFLibraryHeader h = DacFileProtocol();
    FakeDacFile file;
    file.base = 10 * 512;
    file.sweepBytes = 4 * 2;
    AbfWaveformFileAccess access{FakeRead, &file};
    std::vector<float> got;
    // 10 V range x 20 units/V over 32768 counts: 0.006103515625 units per count.
    ASSERT_EQ(Compute(h, 0, 1, got, &access), 0);
    EXPECT_EQ(file.lastOffset, 5120u);
    EXPECT_EQ(file.lastCount, 4u);
    EXPECT_EQ(got, (std::vector<float>{100.0f, 100.006103515625f, 100.01220703125f, 100.018310546875f}));
    ASSERT_EQ(Compute(h, 0, 2, got, &access), 0);
    EXPECT_EQ(file.lastOffset, 5128u);
    EXPECT_FLOAT_EQ(got[0], 75.0f);
    // Episodes beyond the stored sweeps replay the last one.
    ASSERT_EQ(Compute(h, 0, 3, got, &access), 0);
    EXPECT_EQ(file.lastOffset, 5128u);
    EXPECT_FLOAT_EQ(got[0], 75.0f);
}

TEST(WaveformDacFile, CalibrationApplied)
{
    ABFLibraryHeader h = DacFileProtocol();
    h.fDACCalibrationFactor[0] = 2.0f;
    h.fDACCalibrationOffset[0] = 8.0f;
    FakeDacFile file;
    file.base = 10 * 512;
    file.sweepBytes = 8;
    AbfWaveformFileAccess access{FakeRead, &file};
    std::vector<float> got;
    ASSERT_EQ(Compute(h, 0, 1, got, &access), 0);
    // 16384 counts x 0.006103515625 x 2 + 0.006103515625 x 8
    EXPECT_EQ(got[0], 200.048828125f);
}

TEST(WaveformDacFile, ReadFailureReportedAndBufferUntouched)
{
    const ABFLibraryHeader h = DacFileProtocol();
    FakeDacFile file;
    file.fail = true;
    AbfWaveformFileAccess access{FakeRead, &file};
    std::vector<float> got;
    EXPECT_EQ(Compute(h, 0, 1, got, &access), ABF_EREADDACEPISODE);
    EXPECT_EQ(got, std::vector<float>(4, 12345.0f));
}

TEST(WaveformLength, PerChannelSamplesOfTheEpisode)
{
    ABFLibraryHeader h = Protocol(3, 7);
    EXPECT_EQ(AbfWaveformLength(h), 7u);
    h.nADCNumChannels = 0;
    EXPECT_EQ(AbfWaveformLength(h), 0u);
}

}  // namespace
