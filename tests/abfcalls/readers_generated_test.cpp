// The data readers on recordings the sample writer makes: values known before the
// library reads them, several channels and reads, sweeps of different lengths,
// and a triangle-train stimulus with a DAC beyond the units table.
#include <string>
#include <vector>

#include "readers_support.h"
#include "tests/support/library_file.h"

namespace readertest {
namespace {

using kavhost::Num;
using kavhost::Str;
using kavhost::WaveArg;

class Generated : public ReaderTest {};

// Three channels over several reads: every channel's values, in order, exactly as
// written, with its own units and name; physical channels 0, 2, 4.
TEST_F(Generated, ChannelsOfAMultiReadGapFreeFile)
{
    const int64_t samples = 2 * int64_t(kAbfSampleLimit) + 777;
    abfw::RecordingSpec rec = GapFreeRecording(3, samples);
    rec.sequenceIntervalUs = 50.0f;
    rec.startDate = 20061231;
    rec.startTimeMS = 50405123;
    const std::string path = WriteRecording(rec, "three.abf");
    ASSERT_FALSE(path.empty());
    ASSERT_GT(OpenDirect(path).episodes, 1u);
    for (int logical = 0; logical < 3; ++logical) {
        for (int type : {kWaveFloat32, kWaveFloat64}) {
            SCOPED_TRACE("channel " + std::to_string(logical) + " type " + std::to_string(type));
            Wave* w = host.MakeWave(type, {static_cast<int32_t>(samples)});
            CallResult r = Call("kav_AbfChannelRead", {Str(path), Num(logical), WaveArg(w)});
            ASSERT_EQ(r.status, 0);
            ASSERT_EQ(r.resultNumber, 1.0);
            const std::vector<double> v = w->Values();
            for (size_t k = 0; k < v.size(); ++k) {
                const double want = rec.values[k * 3 + static_cast<size_t>(logical)];
                if (v[k] != want) FAIL() << "point " << k << ": " << v[k] << " want " << want;
            }
            EXPECT_EQ(w->xstep, 50.0 * 0.000001);
            EXPECT_EQ(w->dataunits, logical % 2 ? "pA" : "mV");
            auto kv = ParseNote(w->note);
            EXPECT_EQ(kv["nADCSamplingSeq"], "0,2,4");
            EXPECT_EQ(kv["iPhysicalChannel"], std::to_string(2 * logical));
            EXPECT_EQ(kv["sADCChannelName"], "in" + std::to_string(logical));
            EXPECT_EQ(kv["fADCSequenceInterval"], "0.000050");
            EXPECT_EQ(kv["sFileStartDate"], "2006-12-31");
            EXPECT_EQ(kv["sFileStartTime"], "14:00 05");
        }
    }
    // A position beyond the channel count is not refused: its entry (0 here) is
    // the channel the library reads.
    Wave* w = host.MakeWave(kWaveFloat32, {static_cast<int32_t>(samples)});
    CallResult r = Call("kav_AbfChannelRead", {Str(path), Num(5), WaveArg(w)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.resultNumber, 1.0);
    EXPECT_EQ(w->As<float>()[1], rec.values[3]);
    auto kv = ParseNote(w->note);
    EXPECT_EQ(kv["iLogicalChannel"], "5");
    EXPECT_EQ(kv["iPhysicalChannel"], "0");
}

// Sweeps of different lengths: the shorter ones go through the scratch buffer and
// only the episode's own samples reach the wave.
TEST_F(Generated, SweepsOfDifferentLengths)
{
    abfw::RecordingSpec rec;
    rec.mode = abfw::Mode::VariableEvents;
    rec.dataFormat = abfw::DataFormat::Float32;
    abfw::Channel a, b;
    a.physical = 1;
    b.physical = 3;
    b.units = "pA";
    rec.channels = {a, b};
    rec.synchTimeUnit = 10.0f;
    rec.episodeLengths = {500, 120, 2000, 1};
    rec.episodeStarts = {0, 10000, 30000, 90000};  // 10 µs counts; no sweeps overlap
    rec.source = abfw::SignalSource::Values;
    std::vector<size_t> first;
    for (int32_t len : rec.episodeLengths) {
        first.push_back(rec.values.size());
        for (int32_t i = 0; i < 2 * len; ++i) rec.values.push_back(static_cast<float>(rec.values.size()) + 0.5f);
    }
    const std::string path = WriteRecording(rec, "events.abf");
    ASSERT_FALSE(path.empty());
    for (size_t e = 0; e < rec.episodeLengths.size(); ++e) {
        const int32_t len = rec.episodeLengths[e];
        for (int logical = 0; logical < 2; ++logical) {
            for (int type : {kWaveFloat32, kWaveFloat64}) {
                SCOPED_TRACE("episode " + std::to_string(e + 1) + " channel " + std::to_string(logical));
                Wave* w = host.MakeWave(type, {len});
                CallResult r = Call("kav_AbfEpisodeRead", {Str(path), Num(logical), Num(double(e + 1)), WaveArg(w)});
                ASSERT_EQ(r.status, 0);
                ASSERT_EQ(r.resultNumber, 1.0);
                const std::vector<double> v = w->Values();
                for (int32_t i = 0; i < len; ++i)
                    ASSERT_EQ(v[size_t(i)], rec.values[first[e] + size_t(2 * i + logical)]) << i;
                auto kv = ParseNote(w->note);
                EXPECT_EQ(std::stod(kv["dStartTime"]),
                          static_cast<double>(rec.episodeStarts[e]) * 10.0 / 1000.0);  // ms
                EXPECT_EQ(w->dataunits, logical ? "pA" : "mV");
            }
        }
    }
}

// A triangle train with per-episode level increments: both precisions equal the
// library's own waveform, with the DAC units and no note.
TEST_F(Generated, TriangleTrainWaveform)
{
    abfw::RecordingSpec rec;
    rec.mode = abfw::Mode::Episodic;
    abfw::Channel ch;
    rec.channels = {ch};
    rec.samplesPerEpisode = 3000;
    rec.episodes = 3;
    rec.episodeStartToStartS = 1.0f;
    abfw::Dac dac;
    dac.units = "mV";
    dac.holding = -70.0f;
    dac.waveformEnable = true;
    abfw::Epoch& e0 = dac.epochs[0];
    e0.type = abfw::kEpochTriangleTrain;
    e0.initLevel = 20.0f;
    e0.levelInc = 5.0f;
    e0.initDuration = 1200;
    e0.durationInc = 100;
    e0.pulsePeriod = 200;
    e0.pulseWidth = 50;
    rec.dacs = {dac};
    const std::string path = WriteRecording(rec, "triangle.abf");
    ASSERT_FALSE(path.empty());

    // The library's answer, asked directly.
    std::vector<std::vector<float>> want(3, std::vector<float>(3000));
    {
        kavtest::LibraryFile f(path);
        ASSERT_TRUE(f.ok) << f.error;
        int32_t error = 0;
        for (uint32_t e = 1; e <= 3; ++e)
            ASSERT_TRUE(ABF_GetWaveform(f.handle, f.header(), 0, e, want[e - 1].data(), &error));
    }
    ASSERT_NE(want[0], want[1]) << "the episodes should differ";

    for (uint32_t e = 1; e <= 3; ++e) {
        for (int type : {kWaveFloat32, kWaveFloat64}) {
            Wave* w = host.MakeWave(type, {3000});
            CallResult r = Call("kav_AbfEpisodeWaveform", {Str(path), Num(0), Num(e), WaveArg(w)});
            ASSERT_EQ(r.status, 0);
            ASSERT_EQ(r.resultNumber, 1.0);
            EXPECT_EQ(WaveFloats(w), want[e - 1]) << e;
            EXPECT_EQ(w->dataunits, "mV");
            EXPECT_EQ(w->xunits, "s");
            EXPECT_TRUE(w->note.empty());
        }
    }
}

}  // namespace
}  // namespace readertest
