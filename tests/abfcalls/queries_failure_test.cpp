// The queries when something fails: null names, inputs the library refuses,
// channel and episode numbers, failures injected into the library and the host's
// memory. Every call is checked for the ownership audit.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "query_support.h"
#include "tests/support/library_file.h"

namespace querytest {
namespace {

using kavhost::NullStr;
using kavhost::NullStrRef;
using kavhost::Num;
using kavhost::NumRef;
using kavhost::Str;
using kavhost::StrRef;

constexpr double kUntouched = -12345.0;
const char kUntouchedText[] = "untouched";
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// The queries that open the file, each with arguments that succeed on a real
// recording, and where its by-reference output is (-1: none).
struct Query {
    const char* name;
    std::vector<Arg> (*args)(const Arg& file);
    int output;
    bool textOutput;
};

const Query kOpeningQueries[] = {
    {"kav_AbfHasData", [](const Arg& f) { return std::vector<Arg>{f}; }, -1, false},
    {"kav_AbfOperationMode",
     [](const Arg& f) {
         return std::vector<Arg>{f, NumRef(kUntouched)};
     },
     1, false},
    {"kav_AbfChannelCount",
     [](const Arg& f) {
         return std::vector<Arg>{f, NumRef(kUntouched)};
     },
     1, false},
    {"kav_AbfEpisodeCount",
     [](const Arg& f) {
         return std::vector<Arg>{f, NumRef(kUntouched)};
     },
     1, false},
    {"kav_AbfSampleCount",
     [](const Arg& f) {
         return std::vector<Arg>{f, Num(1), NumRef(kUntouched)};
     },
     2, false},
    {"kav_AbfTotalSampleCount",
     [](const Arg& f) {
         return std::vector<Arg>{f, NumRef(kUntouched)};
     },
     1, false},
    {"kav_AbfStartTime",
     [](const Arg& f) {
         return std::vector<Arg>{f, Num(1), Num(1), NumRef(kUntouched)};
     },
     3, false},
    {"kav_AbfADCSamplingSeq",
     [](const Arg& f) {
         return std::vector<Arg>{f, StrRef(kUntouchedText)};
     },
     1, true},
};

bool OutputUntouched(const Query& q, const CallResult& r)
{
    if (q.output < 0) return true;
    const kavhost::ArgAfter& a = r.args.at(static_cast<size_t>(q.output));
    return q.textOutput ? (!a.null && a.text == kUntouchedText) : a.number == kUntouched;
}

class QueryFailures : public QueryTest {
protected:
    // Puts a known failure into the last-error state, so that a later check can
    // tell whether anything was recorded since.
    void Mark()
    {
        ABFTest_InjectFault(110, kMark, 0);
        Call("kav_AbfHasData", {Str(ScratchFile("mark.abf"))});
        ASSERT_EQ(LastErr(), kMark);
    }
    static constexpr int32_t kMark = -777;
};

// The library's own answers, asked directly (never while a fault is pending).
struct Direct {
    // Start time of a logical channel's episode: true with *time, or false with *error.
    static bool StartTime(const std::string& path, int logical, uint32_t episode, double* time, int32_t* error)
    {
        kavtest::LibraryFile f(path);
        *error = f.error;
        ABFFileHeader* h = f.header();
        return f.ok && ABF_GetStartTime(f.handle, h, h->nADCSamplingSeq[logical], episode, time, error) != 0;
    }
    static bool NumSamples(const std::string& path, uint32_t episode, uint32_t* count, int32_t* error)
    {
        kavtest::LibraryFile f(path);
        *error = f.error;
        return f.ok && ABF_GetNumSamples(f.handle, f.header(), episode, count, error) != 0;
    }
};

TEST_F(QueryFailures, ANullFileNameIsRefusedBeforeAnythingElse)
{
    Mark();
    ABFTest_InjectFault(110, -1, 0);  // an open would record -1
    ABFTest_InjectFault(140, -1, 0);
    CallResult isAbf = Call("kav_AbfIsAbfFile", {NullStr()});
    EXPECT_EQ(isAbf.status, kErrNullString);
    EXPECT_EQ(isAbf.resultNumber, 0.0);
    for (const Query& q : kOpeningQueries) {
        SCOPED_TRACE(q.name);
        CallResult r = Call(q.name, q.args(NullStr()));
        EXPECT_EQ(r.status, kErrNullString);
        EXPECT_EQ(r.resultNumber, 0.0);
        EXPECT_TRUE(OutputUntouched(q, r));
    }
    // Before the channel and episode checks too.
    CallResult t = Call("kav_AbfStartTime", {NullStr(), Num(99), Num(-1), NumRef(kUntouched)});
    EXPECT_EQ(t.status, kErrNullString);
    ABFTest_InjectFault(0, 0, 0);
    EXPECT_EQ(LastErr(), kMark);
}

// Inputs the library cannot open, as the recorded answers list them; a failed
// open is not followed by a close.
TEST_F(QueryFailures, InputsTheLibraryRefuses)
{
    REQUIRE_SHARED("data/golden");
    struct Input {
        const char* stem;
        std::string bytes;
        bool made;
    };
    std::vector<Input> inputs = {
        {"missing", "", false}, {"empty", "", true}, {"text", std::string(63, 'x') + "\n", true}};
    std::string abf1, abf2;
    ASSERT_TRUE(ReadFile(RealFile("05210017_vc_abf1.abf"), &abf1));
    ASSERT_TRUE(ReadFile(RealFile("18425108.abf"), &abf2));
    inputs.push_back({"trunc600-abf1", abf1.substr(0, 600), true});
    inputs.push_back({"trunc600-abf2", abf2.substr(0, 600), true});
    inputs.push_back({"trunchalf-abf1", abf1.substr(0, abf1.size() / 2), true});
    inputs.push_back({"trunchalf-abf2", abf2.substr(0, abf2.size() / 2), true});
    for (const Input& in : inputs) {
        SCOPED_TRACE(in.stem);
        Golden g = GoldenFor(in.stem);
        ASSERT_FALSE(g.json.is_null()) << "no recorded answer for " << in.stem;
        ASSERT_EQ(abfcompare::Int(g.json, "file_size"), in.made ? static_cast<long long>(in.bytes.size()) : -1);
        const std::string path = ScratchFile(std::string(in.stem) + ".abf");
        std::remove(path.c_str());
        if (in.made) {
            ASSERT_TRUE(WriteFile(path, in.bytes));
        }
        const int32_t openError = static_cast<int32_t>(abfcompare::Int(g.json, "ord110/error"));
        ASSERT_EQ(abfcompare::Int(g.json, "ord110/ok"), 0);
        for (const Query& q : kOpeningQueries) {
            SCOPED_TRACE(q.name);
            Mark();
            ABFTest_InjectFault(160, 4343, 0);  // a close after the failed open would record 4343
            CallResult r = Call(q.name, q.args(Str(path)));
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.resultNumber, 0.0);
            EXPECT_TRUE(OutputUntouched(q, r));
            EXPECT_EQ(LastErr(), openError);
        }
        Mark();
        CallResult r = Call("kav_AbfIsAbfFile", {Str(path)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.resultNumber, abfcompare::Number(g.json, "ord140/ok"));
        EXPECT_EQ(LastErr(), abfcompare::Int(g.json, "ord140/ok") ? kMark : abfcompare::Number(g.json, "ord140/error"));
    }
}

TEST_F(QueryFailures, AFailedQueryFollowedByAFailedCloseKeepsTheClosesError)
{
    REQUIRE_SHARED("data/abf/05210017_vc_abf1.abf");
    const std::string path = RealFile("05210017_vc_abf1.abf");
    struct Case {
        const Query* query;
        int32_t queryOrdinal;
        int32_t queryError;
    };
    const Case cases[] = {{&kOpeningQueries[4], 340, ABF_EEPISODERANGE},
                          {&kOpeningQueries[6], 350, ABF_EINVALIDCHANNEL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query->name);
        // The query's failure alone.
        ABFTest_InjectFault(c.queryOrdinal, c.queryError, 0);
        CallResult alone = Call(c.query->name, c.query->args(Str(path)));
        EXPECT_EQ(alone.resultNumber, 0.0);
        EXPECT_TRUE(OutputUntouched(*c.query, alone));
        EXPECT_EQ(LastErr(), c.queryError);
        EXPECT_EQ(LastErrStr(), LibraryErrorText(c.queryError, path));
        // Then with the close failing too: the close's error wins.
        ABFTest_InjectFault(c.queryOrdinal, c.queryError, 0);
        ABFTest_InjectFault(160, 4242, 0);
        CallResult both = Call(c.query->name, c.query->args(Str(path)));
        EXPECT_EQ(both.status, 0);
        EXPECT_EQ(both.resultNumber, 0.0);
        EXPECT_TRUE(OutputUntouched(*c.query, both));
        EXPECT_EQ(LastErr(), 4242);
        EXPECT_EQ(LastErrStr(), "Unknown error number: 4242");
    }
}

TEST_F(QueryFailures, ANameThatCannotBeTerminatedOpensNothing)
{
    REQUIRE_SHARED("data/abf/18425108.abf");
    const std::string path = RealFile("18425108.abf");
    Mark();
    ABFTest_InjectFault(110, -1, 0);
    ABFTest_InjectFault(140, -1, 0);
    std::vector<Query> all(std::begin(kOpeningQueries), std::end(kOpeningQueries));
    all.push_back({"kav_AbfIsAbfFile", [](const Arg& f) { return std::vector<Arg>{f}; }, -1, false});
    for (const Query& q : all) {
        SCOPED_TRACE(q.name);
        host.FailMemory(kavhost::kOpResize, 1);
        CallResult r = Call(q.name, q.args(Str(path)));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.resultNumber, 0.0);
        EXPECT_TRUE(OutputUntouched(q, r));
    }
    host.FailMemory(0, 0);
    ABFTest_InjectFault(0, 0, 0);
    EXPECT_EQ(LastErr(), kMark);
}

TEST_F(QueryFailures, StartTimeTakesTheChannelFromTheWholeSequence)
{
    REQUIRE_SHARED("data/abf");
    // Two channels sampled; positions 2 and 3 are still taken from the sequence
    // and the library judges the physical channel found there.
    for (const char* name : {"05210017_vc_abf1.abf", "190619B_0003.abf"}) {
        const std::string path = RealFile(name);
        for (int logical : {0, 1, 2, 3, 15}) {
            SCOPED_TRACE(std::string(name) + ", channel " + std::to_string(logical));
            double expectedTime = 0;
            int32_t expectedError = 0;
            const bool ok = Direct::StartTime(path, logical, 2, &expectedTime, &expectedError);
            Mark();
            CallResult r = Call("kav_AbfStartTime", {Str(path), Num(logical), Num(2), NumRef(kUntouched)});
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.resultNumber, ok ? 1.0 : 0.0);
            EXPECT_EQ(r.args[3].number, ok ? expectedTime : kUntouched);
            EXPECT_EQ(LastErr(), ok ? kMark : expectedError);
        }
    }
}

TEST_F(QueryFailures, SampleCountEpisodeIsTruncatedAndPassedUnchecked)
{
    REQUIRE_SHARED("data/abf/05210017_vc_abf1.abf");
    const std::string path = RealFile("05210017_vc_abf1.abf");  // six episodes
    struct Case {
        double episode;
        uint32_t passed;  // what the library is asked about
    };
    const Case cases[] = {{1, 1},
                          {2.9, 2},
                          {6.99, 6},
                          {7, 7},
                          {-0.9, 0},
                          {0, 0},
                          {-1, 4294967295u},
                          {-2.7, 4294967294u},
                          {4294967297.0, 1},
                          {4294967296.0 * 3 + 5, 5},
                          {kNaN, 0},
                          {kInf, 0},
                          {-kInf, 0},
                          {1e300, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE("episode " + std::to_string(c.episode));
        uint32_t expected = 0;
        int32_t error = 0;
        const bool ok = Direct::NumSamples(path, c.passed, &expected, &error);
        Mark();
        CallResult r = Call("kav_AbfSampleCount", {Str(path), Num(c.episode), NumRef(kUntouched)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.resultNumber, ok ? 1.0 : 0.0);
        EXPECT_EQ(r.args[2].number, ok ? static_cast<double>(expected) : kUntouched);
        EXPECT_EQ(LastErr(), ok ? kMark : error);
    }
}

TEST_F(QueryFailures, SamplingSequenceStringVariable)
{
    REQUIRE_SHARED("data/abf/190619B_0003.abf");
    const std::string path = RealFile("190619B_0003.abf");  // channels 0 and 2
    struct Case {
        bool null;
        std::string before;
    };
    for (const Case& c :
         {Case{true, ""}, Case{false, ""}, Case{false, "x"}, Case{false, "a much longer text than the answer"}}) {
        SCOPED_TRACE(c.null ? "null" : "\"" + c.before + "\"");
        CallResult r = Call("kav_AbfADCSamplingSeq", {Str(path), c.null ? NullStrRef() : StrRef(c.before)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.resultNumber, 1.0);
        EXPECT_FALSE(r.args[1].null);
        EXPECT_EQ(r.args[1].text, "0;2");
    }
}

TEST_F(QueryFailures, SamplingSequenceStringThatCannotBeMade)
{
    REQUIRE_SHARED("data/abf/190619B_0003.abf");
    const std::string path = RealFile("190619B_0003.abf");
    struct Case {
        const char* what;
        unsigned op;
        int nth;  // the name's termination is the first resize
        bool null;
        std::string before;
    };
    const Case cases[] = {{"new handle", kavhost::kOpNew, 1, true, ""},
                          {"resize", kavhost::kOpResize, 2, false, "abcdef"},
                          {"resize to longer", kavhost::kOpResize, 2, false, "x"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Mark();
        ABFTest_InjectFault(160, 4545, 0);  // shows that the file is still closed
        host.FailMemory(c.op, c.nth);
        CallResult r = Call("kav_AbfADCSamplingSeq", {Str(path), c.null ? NullStrRef() : StrRef(c.before)});
        host.FailMemory(0, 0);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.resultNumber, 0.0);
        EXPECT_EQ(r.args[1].null, c.null);
        EXPECT_EQ(r.args[1].text, c.before);
        EXPECT_EQ(LastErr(), 4545);
    }
}

}  // namespace
}  // namespace querytest
