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
        files = RealGolden();
        if (files.empty()) GTEST_SKIP() << "KAV_SHARED_DIR is not set: no real recordings to query";
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
            const abfcompare::Json& h = g.json["header_summary"];
            ExpectNumber(g, "kav_AbfOperationMode", h["nOperationMode"].Num());
            ExpectNumber(g, "kav_AbfChannelCount", h["nADCNumChannels"].Num());
            ExpectNumber(g, "kav_AbfEpisodeCount", g.json["ord110"]["episode_limit_out"].Num());
            const long long channels = h["nADCNumChannels"].Int();
            ASSERT_GT(channels, 0);
            ExpectNumber(g, "kav_AbfTotalSampleCount", static_cast<double>(h["lActualAcqLength"].Int() / channels));
            std::string expected;
            for (long long i = 0; i < channels; ++i)
                expected += (i ? ";" : "") + std::to_string(h["nADCSamplingSeq"][static_cast<size_t>(i)].Int());
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
        EXPECT_EQ(isAbf.resultNumber, g.json["ord140"]["ok"].Num());
        CallResult hasData = Call("kav_AbfHasData", {Str(g.path)});
        EXPECT_EQ(hasData.status, 0);
        EXPECT_EQ(hasData.resultNumber, g.json["ord150"]["result"].Num());
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
        for (const abfcompare::Json& e : g.json["episodes"].arr) {
            SCOPED_TRACE("episode " + std::to_string(e["episode"].Int()));
            const abfcompare::Json& answer = e["ord340"];
            CallResult r = Call("kav_AbfSampleCount", {Str(g.path), Num(e["episode"].Num()), NumRef(kUntouched)});
            ++asked;
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.resultNumber, answer["ok"].Num() ? 1.0 : 0.0);
            EXPECT_EQ(r.args[2].number, answer["ok"].Num() ? answer["count"].Num() : kUntouched);
        }
    }
    EXPECT_GT(asked, static_cast<int>(files.size()));
}

TEST_F(GoldenQueries, StartTimeOfEveryEpisodeAndChannel)
{
    int asked = 0;
    for (const Golden& g : files) {
        SCOPED_TRACE(g.name);
        for (const abfcompare::Json& e : g.json["episodes"].arr) {
            for (const abfcompare::Json& c : e["channels"].arr) {
                SCOPED_TRACE("episode " + std::to_string(e["episode"].Int()) + ", channel " +
                             std::to_string(c["logical"].Int()));
                const abfcompare::Json& answer = c["ord350"];
                CallResult r = Call("kav_AbfStartTime", {Str(g.path), Num(c["logical"].Num()), Num(e["episode"].Num()),
                                                         NumRef(kUntouched)});
                ++asked;
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.resultNumber, answer["ok"].Num() ? 1.0 : 0.0);
                EXPECT_DOUBLE_EQ(r.args[3].number, answer["ok"].Num() ? answer["value"].Num() : kUntouched);
            }
        }
    }
    EXPECT_GT(asked, static_cast<int>(files.size()));
}

}  // namespace
}  // namespace querytest
