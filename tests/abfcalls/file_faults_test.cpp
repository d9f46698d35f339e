// Files that fail, shrink or grow under the reader, through the stand-in host
// (natively, and under Wine as IGOR.exe beside the real plug-in and ABFFIO.dll).
//
// The library's file layer is made to fail at every read a clean call makes
// (ABFTest_InjectReadFault): a read error, a short read, the file cut short or
// grown. Whatever read it strikes, the call either delivers exactly what the clean
// call delivered or fails the way its function prescribes: status 0, numeric result
// 0 (the stimulus reader's result does not show a failed data call; its X units do),
// the library's error recorded with a text naming the file, the wave untouched (the
// channel read: filled up to the failing read, nothing else set), and the host's
// audit clean.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "abffio/writer/abf_writer.h"
#include "fuzz/plugin/plugin_calls.h"
#include "host/host.h"
#include "interface/abffio.h"
#include "query_support.h"

namespace {

using kavhost::Arg;
using kavhost::CallResult;
using kavhost::Num;
using kavhost::Str;
using kavhost::Wave;
using kavhost::WaveArg;

constexpr double kUnwritten = -99999.0;  // no sample of the recordings below
constexpr int32_t kMark = -777;
// The plug-in's statuses for a wave of the wrong length and a file that is not gap-free.
constexpr int kWaveLengthDiffers = 10007;
constexpr int kNotGapFree = 10010;

std::string Write(const abfw::RecordingSpec& rec, const std::string& name)
{
    const std::string path = querytest::ScratchFile(name);
    std::string error;
    EXPECT_TRUE(abfw::WriteAbf(rec, path, &error)) << error;
    return path;
}

// Explicit sample values i * 0.25 - 1000 in multiplexed order.
void Ramp(abfw::RecordingSpec* rec, size_t count)
{
    rec->source = abfw::SignalSource::Values;
    rec->values.resize(count);
    for (size_t i = 0; i < count; ++i) rec->values[i] = static_cast<float>(i) * 0.25f - 1000.0f;
}

// Two channels, gap-free, int16: four reads of up to 16384 samples per channel,
// time and external tags.
abfw::RecordingSpec GapFreeWithTags(int64_t samples)
{
    abfw::RecordingSpec rec = abfw::DefaultRecording();
    rec.dataFormat = abfw::DataFormat::Float32;
    rec.samplesPerChannel = samples;
    Ramp(&rec, static_cast<size_t>(samples) * rec.channels.size());
    rec.tags.clear();
    for (int i = 0; i < 6; ++i) {
        abfw::Tag t;
        t.time = 100 * (i + 1);
        t.type = static_cast<int16_t>(i % 2 ? kAbfExternalTag : kAbfTimeTag);
        t.comment = "tag " + std::to_string(i);
        rec.tags.push_back(t);
    }
    return rec;
}

abfw::RecordingSpec Episodic()
{
    abfw::RecordingSpec rec = abfw::StepProtocolRecording();
    rec.episodes = 3;
    rec.samplesPerEpisode = 1000;
    Ramp(&rec, 3 * 1000 * rec.channels.size());
    return rec;
}

// What a call leaves behind.
struct Outcome {
    CallResult r;
    std::vector<double> values;
    int32_t type = 0;
    std::string note, xunits;
    double xstep = 0;
};

// A call's result and what it left in wave `w` (none: only the result).
Outcome OutcomeOf(CallResult r, const Wave* w)
{
    Outcome o;
    o.r = std::move(r);
    if (w) {
        o.values = w->Values();
        o.type = w->Type();
        o.note = w->note;
        o.xunits = w->xunits;
        o.xstep = w->xstep;
    }
    return o;
}

struct Reader {
    const char* name;
    bool episode;   // channel, episode and wave; else the tag readers' name and wave
    int dataError;  // what the library reports when the data read fails
};
const Reader kChannelRead = {"kav_AbfChannelRead", false, ABF_EREADDATA};
const Reader kEpisodeRead = {"kav_AbfEpisodeRead", true, ABF_EREADDATA};
const Reader kWaveform = {"kav_AbfEpisodeWaveform", true, ABF_EREADDACEPISODE};
const Reader kTimeTags = {"kav_AbfReadTimeTags", false, ABF_EREADTAG};
const Reader kExternalTags = {"kav_AbfReadExternalTags", false, ABF_EREADTAG};

struct Fault {
    int kind;
    int32_t bytes;  // kAbfReadFaultShrink: the file's new end (kHalf: half the file)
    const char* what;
};
constexpr int32_t kHalf = -1;
const Fault kFaults[] = {
    {kAbfReadFaultIoError, 0, "read error"},
    {kAbfReadFaultIoError, 7, "read error after 7 bytes"},
    {kAbfReadFaultShort, 3, "short read"},
    {kAbfReadFaultShrink, 0, "file emptied"},
    {kAbfReadFaultShrink, kHalf, "file cut to half"},
    {kAbfReadFaultGrow, 1 << 20, "file grown"},
};

class ReadFaults : public querytest::QueryTest {
protected:
    void SetUp() override
    {
        querytest::QueryTest::SetUp();
        ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0);
    }
    void TearDown() override
    {
        ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0);
        querytest::QueryTest::TearDown();
    }

    // File reads one call makes.
    int32_t ReadsOf(const std::string& function, const std::vector<Arg>& args)
    {
        const int32_t before = ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0);
        Call(function, args);
        return ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0) - before;
    }

    void MarkLastError()
    {
        ABFTest_InjectFault(110, kMark, 0);
        Call("kav_AbfHasData", {Str(querytest::ScratchFile("faults_mark.abf"))});
        ABFTest_InjectFault(0, 0, 0);
        ASSERT_EQ(LastErr(), kMark);
    }

    // One call on a wave as the caller made it: unwritten samples, no scaling, units
    // or note. The tag readers change their wave's type and length; they get a new one.
    Outcome Run(const Reader& reader, const std::string& path, int32_t channel, int32_t episode, int waveType,
                int32_t points, Wave*& w)
    {
        if (!reader.episode && &reader != &kChannelRead) w = host.MakeWave(waveType, {points});
        for (int32_t i = 0; i < w->Points(); ++i) {
            if (w->Type() == kWaveFloat32)
                w->As<float>()[i] = static_cast<float>(kUnwritten);
            else
                w->As<double>()[i] = kUnwritten;
        }
        w->note.clear();
        w->xunits.clear();
        w->xstep = 1.0;
        CallResult r;
        if (reader.episode)
            r = Call(reader.name, {Str(path), Num(channel), Num(episode), WaveArg(w)});
        else if (&reader == &kChannelRead)
            r = Call(reader.name, {Str(path), Num(channel), WaveArg(w)});
        else
            r = Call(reader.name, {Str(path), WaveArg(w)});
        return OutcomeOf(std::move(r), w);
    }

    // Every fault at every read of one clean call.
    void Sweep(const Reader& reader, const std::string& path, int32_t channel, int32_t episode, int waveType,
               int32_t points, uint32_t samplesPerRead)
    {
        SCOPED_TRACE(std::string(reader.name) + " on " + path);
        Wave* w = host.MakeWave(waveType, {points});
        ASSERT_NE(w, nullptr);
        const int32_t openReads = ReadsOf("kav_AbfChannelCount", {Str(path), kavhost::NumRef(0)});
        ASSERT_GT(openReads, 0);
        const int32_t before = ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0);
        const Outcome clean = Run(reader, path, channel, episode, waveType, points, w);
        const int32_t reads = ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0) - before;
        ASSERT_EQ(clean.r.status, 0);
        ASSERT_EQ(clean.r.resultNumber, 1.0);
        ASSERT_GT(reads, openReads) << "the call reads nothing after the open";
        std::string bytes;
        ASSERT_TRUE(querytest::ReadFile(path, &bytes));

        for (const Fault& fault : kFaults) {
            for (int32_t k = 0; k < reads; ++k) {
                SCOPED_TRACE(std::string(fault.what) + " at read " + std::to_string(k + 1) + " of " +
                             std::to_string(reads) + " (" + std::to_string(openReads) + " by the open)");
                MarkLastError();
                const int32_t arg = fault.bytes == kHalf ? static_cast<int32_t>(bytes.size() / 2) : fault.bytes;
                ABFTest_InjectReadFault(fault.kind, k, arg);
                const Outcome o = Run(reader, path, channel, episode, waveType, points, w);
                ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0);
                Check(reader, fault, k < openReads, clean, o, path, waveType, samplesPerRead);
                if (HasFailure()) return;
            }
        }
    }

    void Check(const Reader& reader, const Fault& fault, bool inOpen, const Outcome& clean, const Outcome& o,
               const std::string& path, int waveType, uint32_t samplesPerRead)
    {
        EXPECT_EQ(o.r.status, 0);
        const bool mustFail = fault.kind != kAbfReadFaultGrow && !(fault.kind == kAbfReadFaultShrink && fault.bytes);
        // The stimulus reader's result does not tell a failed data call (its X units do).
        const bool delivered = &reader == &kWaveform ? o.xunits == "s" : o.r.resultNumber == 1.0;
        if (delivered) {
            // Never success with stale or missing samples.
            EXPECT_FALSE(mustFail) << "the fault went unnoticed";
            EXPECT_EQ(o.values, clean.values);
            EXPECT_EQ(o.note, clean.note);
            EXPECT_EQ(o.xunits, clean.xunits);
            EXPECT_EQ(LastErr(), kMark) << "a successful call recorded an error";
            return;
        }
        // A grown file is read as the open found it.
        EXPECT_TRUE(fault.kind != kAbfReadFaultGrow || inOpen) << "growth after the open made the call fail";
        EXPECT_TRUE(o.r.resultNumber == 0.0 || (&reader == &kWaveform && !inOpen)) << o.r.resultNumber;
        const int error = static_cast<int>(LastErr());
        if (inOpen) {
            const std::set<int> io = {ABF_EOPENFILE, ABF_EREADSYNCH};
            const std::set<int> end = {ABF_EINVALIDFILE, ABF_EREADDATA, ABF_EBADSYNCH};
            if (fault.kind == kAbfReadFaultIoError) {
                EXPECT_TRUE(io.count(error)) << "open error " << error;
            } else if (fault.kind != kAbfReadFaultGrow) {
                // A file cut short while it was opened may fail only at the data read.
                EXPECT_TRUE(end.count(error) || (fault.kind == kAbfReadFaultShrink && error == reader.dataError))
                    << "open error " << error;
            } else {
                EXPECT_NE(error, kMark);
            }
        } else {
            EXPECT_EQ(error, reader.dataError);
        }
        const std::string text = LastErrStr();
        EXPECT_NE(text.find(path), std::string::npos) << "the error text names no file: " << text;
        EXPECT_TRUE(o.note.empty());
        EXPECT_TRUE(o.xunits.empty());
        EXPECT_EQ(o.xstep, 1.0);
        EXPECT_EQ(o.type, waveType) << "the wave's type changed";
        // Untouched, except that a failing channel read keeps the reads before it.
        size_t filled = 0;
        while (filled < o.values.size() && o.values[filled] != kUnwritten) ++filled;
        if (!o.values.empty() && &reader == &kChannelRead) {
            EXPECT_EQ(filled % samplesPerRead, 0u) << "a read delivered part of its samples";
            for (size_t i = 0; i < filled; ++i)
                if (o.values[i] != clean.values[i]) FAIL() << "point " << i << " is not the file's";
        } else {
            EXPECT_EQ(filled, 0u) << "the wave was written";
        }
        for (size_t i = filled; i < o.values.size(); ++i)
            if (o.values[i] != kUnwritten) FAIL() << "point " << i << " written after the failing read";
    }
};

TEST_F(ReadFaults, ChannelRead)
{
    const int64_t samples = 3 * int64_t(kAbfSampleLimit) + 100;
    const std::string path = Write(GapFreeWithTags(samples), "faults_gapfree.abf");
    for (int type : {kWaveFloat32, kWaveFloat64})
        Sweep(kChannelRead, path, 1, 0, type, static_cast<int32_t>(samples), kAbfSampleLimit);
}

TEST_F(ReadFaults, EpisodeRead)
{
    const std::string path = Write(Episodic(), "faults_episodic.abf");
    for (int type : {kWaveFloat32, kWaveFloat64}) Sweep(kEpisodeRead, path, 1, 2, type, 1000, 1000);
}

TEST_F(ReadFaults, TagReaders)
{
    const std::string path = Write(GapFreeWithTags(2000), "faults_tags.abf");
    for (const Reader* r : {&kTimeTags, &kExternalTags}) Sweep(*r, path, 0, 0, kWaveFloat32, 3, 1);
}

// A stimulus waveform stored in the data file (DAC-file sweeps) is read from it.
TEST_F(ReadFaults, StoredStimulusWaveform)
{
    REQUIRE_SHARED("data/abf/171116sh_0015-ATFwaveform.abf");
    const std::string path = querytest::RealFile("171116sh_0015-ATFwaveform.abf");
    CallResult n = Call("kav_AbfSampleCount", {Str(path), Num(1), kavhost::NumRef(0)});
    ASSERT_EQ(n.resultNumber, 1.0);
    const int32_t points = static_cast<int32_t>(n.args[2].number);
    Sweep(kWaveform, path, 0, 1, kWaveFloat32, points, static_cast<uint32_t>(points));
}

// A recording still being written, or replaced, between two calls: each call sees
// the file as its own open finds it.
TEST_F(ReadFaults, FileGrowsOrIsReplacedBetweenCalls)
{
    const std::string path = querytest::ScratchFile("faults_growing.abf");
    const int32_t before = 5000, after = 40000;
    auto total = [&]() {
        CallResult r = Call("kav_AbfTotalSampleCount", {Str(path), kavhost::NumRef(-1)});
        return r.resultNumber == 1.0 ? r.args[1].number : -1.0;
    };
    auto read = [&](int32_t points, double* result) {
        Wave* w = host.MakeWave(kWaveFloat32, {points});
        CallResult r = Call("kav_AbfChannelRead", {Str(path), Num(0), WaveArg(w)});
        *result = r.status ? -r.status : r.resultNumber;
        return w->Values();
    };
    abfw::RecordingSpec rec = GapFreeWithTags(before);
    ASSERT_EQ(Write(rec, "faults_growing.abf"), path);
    EXPECT_EQ(total(), before);
    double result = 0;
    const std::vector<double> first = read(before, &result);
    EXPECT_EQ(result, 1.0);

    // Samples appended, the header not yet rewritten: what the header describes.
    std::string bytes;
    ASSERT_TRUE(querytest::ReadFile(path, &bytes));
    ASSERT_TRUE(querytest::WriteFile(path, bytes + std::string(64 * 1024, '\x5a')));
    EXPECT_EQ(total(), before);
    EXPECT_EQ(read(before, &result), first);
    EXPECT_EQ(result, 1.0);

    // The header rewritten for the longer recording (its first samples unchanged).
    rec = GapFreeWithTags(after);
    ASSERT_EQ(Write(rec, "faults_growing.abf"), path);
    EXPECT_EQ(total(), after);
    read(before, &result);
    EXPECT_EQ(result, -kWaveLengthDiffers) << "a later call kept the old header";
    const std::vector<double> grown = read(after, &result);
    EXPECT_EQ(result, 1.0);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), grown.begin()));

    // Replaced by another recording: simply a new file.
    ASSERT_EQ(Write(Episodic(), "faults_growing.abf"), path);
    CallResult c = Call("kav_AbfEpisodeCount", {Str(path), kavhost::NumRef(0)});
    EXPECT_EQ(c.args[1].number, 3.0);
    read(after, &result);
    EXPECT_EQ(result, -kNotGapFree);

    // Cut short before the next call, then replaced by a file that is no recording.
    ASSERT_EQ(Write(rec, "faults_growing.abf"), path);
    ASSERT_TRUE(querytest::ReadFile(path, &bytes));
    ASSERT_TRUE(querytest::WriteFile(path, bytes.substr(0, bytes.size() / 2)));
    MarkLastError();
    read(after, &result);
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(LastErr(), ABF_EREADDATA);
    EXPECT_EQ(total(), -1.0);
    ASSERT_TRUE(querytest::WriteFile(path, std::string(bytes.size(), '\0')));
    read(after, &result);
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(LastErr(), ABF_EINVALIDFILE);
}

// A close that fails after a call did its work changes nothing of the answer (status,
// result, every output, the wave, what was printed) and records the close's error with
// the library's text: every function that opens a file, from the fuzz target's table.
TEST_F(ReadFaults, AFailedCloseKeepsTheAnswerAndIsRecorded)
{
    using kavfuzz::Shape;
    const std::string gapFree = Write(GapFreeWithTags(2000), "close_gapfree.abf");
    const std::string episodic = Write(abfw::StepProtocolRecording(), "close_episodic.abf");
    const CallResult sweep = Call("kav_AbfSampleCount", {Str(episodic), Num(2), kavhost::NumRef(0)});
    ASSERT_EQ(sweep.resultNumber, 1.0);
    const int32_t sweepPoints = static_cast<int32_t>(sweep.args[2].number);
    int checked = 0;
    for (const kavfuzz::Function& f : kavfuzz::kFunctions) {
        if (std::string(f.name) == "kav_AbfIsAbfFile") continue;  // asks without opening
        SCOPED_TRACE(f.name);
        const bool onGapFree = f.shape == Shape::NameNumWave || f.shape == Shape::NameWave;
        const std::string& path = onGapFree ? gapFree : episodic;
        const auto call = [&](bool failingClose) {
            Wave* w = nullptr;
            std::vector<Arg> args = {Str(path)};
            switch (f.shape) {
            case Shape::Name: break;
            case Shape::NameRef: args.push_back(kavhost::NumRef(-1)); break;
            case Shape::NameNumRef: args.insert(args.end(), {Num(1), kavhost::NumRef(-1)}); break;
            case Shape::NameNumNumRef: args.insert(args.end(), {Num(0), Num(2), kavhost::NumRef(-1)}); break;
            case Shape::NameStrRef: args.push_back(kavhost::StrRef("before")); break;
            case Shape::NameNumWave: args.insert(args.end(), {Num(1), WaveArg(w = host.MakeWave(kWaveFloat32, {2000}))}); break;
            case Shape::NameNumNumWave:
                args.insert(args.end(), {Num(0), Num(2), WaveArg(w = host.MakeWave(kWaveFloat64, {sweepPoints}))});
                break;
            case Shape::NameWave: args.push_back(WaveArg(w = host.MakeWave(kWaveFloat32, {1}))); break;
            }
            if (failingClose) ABFTest_InjectFault(160, ABF_EBADFILEINDEX, 0);
            CallResult r = Call(f.name, args);
            ABFTest_InjectFault(0, 0, 0);
            return OutcomeOf(std::move(r), w);
        };
        MarkLastError();
        const Outcome clean = call(false);
        ASSERT_EQ(clean.r.status, 0);
        ASSERT_EQ(LastErr(), kMark) << "the call fails without the close";
        const Outcome failed = call(true);
        EXPECT_EQ(failed.r.status, clean.r.status);
        EXPECT_EQ(failed.r.resultNumber, clean.r.resultNumber);
        ASSERT_EQ(failed.r.args.size(), clean.r.args.size());
        for (size_t i = 0; i < clean.r.args.size(); ++i) {
            EXPECT_EQ(failed.r.args[i].number, clean.r.args[i].number) << "argument " << i;
            EXPECT_EQ(failed.r.args[i].text, clean.r.args[i].text) << "argument " << i;
        }
        EXPECT_EQ(failed.r.history, clean.r.history);
        EXPECT_EQ(failed.values, clean.values);
        EXPECT_EQ(failed.type, clean.type);
        EXPECT_EQ(failed.note, clean.note);
        EXPECT_EQ(failed.xunits, clean.xunits);
        EXPECT_EQ(failed.xstep, clean.xstep);
        EXPECT_EQ(LastErr(), ABF_EBADFILEINDEX);
        EXPECT_EQ(LastErrStr(), querytest::LibraryErrorText(ABF_EBADFILEINDEX, path));
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(kavfuzz::kFunctionCount) - 1);
}

}  // namespace
