// Our ABF library against the vendor library's recorded answers: every reference in
// the shared data (real recordings and broken inputs), compared call by call. A
// difference fails the test unless known-differences.txt lists it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/shared_data.h"
#include "tools/abfcompare/compare.h"

namespace fs = std::filesystem;

namespace {

std::string SharedDir()
{
    // CTest passes the folder; test discovery runs without it and uses the configured one.
    const char* d = std::getenv("KAV_SHARED_DIR");
    return d ? d : KAV_SHARED_DEFAULT;
}

std::vector<std::string> References()
{
    std::vector<std::string> names;
    const std::string dir = SharedDir();
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(fs::path(dir) / "data" / "golden", ec)) return {"none"};
    for (const auto& e : fs::directory_iterator(fs::path(dir) / "data" / "golden", ec))
        if (e.path().extension() == ".json") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The listed differences; false when the list cannot be read.
bool KnownDifferences(std::vector<std::string>& known)
{
    std::ifstream f(KAV_KNOWN_DIFFERENCES);
    if (!f) return false;
    std::string line;
    while (std::getline(f, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty() && line[0] != '#') known.push_back(line);
    }
    return true;
}

class Corpus : public ::testing::TestWithParam<std::string> {};

TEST_P(Corpus, MatchesVendorAnswers)
{
    if (GetParam() == "none") {
        REQUIRE_SHARED("data/golden");
        FAIL() << "the references were listed without the shared data, which is there now: run the tests again";
    }
    const fs::path golden = fs::path(SharedDir()) / "data" / "golden" / (GetParam() + ".json");
    abfcompare::Json ref;
    std::string error;
    ASSERT_TRUE(abfcompare::ParseJsonFile(golden.string(), ref, error)) << error;

    std::vector<std::string> known;
    ASSERT_TRUE(KnownDifferences(known)) << "cannot read " << KAV_KNOWN_DIFFERENCES;
    std::vector<std::string> diffs;
    if (ref.contains("texts")) {
        diffs = abfcompare::CompareErrorTexts(ref);
    } else {
        const fs::path scratch = fs::current_path() / "abffio-corpus-inputs";
        fs::create_directories(scratch);
        const std::string abfDir = (fs::path(SharedDir()) / "data" / "abf").string();
        const std::string input = abfcompare::PrepareInput(abfcompare::String(ref, "file"), abfDir, scratch.string());
        diffs = abfcompare::CompareReference(ref, input);
    }
    int unexpected = 0;
    for (const std::string& d : diffs) {
        const std::string line = abfcompare::String(ref, "file") + ": " + d;
        bool listed = false;
        for (const std::string& k : known) listed = listed || line.compare(0, k.size(), k) == 0;
        if (!listed && ++unexpected <= 40) ADD_FAILURE() << line;
    }
    EXPECT_EQ(unexpected, 0) << "differences not listed in known-differences.txt";
}

// The comparison itself notices wrong answers: a reference with three answers changed
// gives exactly those three differences.
TEST(CorpusComparison, NoticesChangedAnswers)
{
    const fs::path golden = fs::path(SharedDir()) / "data" / "golden" / "18702001-step.json";
    abfcompare::Json ref;
    std::string error;
    REQUIRE_SHARED("data/golden/18702001-step.json");
    ASSERT_TRUE(abfcompare::ParseJsonFile(golden.string(), ref, error)) << error;
    const std::string input = (fs::path(SharedDir()) / "data" / "abf" / "18702001-step.abf").string();
    ASSERT_TRUE(abfcompare::CompareReference(ref, input).empty());

    ref["ord110"]["sample_limit_out"] = ref["ord110"]["sample_limit_out"].get<long long>() + 1;
    ref["episodes"][1]["channels"][0]["ord210"]["sha256"].get_ref<std::string&>()[5] ^= 1;
    std::string& hex = ref["ord110"]["library_record_hex"].get_ref<std::string&>();
    hex[2 * 1189 + 1] = hex[2 * 1189 + 1] == '7' ? '6' : '7';  // nADCSamplingSeq[0]
    const std::vector<std::string> diffs = abfcompare::CompareReference(ref, input);
    std::string all;
    for (const std::string& d : diffs) all += d + "\n";
    EXPECT_NE(all.find("ord110 sample limit"), std::string::npos) << all;
    EXPECT_NE(all.find("episode 2 channel 0 (physical 0) ord210 samples differ"), std::string::npos) << all;
    EXPECT_NE(all.find("ord110 library record nADCSamplingSeq[0]"), std::string::npos) << all;
    EXPECT_NE(all.find("ord110 record nADCSamplingSeq[0]"), std::string::npos) << all;
    EXPECT_EQ(diffs.size(), 4u) << all;
}

std::string Name(const ::testing::TestParamInfo<std::string>& info)
{
    std::string n;
    for (char c : info.param) n += (isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return n;
}

INSTANTIATE_TEST_SUITE_P(Golden, Corpus, ::testing::ValuesIn(References()), Name);

}  // namespace
