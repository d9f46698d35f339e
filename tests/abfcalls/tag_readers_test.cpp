// The tag readers on recordings the sample writer makes: time and external tags
// interleaved with other kinds, the time scale with and without a synch time unit
// and with one or several channels, files without tags, the destination checks
// and the library's failures.
#include <cmath>
#include <string>
#include <vector>

#include "readers_support.h"

namespace readertest {
namespace {

using kavhost::NullStr;
using kavhost::Str;
using kavhost::WaveArg;

const char* const kTagReaders[] = {"kav_AbfReadTimeTags", "kav_AbfReadExternalTags"};
const int16_t kSelected[] = {0, 2};

abfw::RecordingSpec TaggedRecording(abfw::Format format, int channels, float synchUnit, float interval)
{
    abfw::RecordingSpec rec = GapFreeRecording(channels, 2000);
    rec.format = format;
    rec.dataFormat = format == abfw::Format::Abf1 ? abfw::DataFormat::Int16 : abfw::DataFormat::Float32;
    rec.source = abfw::SignalSource::Synthetic;
    rec.synchTimeUnit = synchUnit;
    rec.sequenceIntervalUs = interval;
    // Kinds 0..5 interleaved; times not in order.
    const int16_t kinds[] = {1, 0, 2, 0, 3, 2, 2, 5, 0, 4, 1, 2};
    int32_t time = 100;
    for (int16_t kind : kinds) {
        abfw::Tag t;
        t.time = time;
        t.type = kind;
        t.comment = "tag " + std::to_string(time);
        rec.tags.push_back(t);
        time = (time * 7 + 250) % 3000;
    }
    return rec;
}

class Tags : public ReaderTest {};

TEST_F(Tags, TimesOfTheSelectedKindInFileOrder)
{
    struct Case {
        abfw::Format format;
        int channels;
        float synchUnit;
        float interval;
    };
    const Case cases[] = {
        {abfw::Format::Abf2, 1, 0.0f, 50.0f},  {abfw::Format::Abf2, 2, 0.0f, 50.0f},
        {abfw::Format::Abf2, 3, 0.0f, 40.0f},  {abfw::Format::Abf2, 1, 10.0f, 50.0f},
        {abfw::Format::Abf2, 2, 12.5f, 80.0f}, {abfw::Format::Abf1, 2, 12.5f, 80.0f},
        {abfw::Format::Abf1, 2, 0.0f, 100.0f}, {abfw::Format::Abf1, 1, 0.0f, 100.0f},
    };
    int n = 0;
    for (const Case& c : cases) {
        const abfw::RecordingSpec rec = TaggedRecording(c.format, c.channels, c.synchUnit, c.interval);
        const std::string path = WriteRecording(rec, "tags" + std::to_string(n++) + ".abf");
        ASSERT_FALSE(path.empty());
        // Seconds per synch count as the writer defines the file's tag times.
        const double perCount = abfw::SynchCountUs(rec) * 1e-6;
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(std::string(kTagReaders[i]) + " file " + std::to_string(n - 1));
            std::vector<double> want;
            for (const abfw::Tag& t : rec.tags)
                if (t.type == kSelected[i]) want.push_back(t.time * perCount);
            for (int type : {int(kWaveFloat32), int(kWaveInt32), int(kWaveFloat64), kWaveInt16 | kWaveUnsigned}) {
                Wave* w = host.MakeWave(type, {1});
                CallResult r = Call(kTagReaders[i], {Str(path), WaveArg(w)});
                ASSERT_EQ(r.status, 0);
                ASSERT_EQ(r.resultNumber, 1.0);
                EXPECT_EQ(w->Type(), kWaveFloat64);
                EXPECT_EQ(w->Dimensions(), 1);
                ASSERT_EQ(w->Points(), static_cast<int32_t>(want.size()));
                for (size_t k = 0; k < want.size(); ++k)
                    EXPECT_NEAR(w->As<double>()[k], want[k], std::fabs(want[k]) * 1e-12) << k;
                EXPECT_EQ(w->modified, 1);
                EXPECT_TRUE(w->note.empty());
                EXPECT_TRUE(w->xunits.empty());
            }
        }
    }
}

// The two-channel ABF1 file with a synch time unit of 12.5 µs: a tag at count
// 1000 lies at 12.5 ms, not at half of it.
TEST_F(Tags, SynchUnitIsNotSharedAmongChannels)
{
    abfw::RecordingSpec rec = TaggedRecording(abfw::Format::Abf1, 2, 12.5f, 80.0f);
    rec.tags.clear();
    abfw::Tag t;
    t.time = 1000;
    t.type = 0;
    rec.tags.push_back(t);
    const std::string path = WriteRecording(rec, "unit.abf");
    ASSERT_FALSE(path.empty());
    Wave* w = host.MakeWave(kWaveFloat64, {3});
    CallResult r = Call("kav_AbfReadTimeTags", {Str(path), WaveArg(w)});
    ASSERT_EQ(r.resultNumber, 1.0);
    ASSERT_EQ(w->Points(), 1);
    EXPECT_DOUBLE_EQ(w->As<double>()[0], 0.0125);
}

TEST_F(Tags, NoTagsOrNoneOfTheKind)
{
    abfw::RecordingSpec none = GapFreeRecording(1, 2000);
    abfw::RecordingSpec comments = GapFreeRecording(1, 2000);
    for (int i = 0; i < 3; ++i) {
        abfw::Tag t;
        t.time = 10 * i;
        t.type = 1;
        comments.tags.push_back(t);
    }
    const std::string pathNone = WriteRecording(none, "notags.abf");
    const std::string pathComments = WriteRecording(comments, "comments.abf");
    ASSERT_FALSE(pathNone.empty());
    ASSERT_FALSE(pathComments.empty());
    ASSERT_EQ(static_cast<int32_t>(OpenDirect(pathNone).header.lNumTagEntries), 0);
    for (const char* name : kTagReaders) {
        for (const std::string& path : {pathNone, pathComments}) {
            Mark();
            // A tag read that would fail shows that the list was not read.
            if (path == pathNone) ABFTest_InjectFault(270, -270, 0);
            Wave* w = host.MakeWave(kWaveFloat32, {5});
            CallResult r = Call(name, {Str(path), WaveArg(w)});
            ABFTest_InjectFault(0, 0, 0);
            EXPECT_EQ(r.status, 0) << name << " " << path;
            EXPECT_EQ(r.resultNumber, 1.0) << name << " " << path;
            EXPECT_EQ(w->Points(), 0);
            EXPECT_EQ(w->Type(), kWaveFloat64);
            EXPECT_EQ(w->modified, 1);
            EXPECT_EQ(LastErr(), kMark);
        }
    }
}

TEST_F(Tags, ChecksBeforeTheFile)
{
    Mark();
    const std::string missing = querytest::ScratchFile("readers_missing.abf");
    struct Case {
        bool nullName;
        int type;  // -1: no wave
        std::vector<int32_t> dims;
        int status;
    };
    const Case cases[] = {
        {true, -1, {1}, 10001},
        {true, kWaveText, {1}, 10001},
        {false, -1, {1}, 10005},
        {false, kWaveText, {3}, 412},
        {false, kWaveFloat32 | kWaveComplex, {3}, 101},
        {false, kWaveInt16 | kWaveComplex, {3}, 101},
        {false, kWaveFloat64, {3, 2}, 10006},
        {false, kWaveInt32, {2, 2, 2}, 10006},
    };
    for (const char* name : kTagReaders) {
        for (const Case& c : cases) {
            Wave* w = c.type < 0 ? nullptr : host.MakeWave(c.type, c.dims);
            CallResult r = Call(name, {c.nullName ? NullStr() : Str(missing), WaveArg(w)});
            EXPECT_EQ(r.status, c.status) << name << " type " << c.type;
            EXPECT_EQ(r.resultNumber, 0.0);
            if (w) {
                EXPECT_EQ(w->Type(), c.type);
                EXPECT_EQ(w->modified, 0);
            }
        }
    }
    EXPECT_EQ(LastErr(), kMark);
    host.FailMessage(78, 999);
    Wave* w = host.MakeWave(kWaveFloat32, {3});
    EXPECT_EQ(Call("kav_AbfReadTimeTags", {Str(missing), WaveArg(w)}).status, 999);
    host.FailMessage(78, 0);
}

TEST_F(Tags, LibraryAndHostFailures)
{
    const std::string path = WriteRecording(TaggedRecording(abfw::Format::Abf2, 1, 0.0f, 50.0f), "tagfail.abf");
    ASSERT_FALSE(path.empty());
    for (const char* name : kTagReaders) {
        SCOPED_TRACE(name);
        // The open and the tag read: result 0, wave untouched, error recorded.
        for (int ordinal : {110, 270}) {
            Wave* w = host.MakeWave(kWaveFloat32, {4});
            ABFTest_InjectFault(ordinal, -ordinal, 0);
            CallResult r = Call(name, {Str(path), WaveArg(w)});
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.resultNumber, 0.0);
            EXPECT_EQ(LastErr(), -ordinal);
            EXPECT_EQ(w->Type(), kWaveFloat32);
            EXPECT_EQ(w->Points(), 4);
        }
        // The wave cannot be changed: the host's code, result 0.
        host.FailMessage(43, 77);
        Wave* v = host.MakeWave(kWaveFloat32, {4});
        CallResult r = Call(name, {Str(path), WaveArg(v)});
        host.FailMessage(43, 0);
        EXPECT_EQ(r.status, 77);
        EXPECT_EQ(r.resultNumber, 0.0);
        EXPECT_EQ(v->modified, 0);
    }
}

// A tag count whose buffer would not fit a 32-bit process: out of memory, the
// list not read, the wave untouched.
TEST_F(Tags, TagCountTooLargeForABuffer)
{
    abfw::RecordingSpec rec = TaggedRecording(abfw::Format::Abf1, 1, 0.0f, 50.0f);
    abfw::Damage::Patch patch;
    patch.section = "";
    patch.offset = 48;  // lNumTagEntries of the ABF1 header
    patch.value = 40000000u;
    patch.width = 4;
    rec.damage.patches.push_back(patch);
    const std::string path = WriteRecording(rec, "hugetags.abf");
    ASSERT_FALSE(path.empty());
    const DirectFile d = OpenDirect(path);
    ASSERT_TRUE(d.ok) << d.error;
    ASSERT_EQ(int32_t{d.header.lNumTagEntries}, 40000000);  // by value: the field is packed
    Mark();
    Wave* w = host.MakeWave(kWaveFloat32, {4});
    CallResult r = Call("kav_AbfReadTimeTags", {Str(path), WaveArg(w)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.resultNumber, 0.0);
    EXPECT_EQ(w->Type(), kWaveFloat32);
    EXPECT_EQ(LastErr(), kMark);
}

}  // namespace
}  // namespace readertest
