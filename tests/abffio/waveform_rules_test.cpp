// Waveform rules the recordings do not show, on small made-up protocols whose
// samples were worked out by hand: first holding, inter-episode holding,
// alternating outputs, presweep trains, train shapes, user lists, DAC-file sweeps
// and the failures (which leave the buffer alone).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "interface/abffio.h"
#include "abffio/waveform.h"

namespace {

constexpr float H = -70.0f;  // holding level of DAC 0

// Episodic, `nch` channels of `samples` each, 5 episodes; DAC 0 plays its epochs.
ABFLibraryHeader Protocol(int nch, int32_t samples)
{
    ABFLibraryHeader h;
    std::memset(&h, 0, sizeof h);
    h.nOperationMode = 5;
    h.nADCNumChannels = static_cast<int16_t>(nch);
    h.lNumSamplesPerEpisode = samples * nch;
    h.lActualEpisodes = h.lEpisodesPerRun = 5;
    h.fDACRange = 10.0f;
    h.lDACResolution = 32768;
    h.fDACScaleFactor[0] = 20.0f;
    h.fDACCalibrationFactor[0] = 1.0f;
    h.nWaveformEnable[0] = h.nWaveformSource[0] = 1;
    h.fDACHoldingLevel[0] = H;
    return h;
}

// Epoch i of `dac`: type, level, duration, then period and width for trains.
void Epoch(ABFLibraryHeader& h, int i, int16_t type, float level, int32_t duration, int32_t period = 0,
           int32_t width = 0, int dac = 0)
{
    h.nEpochType[dac][i] = type;
    h.fEpochInitLevel[dac][i] = level;
    h.lEpochInitDuration[dac][i] = duration;
    h.lEpochPulsePeriod[dac][i] = period;
    h.lEpochPulseWidth[dac][i] = width;
}

// User list u varying parameter `code` (50 epochs per DAC: level of epoch 0 is 61,
// its duration 111, its period 161).
void List(ABFLibraryHeader& h, int u, int16_t code, const char* items, bool repeat = false)
{
    h.nULEnable[u] = 1;
    h.nULParamToVary[u] = code;
    h.nULRepeat[u] = repeat;
    std::strncpy(h.sULParamValueList[u], items, sizeof h.sULParamValueList[u]);
}

std::vector<float> Runs(std::initializer_list<std::pair<float, int>> runs)
{
    std::vector<float> v;
    for (const auto& r : runs) v.insert(v.end(), static_cast<std::size_t>(r.second), r.first);
    return v;
}

struct Case {
    const char* name;
    std::function<ABFLibraryHeader()> protocol;
    int dac;
    uint32_t episode;
    std::vector<float> want;  // empty: the failure below is expected
    int32_t error = 0;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WaveformRule : public ::testing::TestWithParam<Case> {};

TEST_P(WaveformRule, AsWorkedOut)
{
    const Case& c = GetParam();
    const ABFLibraryHeader h = c.protocol();
    const uint32_t length = AbfWaveformLength(h);
    std::vector<float> got(length + 2, 12345.0f);
    const uint32_t capacity = c.error == ABF_EEPISODESIZE ? length - 1 : length;
    ASSERT_EQ(AbfComputeWaveform(h, c.dac, c.episode, got.data(), capacity, nullptr), c.error);
    if (c.error) {
        EXPECT_EQ(got, std::vector<float>(length + 2, 12345.0f)) << "buffer written on failure";
        return;
    }
    got.resize(length);
    ASSERT_EQ(got.size(), c.want.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_FLOAT_EQ(got[i], c.want[i]) << "sample " << i;
}

ABFLibraryHeader InterEpisode()
{
    ABFLibraryHeader h = Protocol(1, 128);
    h.nEnableFirstLastHolding = 1;  // 128 / 64 = 2 samples
    h.nInterEpisodeLevel[0] = 1;
    Epoch(h, 0, 1, -60.0f, 2);
    h.fEpochLevelInc[0][0] = 10.0f;
    Epoch(h, 1, 1, 20.0f, 0);  // never played, but the last epoch with a type
    return h;
}

ABFLibraryHeader Alternating()
{
    ABFLibraryHeader h = Protocol(2, 10);
    h.nAlternateDACOutputState = 1;
    h.nWaveformEnable[1] = h.nWaveformSource[1] = 1;
    h.fDACHoldingLevel[1] = -20.0f;
    Epoch(h, 0, 1, 10.0f, 4);
    Epoch(h, 0, 1, 30.0f, 3, 0, 0, 1);
    return h;
}

ABFLibraryHeader PostTrain()
{
    ABFLibraryHeader h = Protocol(1, 128);
    h.nEnableFirstLastHolding = 1;
    h.nConditEnable[0] = 1;
    h.fPostTrainPeriod[0] = 5.0f;
    h.fPostTrainLevel[0] = -90.0f;
    Epoch(h, 0, 1, 0.0f, 4);
    return h;
}

// A step to 0 for one sample, then `type` towards 10 over 8 samples, then 0.
std::function<ABFLibraryHeader()> Shape(int16_t type, int32_t period, int32_t width, int nch = 1)
{
    return [=] {
        ABFLibraryHeader h = Protocol(nch, 10);
        h.fDACHoldingLevel[0] = 0.0f;
        Epoch(h, 0, 1, 0.0f, 1);
        Epoch(h, 1, type, 10.0f, 8, period, width);
        return h;
    };
}

std::function<ABFLibraryHeader()> Step(std::function<void(ABFLibraryHeader&)> change)
{
    return [=] {
        ABFLibraryHeader h = Protocol(1, 8);
        Epoch(h, 0, 1, 5.0f, 4);
        change(h);
        return h;
    };
}

const Case kCases[] = {
    // 103224 multiplexed samples over 2 channels: 103224 / 64 = 1612, 806 per channel.
    {"FirstHoldingIsOneSixtyFourth",
     [] {
         ABFLibraryHeader h = Protocol(2, 51612);
         h.nEnableFirstLastHolding = 1;
         Epoch(h, 0, 1, 5.0f, 1000);
         return h;
     },
     0, 1, Runs({{H, 806}, {5.0f, 1000}, {H, 51612 - 1806}})},
    // 100 / 64 = 1 multiplexed sample, less than a sequence of 4: one sequence.
    {"FirstHoldingAtLeastOneSequence",
     [] {
         ABFLibraryHeader h = Protocol(4, 25);
         h.nEnableFirstLastHolding = 1;
         Epoch(h, 0, 1, 5.0f, 3);
         return h;
     },
     0, 1, Runs({{H, 1}, {5.0f, 3}, {H, 21}})},
    {"InterEpisodeFirstEpisode", InterEpisode, 0, 1, Runs({{H, 2}, {-60.0f, 126}})},
    // Starts at the last typed epoch's level of episode 1, ends at its own last level.
    {"InterEpisodeHoldsPreviousLevel", InterEpisode, 0, 2, Runs({{20.0f, 2}, {-50.0f, 126}})},
    {"AlternatingDac0PlaysOdd", Alternating, 0, 3, Runs({{10.0f, 4}, {H, 6}})},
    {"AlternatingDac0HoldsEven", Alternating, 0, 2, Runs({{H, 10}})},
    {"AlternatingDac1HoldsOdd", Alternating, 1, 1, Runs({{-20.0f, 10}})},
    {"AlternatingDac1PlaysEven", Alternating, 1, 4, Runs({{30.0f, 3}, {-20.0f, 7}})},
    {"BeyondTheRunHolds", Step([](ABFLibraryHeader& h) { h.lEpisodesPerRun = 2; }), 0, 3, Runs({{H, 8}})},
    // The post-train level holds before the epochs; afterwards the holding level.
    {"PostTrainLevel", PostTrain, 0, 1, Runs({{-90.0f, 2}, {0.0f, 4}, {H, 122}})},
    {"PulseTrainIncompletePeriod",
     [] {
         ABFLibraryHeader h = Protocol(1, 12);
         Epoch(h, 0, 3, 0.0f, 10, 4, 1);
         return h;
     },
     0,
     1,
     {0, H, H, H, 0, H, H, H, 0, H, H, H}},
    {"BiphasicMirrorsStartLevel", Shape(7, 4, 2), 0, 1, {0, 10, -10, 0, 0, 10, -10, 0, 0, 0}},
    {"TriangleUpOverWidth", Shape(4, 4, 2), 0, 1, {0, 0, 5, 10, 5, 0, 5, 10, 5, 0}},
    {"CosinePeakAtHalfPeriod", Shape(5, 4, 1), 0, 1, {0, 0, 5, 10, 5, 0, 5, 10, 5, 0}},
    // Multiplexed ramp of 16 samples counted from 1: position 0 sees 1/16, 3/16, ...
    {"RampTwoChannels",
     Shape(2, 0, 0, 2),
     0,
     1,
     {0, 0.625f, 1.875f, 3.125f, 4.375f, 5.625f, 6.875f, 8.125f, 9.375f, 0}},
    {"ListKeepsLastItem", Step([](ABFLibraryHeader& h) { List(h, 0, 61, "1, 2,,3"); }), 0, 5,
     Runs({{3.0f, 4}, {H, 4}})},
    {"ListRepeats", Step([](ABFLibraryHeader& h) { List(h, 0, 61, "1, 2,,3", true); }), 0, 5,
     Runs({{2.0f, 4}, {H, 4}})},
    {"DurationListOnActiveDac", Step([](ABFLibraryHeader& h) { List(h, 0, 111, "2, 6"); }), 0, 2,
     Runs({{5.0f, 6}, {H, 2}})},
    {"DurationListOffActiveDac", Step([](ABFLibraryHeader& h) {
         List(h, 0, 111, "2, 6");
         h.nActiveDACChannel = 1;
     }),
     0, 2, Runs({{5.0f, 4}, {H, 4}})},
    {"LevelListOfOtherDac", Step([](ABFLibraryHeader& h) { List(h, 1, 61, "1"); }), 0, 1, Runs({{5.0f, 4}, {H, 4}})},
    {"PeriodList",
     Step([](ABFLibraryHeader& h) {
         Epoch(h, 0, 3, 0.0f, 6, 3, 1);
         List(h, 0, 161, "2");
     }),
     0,
     1,
     {0, H, 0, H, 0, H, H, H}},

    {"NotEpisodic", Step([](ABFLibraryHeader& h) { h.nOperationMode = 3; }), 0, 1, {}, ABF_ENOWAVEFORM},
    {"ChannelBeyondTheDacs", Step([](ABFLibraryHeader&) {}), 8, 1, {}, ABF_ENOWAVEFORM},
    {"DacNotEnabled", Step([](ABFLibraryHeader&) {}), 1, 1, {}, ABF_ENOWAVEFORM},
    {"NoSource", Step([](ABFLibraryHeader& h) { h.nWaveformSource[0] = 0; }), 0, 1, {}, ABF_ENOWAVEFORM},
    {"UnknownSource", Step([](ABFLibraryHeader& h) { h.nWaveformSource[0] = 5; }), 0, 1, {}, ABF_EBADWAVEFORM},
    {"EpisodeZero", Step([](ABFLibraryHeader&) {}), 0, 0, {}, ABF_EEPISODERANGE},
    {"EpisodeBeyondTheFile", Step([](ABFLibraryHeader&) {}), 0, 6, {}, ABF_EEPISODERANGE},
    {"EpochsOverrun", Step([](ABFLibraryHeader& h) { Epoch(h, 1, 1, 1.0f, 5); }), 0, 1, {}, ABF_ENOWAVEFORM},
    {"HugeIncrementDoesNotWrap",
     Step([](ABFLibraryHeader& h) { h.lEpochDurationInc[0][0] = 2147483647; }),
     0,
     3,
     {},
     ABF_ENOWAVEFORM},
    {"TrainWithoutPeriod",
     Step([](ABFLibraryHeader& h) { Epoch(h, 0, 3, 1.0f, 4, 0, 1); }),
     0,
     1,
     {},
     ABF_EBADWAVEFORM},
    {"PeriodListOfZero",
     Step([](ABFLibraryHeader& h) {
         Epoch(h, 0, 7, 1.0f, 4, 4, 2);
         List(h, 0, 161, "0");
     }),
     0,
     1,
     {},
     ABF_EBADWAVEFORM},
    {"BufferTooSmall", Step([](ABFLibraryHeader&) {}), 0, 1, {}, ABF_EEPISODESIZE},
    {"DacFileNotStored", Step([](ABFLibraryHeader& h) { h.nWaveformSource[0] = 2; }), 0, 1, {}, ABF_ENOWAVEFORM},
    {"DacFileWithoutFileAccess",
     Step([](ABFLibraryHeader& h) {
         h.nWaveformSource[0] = 2;
         h.lDACFilePtr[0] = h.lDACFileNumEpisodes[0] = 4;
     }),
     0,
     1,
     {},
     ABF_EREADDACEPISODE},
};

INSTANTIATE_TEST_SUITE_P(Waveform, WaveformRule, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// DAC-file sweeps: a fake file serving counts 16384 - 4096 x sweep + k, sweeps of
// 4 samples from block 10, and noting where it was read.
struct FakeFile {
    uint64_t offset = ~0ull;
    bool fail = false;
};

bool FakeRead(void* context, uint64_t offset, uint32_t count, int16_t* out)
{
    auto* f = static_cast<FakeFile*>(context);
    f->offset = offset;
    const int sweep = static_cast<int>((offset - 5120) / 8);
    for (uint32_t k = 0; k < count; ++k) out[k] = static_cast<int16_t>(16384 - 4096 * sweep + static_cast<int>(k));
    return !f->fail;
}

TEST(WaveformDacFile, StoredSweepInUserUnits)
{
    ABFLibraryHeader h = Protocol(1, 4);
    h.nWaveformSource[0] = 2;
    h.lDACFilePtr[0] = 10;
    h.lDACFileNumEpisodes[0] = 2;
    FakeFile file;
    AbfWaveformFileAccess access{FakeRead, &file};
    std::vector<float> got(4);
    // 10 V x 20 units/V over 32768 counts: 0.006103515625 units per count.
    ASSERT_EQ(AbfComputeWaveform(h, 0, 1, got.data(), 4, &access), 0);
    EXPECT_EQ(file.offset, 5120u);
    EXPECT_EQ(got, (std::vector<float>{100.0f, 100.006103515625f, 100.01220703125f, 100.018310546875f}));
    // Episodes beyond the stored sweeps replay the last one.
    ASSERT_EQ(AbfComputeWaveform(h, 0, 4, got.data(), 4, &access), 0);
    EXPECT_EQ(file.offset, 5128u);
    EXPECT_EQ(got[0], 75.0f);
    // Calibration: 16384 x 0.006103515625 x 2 + 0.006103515625 x 8.
    h.fDACCalibrationFactor[0] = 2.0f;
    h.fDACCalibrationOffset[0] = 8.0f;
    ASSERT_EQ(AbfComputeWaveform(h, 0, 1, got.data(), 4, &access), 0);
    EXPECT_EQ(got[0], 200.048828125f);
    file.fail = true;
    got.assign(4, 1.0f);
    EXPECT_EQ(AbfComputeWaveform(h, 0, 1, got.data(), 4, &access), ABF_EREADDACEPISODE);
    EXPECT_EQ(got, std::vector<float>(4, 1.0f));
}

}  // namespace
