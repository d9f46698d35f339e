// Calls through the host into the test plug-in, whose functions behave well or
// badly on purpose: parameter blocks, results, by-reference values, waves and
// their messages, the history, the ownership audit and fault injection.
#include <gtest/gtest.h>

#include <cstring>

#include "host/host.h"

using namespace kavhost;

namespace {

std::string TestPluginPath()
{
#if defined(_WIN32)
    return ProgramFolder() + "\\host_testplugin.xop";
#else
    return ProgramFolder() + "/host_testplugin.so";
#endif
}

class Calls : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.SetPluginPath(TestPluginPath());
        ASSERT_TRUE(host.Load()) << host.LoadError();
        ASSERT_TRUE(host.Accepted());
    }
    Host host;
};

TEST_F(Calls, StringResultComesBackAndEveryByteSurvives)
{
    std::string all;
    for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
    for (const std::string& s : {std::string("C:\\a\\b.abf"), std::string(), all}) {
        CallResult r = host.Call("t_Echo", {Str(s)});
        ASSERT_TRUE(r.called) << r.error;
        EXPECT_EQ(r.status, 0);
        EXPECT_FALSE(r.resultNull);
        EXPECT_EQ(r.resultString, s);
        EXPECT_TRUE(r.Clean());
    }
    CallResult r = host.Call("t_Echo", {NullStr()});
    EXPECT_TRUE(r.resultNull);
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

TEST_F(Calls, ParametersArriveWhereThePluginLooksForThem)
{
    // (string, number, number, number by reference): the plug-in reads a packed
    // block, last parameter first.
    CallResult r = host.Call("t_Layout", {Str("abcd"), Num(7), Num(3), NumRef(-1)});
    ASSERT_TRUE(r.called) << r.error;
    EXPECT_EQ(r.resultNumber, 4e6 + 7000 + 3);
    ASSERT_EQ(r.args.size(), 4u);
    EXPECT_EQ(r.args[3].number, 4);  // 7 - 3 written through the reference
    EXPECT_EQ(r.args[1].number, 7);
    EXPECT_EQ(r.args[0].text, "abcd");
    r = host.Call("t_Layout", {NullStr(), Num(0.5), Num(-2), NumRef(0)});
    EXPECT_EQ(r.resultNumber, -1e6 + 500 - 2);
    EXPECT_EQ(r.args[3].number, 2.5);
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

TEST_F(Calls, StatusPassesThroughWithItsErrorText)
{
    for (int status : {0, 1, 412, 10001, 10002, 10003}) {
        CallResult r = host.Call("t_Status", {Num(status)});
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.resultNumber, -status);
    }
    EXPECT_EQ(host.ErrorText(10001), "First test error.");
    EXPECT_EQ(host.ErrorText(10002), "Second test error.");
    EXPECT_EQ(host.ErrorText(10003), "");
    EXPECT_EQ(host.ErrorText(412), "");
}

struct FillCase {
    const char* name;
    int type;
    bool direct;
    bool move;
};
void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }

class FillWave : public Calls, public ::testing::WithParamInterface<FillCase> {};

TEST_P(FillWave, DataScalingUnitsNoteAndHistory)
{
    const FillCase& c = GetParam();
    host.SetMoveOnResize(c.move);
    host.SetDirectWaves(c.direct);
    Wave* w = host.MakeWave(c.type, {5});
    host.ClearMessages();
    CallResult r = host.Call("t_Fill", {WaveArg(w), Num(2.25)});
    ASSERT_TRUE(r.called) << r.error;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.resultNumber, 5);
    EXPECT_EQ(w->Values(), std::vector<double>(5, 2.25));
    EXPECT_EQ(w->xstep, 0.5);
    EXPECT_EQ(w->xstart, 2);
    EXPECT_EQ(w->xunits, "s");
    EXPECT_EQ(w->dataunits, "pA");
    EXPECT_EQ(w->note, "sKey=value;");
    EXPECT_EQ(w->modified, 1);
    EXPECT_EQ(r.history, "filled wave\n1\rdone\r");
    EXPECT_EQ(host.HistoryLines(), (std::vector<std::string>{"filled wave\n1", "done"}));
    // The direct path reads the record instead of asking.
    // (Igor64.exe offers no direct waves: the plug-in always asks there.)
    const bool direct = c.direct && kavhost::Host::kOffersDirectWaves;
    for (int m : {34, 35, 37, 78}) EXPECT_EQ(host.CountMessages(m), direct ? 0 : 1) << "message " << m;
    for (int m : {1, 51, 53, 55}) EXPECT_EQ(host.CountMessages(m), 1) << "message " << m;
    EXPECT_EQ(host.CountMessages(8), 2);
    ASSERT_EQ(r.args.size(), 2u);
    EXPECT_EQ(r.args[0].wave, w);
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

INSTANTIATE_TEST_SUITE_P(Modes, FillWave,
                         ::testing::Values(FillCase{"Single", kWaveFloat32, false, false},
                                           FillCase{"Double", kWaveFloat64, false, false},
                                           FillCase{"DirectSingle", kWaveFloat32, true, false},
                                           FillCase{"DirectDoubleMoving", kWaveFloat64, true, true},
                                           FillCase{"SingleMoving", kWaveFloat32, false, true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Calls, WaveChecksSeeTypeAndDimensions)
{
    Wave* twoD = host.MakeWave(kWaveFloat32, {3, 2});
    EXPECT_EQ(host.Call("t_Fill", {WaveArg(twoD), Num(1)}).status, 10006);
    Wave* text = host.MakeWave(kWaveText, {3});
    EXPECT_EQ(host.Call("t_Fill", {WaveArg(text), Num(1)}).status, 10002);
    Wave* cplx = host.MakeWave(kWaveFloat32 | kWaveComplex, {3});
    EXPECT_EQ(host.Call("t_Fill", {WaveArg(cplx), Num(1)}).status, 10002);
    EXPECT_EQ(host.Call("t_Fill", {NullWave(), Num(1)}).status, 10005);
    Wave* cube = host.MakeWave(kWaveInt16, {2, 3, 4});
    CallResult r = host.Call("t_Dims", {WaveArg(cube)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.resultNumber, 3);
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

TEST_F(Calls, DimensionQueryFailsWithTheChosenCode)
{
    Wave* w = host.MakeWave(kWaveFloat64, {4});
    host.FailMessage(kMsgWaveDimensions, 4321);
    CallResult r = host.Call("t_Dims", {WaveArg(w)});
    EXPECT_EQ(r.status, 4321);
    EXPECT_EQ(r.resultNumber, -1) << "the count is not written when the message fails";
    EXPECT_EQ(host.Call("t_Fill", {WaveArg(w), Num(1)}).status, 4321);
    host.FailMessage(kMsgWaveDimensions, 0);
    EXPECT_EQ(host.Call("t_Dims", {WaveArg(w)}).status, 0);
}

TEST_F(Calls, ChangingLengthAndTypeMovesTheData)
{
    for (bool move : {false, true}) {
        host.SetMoveOnResize(move);
        Wave* w = host.MakeWave(kWaveFloat32, {2});
        CallResult r = host.Call("t_Grow", {WaveArg(w), Num(1000)});
        EXPECT_EQ(r.resultNumber, 0);
        EXPECT_EQ(w->Type(), kWaveFloat64);
        EXPECT_EQ(w->Points(), 1000);
        EXPECT_EQ(w->DimSizes()[0], 1000);
        EXPECT_EQ(w->Dimensions(), 1);
        auto v = w->Values();
        ASSERT_EQ(v.size(), 1000u);
        EXPECT_EQ(v[999], 999);
        EXPECT_EQ(w->modified, 1);
    }
    Wave* w = host.MakeWave(kWaveFloat32, {2});
    host.FailMemory(kOpAll, 1);  // the host's own resize is not the plug-in's call
    EXPECT_EQ(host.Call("t_Grow", {WaveArg(w), Num(-1)}).resultNumber, kHostBadPointCount);
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

TEST_F(Calls, ByReferenceStringsNullAndExisting)
{
    CallResult r = host.Call("t_Upper", {Str("abC1"), NullStrRef()});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.args[1].null);
    EXPECT_EQ(r.args[1].text, "ABC1");
    r = host.Call("t_Upper", {Str("xy"), StrRef("a much longer initial text")});
    EXPECT_EQ(r.args[1].text, "XY");
    r = host.Call("t_Upper", {Str(""), StrRef("z")});
    EXPECT_FALSE(r.args[1].null);
    EXPECT_EQ(r.args[1].text, "");
    r = host.Call("t_Upper", {NullStr(), NullStrRef()});
    EXPECT_EQ(r.status, 10001);
    EXPECT_TRUE(r.args[1].null);
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

TEST_F(Calls, AllocationFailuresOnDemand)
{
    host.FailMemory(kOpNew, 1);
    CallResult r = host.Call("t_Upper", {Str("abc"), NullStrRef()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.args[1].null);
    EXPECT_TRUE(r.Clean());
    r = host.Call("t_Upper", {Str("abc"), NullStrRef()});  // only that one call failed
    EXPECT_EQ(r.status, 0);
    host.FailMemory(kOpResize, 1);
    r = host.Call("t_Upper", {Str("abc"), StrRef("")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.args[1].text, "") << "the variable keeps its text";
    host.FailMemory(kOpPtrToHand, 1);
    Wave* w = host.MakeWave(kWaveFloat32, {1});
    EXPECT_EQ(host.Call("t_Fill", {WaveArg(w), Num(1)}).status, 1);
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

struct MisbehaviourCase {
    const char* name;
    const char* function;
    bool move;
    int leaked;
    int doubleReleased;
    int useAfterRelease;
};
void PrintTo(const MisbehaviourCase& c, std::ostream* os) { *os << c.name; }

class Misbehaviour : public Calls, public ::testing::WithParamInterface<MisbehaviourCase> {};

TEST_P(Misbehaviour, IsCaughtByTheAudit)
{
    const MisbehaviourCase& c = GetParam();
    host.SetMoveOnResize(c.move);
    CallResult r = host.Call(c.function, {Str("some text")});
    ASSERT_TRUE(r.called) << r.error;
    EXPECT_EQ(r.leaked, c.leaked);
    EXPECT_EQ(r.doubleReleased, c.doubleReleased);
    EXPECT_EQ(r.useAfterRelease, c.useAfterRelease);
    const bool clean = c.leaked + c.doubleReleased + c.useAfterRelease == 0;
    EXPECT_EQ(r.Clean(), clean);
    EXPECT_EQ(host.AuditClean(), clean) << host.AuditReport();
    if (clean) {
        EXPECT_EQ(host.History(), "some text");
    }
    // A leak is taken back by the host: the next call starts clean.
    CallResult next = host.Call("t_Echo", {Str("x")});
    EXPECT_TRUE(next.Clean());
}

INSTANTIATE_TEST_SUITE_P(Table, Misbehaviour,
                         ::testing::Values(MisbehaviourCase{"Leak", "t_Leak", false, 1, 0, 0},
                                           MisbehaviourCase{"TwiceFree", "t_TwiceFree", false, 0, 1, 0},
                                           MisbehaviourCase{"ReleasedResult", "t_Stale", false, 0, 0, 1},
                                           MisbehaviourCase{"StalePointerInPlace", "t_StaleShrink", false, 0, 0, 0},
                                           MisbehaviourCase{"StalePointerMoved", "t_StaleShrink", true, 0, 0, 1}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Calls, NoteTakesOwnershipOfTheHandle)
{
    Wave* w = host.MakeWave(kWaveFloat32, {1});
    CallResult r = host.Call("t_Note", {WaveArg(w), Str("k=v;")});
    EXPECT_EQ(r.resultNumber, 0);
    EXPECT_EQ(w->note, "k=v;");
    EXPECT_TRUE(r.Clean());
    r = host.Call("t_Note", {WaveArg(w), NullStr()});
    EXPECT_EQ(w->note, "");
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

TEST_F(Calls, NativePathRewrittenInPlace)
{
    CallResult r = host.Call("t_Path", {Str("/tmp/dir/file.abf")});
    ASSERT_TRUE(r.called);
#if defined(_WIN32)
    EXPECT_EQ(r.resultString, "\\tmp\\dir\\file.abf");
#else
    EXPECT_EQ(r.resultString, "/tmp/dir/file.abf");
#endif
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

TEST_F(Calls, RecordFallsBackToTheItemsOfTheMessage)
{
    Host h2;
    h2.SetPluginPath(TestPluginPath());
    h2.SetInitialRecordSize(IORecSizeForItems(0));
    h2.LimitRecord(IORecSizeForItems(5));
    ASSERT_TRUE(h2.Load()) << h2.LoadError();
    ASSERT_TRUE(h2.Accepted());
    ASSERT_FALSE(h2.Messages().empty());
    EXPECT_EQ(h2.Messages()[0].recordSize, IORecSizeForItems(1));  // version message
    Wave* w = h2.MakeWave(kWaveFloat32, {3});
    h2.ClearMessages();
    CallResult r = h2.Call("t_Fill", {WaveArg(w), Num(1)});
    EXPECT_EQ(r.status, 0);
    bool seen = false;
    for (auto& m : h2.Messages())
        if (m.message == kMsgSetWaveScaling) {
            seen = true;
            EXPECT_EQ(m.itemCount, 5);
            EXPECT_EQ(m.recordSize, IORecSizeForItems(5));
        } else {
            EXPECT_EQ(m.recordSize, IORecSizeForItems(m.itemCount)) << "message " << m.message;
        }
    EXPECT_TRUE(seen);
    EXPECT_EQ(w->xstep, 0.5);
    EXPECT_TRUE(h2.AuditClean()) << h2.AuditReport();
}

TEST_F(Calls, MisuseIsReportedNotCalled)
{
    struct {
        const char* function;
        std::vector<Arg> args;
    } cases[] = {
        {"t_Nothing", {}}, {"t_Echo", {}}, {"t_Echo", {Num(1)}}, {"t_Layout", {Str("a"), Num(1), Num(2), Num(3)}},
        {"t_Missing", {}},  // in the table, but no address
    };
    for (auto& c : cases) {
        CallResult r = host.Call(c.function, c.args);
        EXPECT_FALSE(r.called) << c.function;
        EXPECT_FALSE(r.error.empty());
    }
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

}  // namespace
