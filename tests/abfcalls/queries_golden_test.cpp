// Every query on every real recording, against what the vendor library answered
// for the same file when called the same way.
#include <cstdint>
#include <string>
#include <vector>

#include "query_support.h"

namespace querytest {
namespace {

using kavhost::NullStrRef;
using kavhost::Num;
using kavhost::NumRef;
using kavhost::Str;

constexpr double kUntouched = -12345.0;

class GoldenQueries : public QueryTest {
protected:
    void SetUp() override
    {
        QueryTest::SetUp();
        REQUIRE_SHARED("data/golden");
        files = RealGolden();
        ASSERT_FALSE(files.empty()) << "no recorded answer names a real recording that is there";
    }

    // A one-number query: status 0, result 1 and the number written.
    void ExpectNumber(const Golden& g, const char* function, double expected)
    {
        CallResult r = Call(function, {Str(g.path), NumRef(kUntouched)});
        EXPECT_EQ(r.status, 0) << function;
        EXPECT_EQ(r.resultNumber, 1.0) << function;
        ASSERT_EQ(r.args.size(), 2u);
        EXPECT_EQ(r.args[1].number, expected) << function;
    }

    // Counts, modes and the sampling sequence of every file.
    void CheckHeaderAnswers()
    {
        for (const Golden& g : files) {
            SCOPED_TRACE(g.name);
            const abfcompare::Json& h = abfcompare::At(g.json, "header_summary");
            ExpectNumber(g, "kav_AbfOperationMode", abfcompare::Number(h, "nOperationMode"));
            ExpectNumber(g, "kav_AbfChannelCount", abfcompare::Number(h, "nADCNumChannels"));
            ExpectNumber(g, "kav_AbfEpisodeCount", abfcompare::Number(g.json, "ord110/episode_limit_out"));
            const long long channels = abfcompare::Int(h, "nADCNumChannels");
            ASSERT_GT(channels, 0);
            ExpectNumber(g, "kav_AbfTotalSampleCount",
                         static_cast<double>(abfcompare::Int(h, "lActualAcqLength") / channels));
            std::string expected;
            for (long long i = 0; i < channels; ++i)
                expected += (i ? ";" : "") + std::to_string(abfcompare::Int(h, "nADCSamplingSeq/" + std::to_string(i)));
            CallResult r = Call("kav_AbfADCSamplingSeq", {Str(g.path), NullStrRef()});
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.resultNumber, 1.0);
            ASSERT_EQ(r.args.size(), 2u);
            EXPECT_FALSE(r.args[1].null);
            EXPECT_EQ(r.args[1].text, expected);
        }
    }

    std::vector<Golden> files;
};

TEST_F(GoldenQueries, FileTestsAnswerAsTheLibrary)
{
    for (const Golden& g : files) {
        SCOPED_TRACE(g.name);
        CallResult isAbf = Call("kav_AbfIsAbfFile", {Str(g.path)});
        EXPECT_EQ(isAbf.status, 0);
        EXPECT_EQ(isAbf.resultNumber, abfcompare::Number(g.json, "ord140/ok"));
        CallResult hasData = Call("kav_AbfHasData", {Str(g.path)});
        EXPECT_EQ(hasData.status, 0);
        EXPECT_EQ(hasData.resultNumber, abfcompare::Number(g.json, "ord150/result"));
    }
}

TEST_F(GoldenQueries, HeaderCountsModesAndSamplingSequences) { CheckHeaderAnswers(); }

// The vendor library writes its own, larger record layout whatever the header
// size says; the answers come from the part both layouts share.
TEST_F(GoldenQueries, SameAnswersWhenTheLibraryWritesItsOwnRecordLayout)
{
    ABFTest_WriteLibraryRecord(1);
    CheckHeaderAnswers();
    ABFTest_WriteLibraryRecord(0);
}

TEST_F(GoldenQueries, SampleCountOfEveryEpisode)
{
    int asked = 0;
    for (const Golden& g : files) {
        SCOPED_TRACE(g.name);
        for (const abfcompare::Json& e : abfcompare::At(g.json, "episodes")) {
            SCOPED_TRACE("episode " + std::to_string(abfcompare::Int(e, "episode")));
            const abfcompare::Json& answer = abfcompare::At(e, "ord340");
            CallResult r =
                Call("kav_AbfSampleCount", {Str(g.path), Num(abfcompare::Number(e, "episode")), NumRef(kUntouched)});
            ++asked;
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.resultNumber, abfcompare::Number(answer, "ok") ? 1.0 : 0.0);
            EXPECT_EQ(r.args[2].number,
                      abfcompare::Number(answer, "ok") ? abfcompare::Number(answer, "count") : kUntouched);
        }
    }
    EXPECT_GT(asked, static_cast<int>(files.size()));
}

TEST_F(GoldenQueries, StartTimeOfEveryEpisodeAndChannel)
{
    int asked = 0;
    for (const Golden& g : files) {
        SCOPED_TRACE(g.name);
        for (const abfcompare::Json& e : abfcompare::At(g.json, "episodes")) {
            for (const abfcompare::Json& c : abfcompare::At(e, "channels")) {
                SCOPED_TRACE("episode " + std::to_string(abfcompare::Int(e, "episode")) + ", channel " +
                             std::to_string(abfcompare::Int(c, "logical")));
                const abfcompare::Json& answer = abfcompare::At(c, "ord350");
                CallResult r = Call("kav_AbfStartTime", {Str(g.path), Num(abfcompare::Number(c, "logical")),
                                                         Num(abfcompare::Number(e, "episode")), NumRef(kUntouched)});
                ++asked;
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.resultNumber, abfcompare::Number(answer, "ok") ? 1.0 : 0.0);
                EXPECT_DOUBLE_EQ(r.args[3].number,
                                 abfcompare::Number(answer, "ok") ? abfcompare::Number(answer, "value") : kUntouched);
            }
        }
    }
    EXPECT_GT(asked, static_cast<int>(files.size()));
}

}  // namespace
}  // namespace querytest
