// The real plug-in started by the host: the version handshake, the message
// handler and its function addresses, and the record fallback.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "host/host.h"
#include "interface/abffio.h"
#include "tests/support/library_file.h"
#include "tests/support/shared_data.h"
#if !defined(_WIN32)
#include "platform/platform_hooks.h"
#endif

using namespace kavhost;

namespace {

struct VersionCase {
    const char* name;
    bool answered;
    int32_t answer;
    ProgramFile file;
    std::array<int, 4> program;
    int mainResult;  // 0 accepted, 1 refused
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class Handshake : public ::testing::TestWithParam<VersionCase> {};

TEST_P(Handshake, AcceptsFromVersion500)
{
    const VersionCase& c = GetParam();
    Host h;
    if (c.answered)
        h.AnswerVersion(c.answer);
    else
        h.LeaveVersionUnanswered();
    h.SetProgramFile(c.file);
    if (c.file == ProgramFile::Versioned) h.SetProgramVersion(c.program[0], c.program[1], c.program[2], c.program[3]);
    ASSERT_TRUE(h.Load()) << h.LoadError();
    EXPECT_EQ(h.MainResult(), c.mainResult);
    EXPECT_EQ(h.RecordResult(), c.mainResult == 0 ? 0 : 163);
    EXPECT_TRUE(h.EntryInstalled()) << "the handler is installed also when the host is refused";
    ASSERT_EQ(h.Messages().size(), 1u);
    EXPECT_EQ(h.Messages()[0].message, kMsgHostVersion);
    EXPECT_EQ(h.Messages()[0].itemCount, 1);
    EXPECT_EQ(h.Messages()[0].result, c.answered ? 0 : kHostUnknownMessage);
    EXPECT_TRUE(h.AuditClean()) << h.AuditReport();
}

const std::array<int, 4> kNone{0, 0, 0, 0};
INSTANTIATE_TEST_SUITE_P(
    Versions, Handshake,
    ::testing::Values(VersionCase{"Answered4990", true, 4990, ProgramFile::Versioned, {6, 2, 2, 7}, 1},
                      VersionCase{"Answered4999", true, 4999, ProgramFile::Versioned, {6, 2, 2, 7}, 1},
                      VersionCase{"Answered5000", true, 5000, ProgramFile::Versioned, {4, 9, 9, 0}, 0},
                      VersionCase{"Answered5009", true, 5009, ProgramFile::NoModule, kNone, 0},
                      VersionCase{"Answered6220", true, 6220, ProgramFile::NoModule, kNone, 0},
                      VersionCase{"AnsweredNegative", true, -5000, ProgramFile::Versioned, {6, 2, 2, 7}, 1},
                      VersionCase{"Program6227", false, 0, ProgramFile::Versioned, {6, 2, 2, 7}, 0},
                      VersionCase{"Program4990", false, 0, ProgramFile::Versioned, {4, 9, 9, 0}, 1},
                      VersionCase{"Program5000", false, 0, ProgramFile::Versioned, {5, 0, 0, 0}, 0},
                      VersionCase{"ProgramMinorTen", false, 0, ProgramFile::Versioned, {4, 10, 0, 0}, 0},
                      VersionCase{"ProgramPatchTen", false, 0, ProgramFile::Versioned, {4, 9, 10, 0}, 0},
                      VersionCase{"NoProgramModule", false, 0, ProgramFile::NoModule, kNone, 1},
                      VersionCase{"NoVersionResource", false, 0, ProgramFile::NoVersion, kNone, 1}),
    [](const auto& p) { return std::string(p.param.name); });

class Loaded : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(h.Load()) << h.LoadError();
        ASSERT_TRUE(h.Accepted());
    }
    Host h;
};

TEST(HandshakeDefaults, UnansweredVersionComesFromTheHostProgramItself)
{
    Host h;
    h.LeaveVersionUnanswered();
    ASSERT_TRUE(h.Load()) << h.LoadError();
    EXPECT_TRUE(h.Accepted());
    EXPECT_NE(h.ProgramModule(), nullptr);
}

TEST_F(Loaded, TableHasTheTwentyFiveFunctionsAndTheErrorTexts)
{
    ASSERT_EQ(h.Functions().size(), 25u);
    EXPECT_EQ(h.Functions()[0].name, "kav_AbfLastErr");
    EXPECT_EQ(h.Functions()[24].name, "kav_AbfReadExternalTags");
    EXPECT_EQ(h.Function("kav_AbfStartTime")->params,
              (std::vector<uint16_t>{kParamString, kParamNumber, kParamNumber, kParamNumberRef}));
    EXPECT_EQ(h.ErrorTexts().size(), 10u);
    EXPECT_EQ(h.ErrorText(10001), "Input string is non-existent.");
    EXPECT_EQ(h.ErrorText(10010), "Expecting gap-free data.");
    EXPECT_EQ(h.ErrorText(10011), "");
}

TEST_F(Loaded, OutOfRangeIndexesAnswerNull)
{
    const XopItem garbage = 0x5A5A;
    for (XopItem index : {XopItem{25}, XopItem{-1}, XopItem{1000}, XopItem{INT32_MIN}, XopItem{INT32_MAX}})
        EXPECT_EQ(h.Send(kMsgFunctionAddress, {index}, garbage), 0) << "index " << index;
}

TEST_F(Loaded, AddressesOfTheTableAreDistinct)
{
    std::set<intptr_t> seen;
    int built = 0;
    for (XopItem i = 0; i < 25; ++i) {
        intptr_t a = h.Send(kMsgFunctionAddress, {i}, 0x5A5A);
        EXPECT_NE(a, 0x5A5A) << "index " << i << ": result left untouched";
        if (a == 0) continue;
        ++built;
        EXPECT_TRUE(seen.insert(a).second) << "index " << i << " shares its address";
        EXPECT_EQ(h.Send(kMsgFunctionAddress, {i}), a) << "index " << i << " answers the same every time";
    }
    EXPECT_EQ(built, 25);
}

TEST_F(Loaded, NoItemsMeansFunctionZero)
{
    const intptr_t first = h.Send(kMsgFunctionAddress, {0});
    const intptr_t last = h.Send(kMsgFunctionAddress, {24});
    // The record still holds index 24 in item 0; with no items it must not be read.
    EXPECT_EQ(h.Send(kMsgFunctionAddress, {24}), last);
    const intptr_t none = h.Send(kMsgFunctionAddress, {}, 0x5A5A);
    EXPECT_EQ(none, first);
    EXPECT_NE(first, 0);
    EXPECT_NE(first, last);
}

TEST_F(Loaded, OtherMessagesLeaveResultZero)
{
    for (int16_t m : {int16_t{0}, int16_t{1}, int16_t{2}, int16_t{8}, int16_t{14}, int16_t{16}, int16_t{100},
                      int16_t{238}, int16_t{-1}, int16_t{-15}, int16_t{32767}}) {
        EXPECT_EQ(h.Send(m, {}, 0x5A5A), 0) << "message " << m;
        EXPECT_EQ(h.Send(m, {3, 4, 5}, -7), 0) << "message " << m;
    }
    EXPECT_TRUE(h.Messages().size() == 1u) << "answering sends the host nothing";
}

TEST(Record, FallsBackToTheVersionMessagesItems)
{
    Host h;
    h.SetInitialRecordSize(IORecSizeForItems(0));
    h.LimitRecord(IORecSizeForItems(1));
    ASSERT_TRUE(h.Load()) << h.LoadError();
    EXPECT_TRUE(h.Accepted());
    ASSERT_EQ(h.Messages().size(), 1u);
    EXPECT_EQ(h.Messages()[0].recordSize, IORecSizeForItems(1));
    EXPECT_EQ(h.RecordSize(), IORecSizeForItems(1));
    EXPECT_TRUE(h.AuditClean()) << h.AuditReport();
}

TEST(Record, UngrowableRecordSendsNothingAndFallsBackToTheProgramFile)
{
    for (bool newEnough : {true, false}) {
        Host h;
#if !defined(_WIN32)
        KavPlatformSetDebuggerPresent(1);  // DebugBreak then only counts
#endif
        h.SetInitialRecordSize(IORecSizeForItems(0));
        h.LimitRecord(IORecSizeForItems(0));
        if (newEnough)
            h.SetProgramVersion(6, 2, 2, 7);
        else
            h.SetProgramVersion(4, 9, 9, 0);
        ASSERT_TRUE(h.Load()) << h.LoadError();
        EXPECT_EQ(h.Accepted(), newEnough);
        EXPECT_TRUE(h.Messages().empty()) << "no message fits the record";
        EXPECT_EQ(h.RecordSize(), IORecSizeForItems(0));
        EXPECT_TRUE(h.EntryInstalled());
#if !defined(_WIN32)
        EXPECT_EQ(KavPlatformDebugBreakCount(), 1);
        KavPlatformSetDebuggerPresent(-1);
#endif
        EXPECT_TRUE(h.AuditClean()) << h.AuditReport();
    }
}

// Samples of one channel of a gap-free file, from the file's header.
int32_t ChannelSamples(const std::string& path)
{
    kavtest::LibraryFile f(path);
    if (!f.ok || f.header()->nADCNumChannels <= 0) return -1;
    return f.header()->lActualAcqLength / f.header()->nADCNumChannels;
}

TEST(Record, FiveItemMessageFallsBackToSixtyBytes)
{
    REQUIRE_SHARED("data/abf/16d22006_kim_gapfree.abf");
    const std::string file = kavtest::SharedPath("data/abf/16d22006_kim_gapfree.abf");
    Host h;
    h.SetInitialRecordSize(IORecSizeForItems(0));
    h.LimitRecord(IORecSizeForItems(5));
    ASSERT_TRUE(h.Load()) << h.LoadError();
    ASSERT_NE(h.FunctionAddress(11), nullptr) << "kav_AbfChannelRead has no address";
    const int32_t n = ChannelSamples(file);
    ASSERT_GT(n, 0) << "the ABF library does not read " << file;
    Wave* w = h.MakeWave(kWaveFloat32, {n});
    h.ClearMessages();
    CallResult r = h.Call("kav_AbfChannelRead", {Str(file), Num(0), WaveArg(w)});
    ASSERT_TRUE(r.called) << r.error;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.resultNumber, 1);
    int fiveItemMessages = 0;
    for (auto& m : h.Messages()) {
        EXPECT_EQ(m.recordSize, IORecSizeForItems(m.itemCount)) << "message " << m.message;
        if (m.itemCount == 5) ++fiveItemMessages;
    }
    EXPECT_EQ(fiveItemMessages, 1);  // the scaling
    EXPECT_NE(w->xstep, 1.0);
    EXPECT_TRUE(h.AuditClean()) << h.AuditReport();
}

}  // namespace
