// The data readers' checks and failures: the order of the checks that need no
// file, the conversions of channel and episode numbers, length and mode checks
// after the open (the file closed again), library failures injected at each
// call, and the note skipped when its memory cannot be had.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "readers_support.h"

namespace readertest {
namespace {

using kavhost::NullStr;
using kavhost::NullWave;
using kavhost::Num;
using kavhost::Str;
using kavhost::WaveArg;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// The three data readers; the channel reader has no episode.
struct Reader {
    const char* name;
    bool episode;
};
const Reader kReaders[] = {
    {"kav_AbfChannelRead", false},
    {"kav_AbfEpisodeRead", true},
    {"kav_AbfEpisodeWaveform", true},
};

std::vector<Arg> ReaderArgs(const Reader& r, const Arg& file, double channel, double episode, const Arg& wave)
{
    if (r.episode) return {file, Num(channel), Num(episode), wave};
    return {file, Num(channel), wave};
}

// What a destination looks like before a call.
enum class Dest { Null, F32, F64, I32, Text, Complex, TwoD };

class ReaderChecks : public ReaderTest {
protected:
    Wave* Make(Dest d, int32_t points = 10)
    {
        switch (d) {
        case Dest::Null: return nullptr;
        case Dest::F32: return host.MakeWave(kWaveFloat32, {points});
        case Dest::F64: return host.MakeWave(kWaveFloat64, {points});
        case Dest::I32: return host.MakeWave(kWaveInt32, {points});
        case Dest::Text: return host.MakeWave(kWaveText, {points});
        case Dest::Complex: return host.MakeWave(kWaveFloat32 | kWaveComplex, {points});
        case Dest::TwoD: return host.MakeWave(kWaveFloat32, {points, 2});
        }
        return nullptr;
    }
    static void ExpectUntouched(const Wave* w)
    {
        if (!w) return;
        EXPECT_EQ(w->modified, 0);
        EXPECT_EQ(w->xstep, 1.0);
        EXPECT_TRUE(w->note.empty());
        EXPECT_TRUE(w->dataunits.empty());
    }
};

// Checks that need no file, in their order; the file named does not exist, so a
// call that went as far as the open would replace the marked last error.
TEST_F(ReaderChecks, FileFreeChecksComeFirstInTheirOrder)
{
    Mark();
    const std::string missing = querytest::ScratchFile("readers_missing.abf");
    struct Case {
        bool nullName;
        double channel;
        double episode;
        Dest dest;
        int status;         // for the episode readers
        int channelStatus;  // for the channel reader (no episode check)
    };
    const Case cases[] = {
        {true, 99, kNaN, Dest::Null, 10001, 10001},  // a null name wins over everything
        {true, 0, 1, Dest::F32, 10001, 10001},
        {false, 20, kNaN, Dest::Null, 10008, 10008},  // channel before episode and wave
        {false, -1, 1, Dest::F32, 10008, 10008},
        {false, 16, 1, Dest::F32, 10008, 10008},
        {false, 15.5, 1, Dest::F32, 10008, 10008},  // rounds to 16
        {false, -0.6, 1, Dest::F32, 10008, 10008},  // rounds to -1
        {false, kNaN, 1, Dest::F32, 10008, 10008},
        {false, kInf, 1, Dest::F32, 10008, 10008},
        {false, 3e9, 1, Dest::F32, 10008, 10008},    // beyond 32 bits
        {false, 0, -0.6, Dest::Null, 10009, 10005},  // episode before wave
        {false, 0, kNaN, Dest::I32, 10009, 10002},
        {false, 0, -kInf, Dest::I32, 10009, 10002},
        {false, 0, 4294967295.5, Dest::I32, 10009, 10002},
        {false, 0, 1, Dest::Null, 10005, 10005},
        {false, 0, 1, Dest::I32, 10002, 10002},
        {false, 0, 1, Dest::Text, 10002, 10002},
        {false, 0, 1, Dest::Complex, 10002, 10002},
        {false, 0, 1, Dest::TwoD, 10006, 10006},
    };
    for (const Reader& reader : kReaders) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(reader.name) + " channel " + std::to_string(c.channel) + " episode " +
                         std::to_string(c.episode) + " dest " + std::to_string(static_cast<int>(c.dest)));
            Wave* w = Make(c.dest);
            const Arg file = c.nullName ? NullStr() : Str(missing);
            CallResult r = Call(reader.name, ReaderArgs(reader, file, c.channel, c.episode, WaveArg(w)));
            EXPECT_EQ(r.status, reader.episode ? c.status : c.channelStatus);
            EXPECT_EQ(r.resultNumber, 0.0);
            ExpectUntouched(w);
        }
    }
    EXPECT_EQ(LastErr(), kMark);
}

TEST_F(ReaderChecks, DimensionQueryFailureIsTheStatus)
{
    host.FailMessage(78, 4321);
    for (const Reader& reader : kReaders) {
        Wave* w = Make(Dest::F32);
        CallResult r = Call(reader.name, ReaderArgs(reader, Str("x.abf"), 0, 1, WaveArg(w)));
        EXPECT_EQ(r.status, 4321) << reader.name;
        ExpectUntouched(w);
    }
    host.FailMessage(78, 0);
}

abfw::RecordingSpec EpisodicRecording(int episodes, int32_t samples)
{
    abfw::RecordingSpec rec;
    rec.mode = abfw::Mode::Episodic;
    rec.dataFormat = abfw::DataFormat::Float32;
    abfw::Channel ch;
    ch.units = "pA";
    rec.channels = {ch};
    rec.samplesPerEpisode = samples;
    rec.episodes = episodes;
    rec.episodeStartToStartS = 1.0f;
    rec.source = abfw::SignalSource::Values;
    for (int e = 0; e < episodes; ++e)
        for (int32_t i = 0; i < samples; ++i) rec.values.push_back(static_cast<float>(1000 * (e + 1) + i));
    return rec;
}

// Sixteen channels (physical 0 to 15) whose every sample tells its channel and
// episode, gap-free or in five sweeps of 200 samples a second apart.
abfw::RecordingSpec SixteenChannels(bool episodic)
{
    abfw::RecordingSpec rec = episodic ? abfw::StepProtocolRecording() : abfw::DefaultRecording();
    rec.channels.resize(16);
    for (int16_t c = 0; c < 16; ++c) rec.channels[static_cast<size_t>(c)].physical = c;
    rec.tags.clear();
    rec.source = abfw::SignalSource::Values;
    const int episodes = episodic ? 5 : 1;
    if (episodic) {
        rec.samplesPerEpisode = 200;
        rec.episodes = episodes;
        rec.episodeStartToStartS = 1.0f;
    } else {
        rec.samplesPerChannel = 200;
    }
    for (int e = 1; e <= episodes; ++e)
        for (int i = 0; i < 200; ++i)
            for (int c = 0; c < 16; ++c) rec.values.push_back(static_cast<float>(100 * e + c));
    return rec;
}

// Every function that takes a channel or an episode number converts it alike: to the
// nearest integer, halves to the even one; a channel outside 0 to 15 is refused with
// 10008 and an episode outside the 32-bit unsigned range with 10009, before the file is
// opened. A number taken is seen by the call's answer being that of the integer.
TEST_F(ReaderChecks, ChannelAndEpisodeNumbersConvertAlikeInEveryFunction)
{
    const std::string gapFree = WriteRecording(SixteenChannels(false), "sixteen.abf");
    const std::string episodic = WriteRecording(SixteenChannels(true), "sixteen_ep.abf");
    ASSERT_FALSE(gapFree.empty());
    ASSERT_FALSE(episodic.empty());
    struct Function {
        const char* name;
        bool episode;  // takes an episode number (else the channel reader)
        bool wave;     // reads into a wave (else kav_AbfStartTime's number)
    };
    const Function functions[] = {{"kav_AbfStartTime", true, false},
                                  {"kav_AbfChannelRead", false, true},
                                  {"kav_AbfEpisodeRead", true, true},
                                  {"kav_AbfEpisodeWaveform", true, true}};
    struct Case {
        double channel, episode;
        int status;             // 0: taken as the integers below
        double logical, taken;  // the channel and episode the call must act as if given
    };
    const Case cases[] = {
        {2.5, 1, 0, 2, 1},        {3.5, 1, 0, 4, 1},     {-0.5, 1, 0, 0, 1},       {0.49, 1, 0, 0, 1},
        {4.5000001, 1, 0, 5, 1},  {14.5, 1, 0, 14, 1},   {15.4, 1, 0, 15, 1},      {0, 0.6, 0, 0, 1},
        {0, 1.5, 0, 0, 2},        {0, 2.5, 0, 0, 2},     {0, 4.6, 0, 0, 5},        {1, 3.5, 0, 1, 4},
        {0, -0.5, 0, 0, 0},       {0, 6, 0, 0, 6},       {0, 4294967295.4, 0, 0, 4294967295.0},
        {15.5, 1, 10008, 0, 0},   {16, 1, 10008, 0, 0},  {-0.6, 1, 10008, 0, 0},   {2147483647.5, 1, 10008, 0, 0},
        {kNaN, 1, 10008, 0, 0},   {-kInf, 1, 10008, 0, 0}, {15.5, -1, 10008, 0, 0}, {0, -0.6, 10009, 0, 0},
        {0, 4294967295.5, 10009, 0, 0}, {0, kNaN, 10009, 0, 0}, {0, kInf, 10009, 0, 0},
    };
    struct Outcome {
        CallResult r;
        std::vector<double> values;
        std::string note;
    };
    for (const Function& f : functions) {
        const std::string& path = f.episode ? episodic : gapFree;
        const auto call = [&](double channel, double episode) {
            Outcome o;
            Wave* w = f.wave ? host.MakeWave(kWaveFloat32, {200}) : nullptr;
            std::vector<Arg> args = {Str(path), Num(channel)};
            if (f.episode) args.push_back(Num(episode));
            args.push_back(f.wave ? WaveArg(w) : kavhost::NumRef(-1));
            o.r = Call(f.name, args);
            if (w) {
                o.values = w->Values();
                o.note = w->note;
            }
            return o;
        };
        for (const Case& c : cases) {
            if (!f.episode && c.episode != 1) continue;
            SCOPED_TRACE(std::string(f.name) + " channel " + std::to_string(c.channel) + " episode " +
                         std::to_string(c.episode));
            Mark();
            if (c.status) ABFTest_InjectFault(110, -1, 0);  // an open would record -1
            const Outcome got = call(c.channel, c.episode);
            ABFTest_InjectFault(0, 0, 0);
            EXPECT_EQ(got.r.status, c.status);
            if (c.status) {
                EXPECT_EQ(got.r.resultNumber, 0.0);
                if (f.wave)
                    EXPECT_EQ(got.values, std::vector<double>(200, 0.0));
                else
                    EXPECT_EQ(got.r.args.back().number, -1.0);
                EXPECT_EQ(LastErr(), kMark);
                continue;
            }
            const Outcome want = call(c.logical, c.taken);
            EXPECT_EQ(got.r.resultNumber, want.r.resultNumber);
            EXPECT_EQ(got.r.args.back().number, want.r.args.back().number);
            EXPECT_EQ(got.values, want.values);
            EXPECT_EQ(got.note, want.note);
        }
    }
}

// Length and mode checks come after the open; the file is closed again (a close
// made to fail shows in the last-error state).
TEST_F(ReaderChecks, LengthAndModeChecksCloseTheFile)
{
    const std::string gapFree = WriteRecording(GapFreeRecording(2, 1000), "gapfree.abf");
    const std::string episodic = WriteRecording(EpisodicRecording(3, 500), "episodic.abf");
    ASSERT_FALSE(gapFree.empty());
    ASSERT_FALSE(episodic.empty());
    struct Case {
        const char* reader;
        std::string file;
        int32_t points;
        int status;
    };
    const Case cases[] = {
        {"kav_AbfChannelRead", gapFree, 999, 10007},      {"kav_AbfChannelRead", gapFree, 1001, 10007},
        {"kav_AbfChannelRead", gapFree, 2000, 10007},     {"kav_AbfChannelRead", episodic, 1500, 10010},
        {"kav_AbfEpisodeRead", episodic, 499, 10007},     {"kav_AbfEpisodeRead", episodic, 501, 10007},
        {"kav_AbfEpisodeWaveform", episodic, 499, 10007}, {"kav_AbfEpisodeWaveform", episodic, 501, 10007},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.reader) + " " + std::to_string(c.points));
        const bool episode = std::string(c.reader) != "kav_AbfChannelRead";
        for (int type : {kWaveFloat32, kWaveFloat64}) {
            ABFTest_InjectFault(160, -160, 0);
            Wave* w = host.MakeWave(type, {c.points});
            CallResult r = Call(c.reader, ReaderArgs(Reader{c.reader, episode}, Str(c.file), 0, 1, WaveArg(w)));
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(r.resultNumber, 0.0);
            EXPECT_EQ(LastErr(), -160);  // the close was made
            ExpectUntouched(w);
        }
    }
    ABFTest_InjectFault(0, 0, 0);
    // A gap-free file is a file of episodes to the episode readers.
    Wave* w = host.MakeWave(kWaveFloat32, {1000});
    CallResult r = Call("kav_AbfEpisodeRead", {Str(gapFree), Num(1), Num(1), WaveArg(w)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.resultNumber, 1.0);
    EXPECT_EQ(w->As<float>()[999], static_cast<float>(999 * 2 + 1) * 0.25f - 1000.0f);
}

// A read failing at the third episode leaves the first two episodes' samples.
TEST_F(ReaderChecks, ChannelReadFailingAtTheThirdRead)
{
    const int64_t samples = 3 * int64_t(kAbfSampleLimit) + 100;
    const std::string path = WriteRecording(GapFreeRecording(1, samples), "fourreads.abf");
    ASSERT_FALSE(path.empty());
    const DirectFile d = OpenDirect(path);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.episodes, 4u) << "the recording should take four reads";
    for (int type : {kWaveFloat32, kWaveFloat64}) {
        Wave* w = host.MakeWave(type, {static_cast<int32_t>(samples)});
        for (int32_t i = 0; i < w->Points(); ++i) {
            if (type == kWaveFloat32)
                w->As<float>()[i] = -1.0f;
            else
                w->As<double>()[i] = -1.0;
        }
        ABFTest_InjectFault(210, ABF_EREADDATA, 2);
        CallResult r = Call("kav_AbfChannelRead", {Str(path), Num(0), WaveArg(w)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.resultNumber, 0.0);
        EXPECT_EQ(LastErr(), ABF_EREADDATA);
        const std::vector<double> v = w->Values();
        const size_t filled = 2 * kAbfSampleLimit;
        for (size_t i = 0; i < v.size(); ++i) {
            const double want = i < filled ? static_cast<double>(static_cast<float>(i) * 0.25f - 1000.0f) : -1.0;
            if (v[i] != want) FAIL() << "point " << i << ": " << v[i] << " want " << want;
        }
        EXPECT_EQ(w->modified, 0);
        EXPECT_EQ(w->xstep, 1.0);
        EXPECT_TRUE(w->note.empty());
    }
}

// Library failures at each call of the episode readers: nothing delivered but
// what a direct read left, the call's error recorded, status 0.
TEST_F(ReaderChecks, EpisodeReadersWhenTheLibraryFails)
{
    const std::string path = WriteRecording(EpisodicRecording(2, 1000), "fail.abf");
    ASSERT_FALSE(path.empty());
    for (const Reader& reader : kReaders) {
        const int dataCall = reader.episode ? (std::string(reader.name) == "kav_AbfEpisodeWaveform" ? 250 : 210) : 210;
        std::vector<int> ordinals = {110, dataCall};
        if (reader.episode) ordinals.insert(ordinals.end(), {340, 350, 360});
        for (int ordinal : ordinals) {
            for (int type : {kWaveFloat32, kWaveFloat64}) {
                SCOPED_TRACE(std::string(reader.name) + " ordinal " + std::to_string(ordinal));
                const int32_t points = reader.episode ? 1000 : 2000;
                Wave* w = host.MakeWave(type, {points});
                ABFTest_InjectFault(ordinal, -ordinal, 0);
                const std::string file = reader.episode ? path : WriteRecording(GapFreeRecording(1, 2000), "g.abf");
                CallResult r = Call(reader.name, ReaderArgs(reader, Str(file), 0, 1, WaveArg(w)));
                ABFTest_InjectFault(0, 0, 0);
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.resultNumber, 0.0);
                EXPECT_EQ(LastErr(), -ordinal);
                EXPECT_EQ(w->modified, 0);
                EXPECT_EQ(w->xstep, 1.0);
                EXPECT_TRUE(w->note.empty());
            }
        }
    }
}

// No memory for the note: the wave is filled, scaled and given units, no note.
TEST_F(ReaderChecks, NoteSkippedWhenItsHandleCannotBeHad)
{
    const std::string gapFree = WriteRecording(GapFreeRecording(1, 2000), "note.abf");
    const std::string episodic = WriteRecording(EpisodicRecording(1, 2000), "note_ep.abf");
    ASSERT_FALSE(gapFree.empty());
    ASSERT_FALSE(episodic.empty());
    for (const Reader& reader : kReaders) {
        if (std::string(reader.name) == "kav_AbfEpisodeWaveform") continue;  // no note at all
        Wave* w = host.MakeWave(kWaveFloat64, {2000});
        host.FailMemory(kavhost::kOpNew, 1, true);
        CallResult r =
            Call(reader.name, ReaderArgs(reader, Str(reader.episode ? episodic : gapFree), 0, 1, WaveArg(w)));
        host.FailMemory(kavhost::kOpNew, 0);
        EXPECT_EQ(r.status, 0) << reader.name;
        EXPECT_EQ(r.resultNumber, 1.0) << reader.name;
        EXPECT_TRUE(w->note.empty()) << reader.name;
        EXPECT_EQ(w->xunits, "s");
        EXPECT_EQ(w->modified, 1);
        EXPECT_NE(w->As<double>()[1999], 0.0);
    }
}

// A file name long enough to make the note longer than its first handle: the
// note is whole, and the handle is exactly its length.
TEST_F(ReaderChecks, NoteLongerThanItsFirstHandle)
{
    const std::string path = WriteRecording(GapFreeRecording(1, 2000), "longnote.abf");
    ASSERT_FALSE(path.empty());
    const size_t slash = path.find_last_of("/\\");
    std::string longPath = path.substr(0, slash + 1);
    while (longPath.size() < 3900) longPath += std::string(".") + path[slash];
    longPath += path.substr(slash + 1);
    if (!OpenDirect(longPath).ok) GTEST_SKIP() << "this system does not open a path of " << longPath.size();
    Wave* w = host.MakeWave(kWaveFloat32, {2000});
    CallResult r = Call("kav_AbfChannelRead", {Str(longPath), Num(0), WaveArg(w)});
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.resultNumber, 1.0);
    EXPECT_GT(w->note.size(), 4096u);
    auto kv = ParseNote(w->note);
    EXPECT_EQ(kv["sFileName"], longPath);
    EXPECT_EQ(kv["sADCChannelName"], "in0");
    EXPECT_EQ(w->note.find('\0'), std::string::npos);
}

}  // namespace
}  // namespace readertest
