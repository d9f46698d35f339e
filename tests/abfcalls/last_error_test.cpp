// The last-error state as kav_AbfLastErr and kav_AbfLastErrStr report it.
#include <string>

#include "query_support.h"

namespace querytest {
namespace {

using kavhost::NumRef;
using kavhost::Str;

// Runs first in the program (and each test runs in a process of its own under
// CTest), so the plug-in has not recorded anything yet.
TEST_F(QueryTest, BeforeAnyFailureTheNumberIsZeroAndTheTextEmpty)
{
    EXPECT_EQ(LastErr(), 0.0);
    CallResult r = Call("kav_AbfLastErrStr", {});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.resultNull);
    EXPECT_EQ(r.resultString, "");
}

TEST_F(QueryTest, AFailedOpenRecordsTheLibrarysNumberAndText)
{
    const std::string missing = ScratchFile("no-such-recording.abf");
    CallResult r = Call("kav_AbfChannelCount", {Str(missing), NumRef(3)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.resultNumber, 0.0);
    const std::string text = LibraryErrorText(ABF_EOPENFILE, missing);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(LastErr(), ABF_EOPENFILE);
    EXPECT_EQ(LastErrStr(), text);
    // Asking does not clear anything.
    EXPECT_EQ(LastErr(), ABF_EOPENFILE);
    EXPECT_EQ(LastErrStr(), text);
}

// Only a failure replaces the state: a success leaves the earlier failure, and
// a later failure replaces it.
TEST_F(QueryTest, OnlyALaterFailureReplacesTheState)
{
    REQUIRE_SHARED("data/abf/18425108.abf");
    const std::string missing = ScratchFile("gone.abf");
    const std::string empty = ScratchFile("empty.abf");
    ASSERT_TRUE(WriteFile(empty, ""));
    Call("kav_AbfOperationMode", {Str(missing), NumRef(0)});
    const std::string text = LastErrStr();
    CallResult ok = Call("kav_AbfEpisodeCount", {Str(RealFile("18425108.abf")), NumRef(0)});
    EXPECT_EQ(ok.resultNumber, 1.0);
    EXPECT_EQ(LastErr(), ABF_EOPENFILE);
    EXPECT_EQ(LastErrStr(), text);
    Call("kav_AbfOperationMode", {Str(empty), NumRef(0)});
    EXPECT_EQ(LastErr(), ABF_EINVALIDFILE);
    EXPECT_EQ(LastErrStr(), LibraryErrorText(ABF_EINVALIDFILE, empty));
}

TEST_F(QueryTest, NumbersWithoutALibraryTextGetTheUnknownText)
{
    struct Case {
        int32_t error;
        const char* text;
    };
    const Case cases[] = {{-5, "Unknown error number: -5"},
                          {424242, "Unknown error number: 424242"},
                          {-2147483647 - 1, "Unknown error number: -2147483648"}};
    const std::string missing = ScratchFile("unknown-error.abf");
    for (const Case& c : cases) {
        ASSERT_EQ(LibraryErrorText(c.error, missing), "") << "the library knows " << c.error;
        ABFTest_InjectFault(110, c.error, 0);
        CallResult r = Call("kav_AbfHasData", {Str(missing)});
        EXPECT_EQ(r.resultNumber, 0.0);
        EXPECT_EQ(LastErr(), static_cast<double>(c.error));
        EXPECT_EQ(LastErrStr(), c.text);
    }
}

TEST_F(QueryTest, TheTextStringCannotBeMade)
{
    const std::string missing = ScratchFile("for-the-text.abf");
    Call("kav_AbfHasData", {Str(missing)});
    host.FailMemory(kavhost::kOpPtrToHand, 1);
    CallResult r = Call("kav_AbfLastErrStr", {});
    EXPECT_EQ(r.status, kavhost::kHostNoMemory);
    EXPECT_TRUE(r.resultNull);
    host.FailMemory(0, 0);
    EXPECT_EQ(LastErrStr(), LibraryErrorText(ABF_EOPENFILE, missing));
}

}  // namespace
}  // namespace querytest
