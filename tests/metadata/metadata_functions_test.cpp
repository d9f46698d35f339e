// kav_AbfPrintMetaData and kav_AbfMetaData through the stand-in host (natively, and
// under Wine as IGOR.exe beside the real plug-in and ABFFIO.dll): the real files
// against the records the vendor library filled, files with extreme values, and the
// failures. The host's ownership audit is checked after every call.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "interface/abffio.h"
#include "tests/support/header_check.h"
#include "host/host.h"
#include "tests/support/shared_data.h"

using namespace kavhost;
using metatest::Piece;

namespace {

constexpr std::size_t kKeysShown = 199;
constexpr int kListingMessages = 146;

class Metadata : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.Load()) << host.LoadError();
        ASSERT_TRUE(host.Accepted());
    }
    void TearDown() override
    {
        ABFTest_InjectFault(0, 0, 0);
        ABFTest_WriteLibraryRecord(0);
        EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
    }

    CallResult Call(const std::string& name, const std::vector<Arg>& args)
    {
        host.ClearMessages();
        CallResult r = host.Call(name, args);
        EXPECT_TRUE(r.called) << r.error;
        EXPECT_TRUE(r.Clean()) << name << ": " << host.AuditReport();
        return r;
    }
    int Printed() const { return host.CountMessages(8); }
    double LastErr() { return Call("kav_AbfLastErr", {}).resultNumber; }
    std::string LastErrStr() { return Call("kav_AbfLastErrStr", {}).resultString; }

    Host host;
};

// The library's known differences from the vendor's records ("FILE: ord110 record FIELD"
// for the 11335-byte view, "FILE: ord110 library record FIELD" for the whole record).
std::map<std::string, std::set<std::string>> KnownRecordDifferences(const std::string& marker)
{
    std::map<std::string, std::set<std::string>> known;
    std::ifstream f(KAV_KNOWN_DIFFERENCES);
    std::string line;
    while (std::getline(f, line)) {
        const std::size_t at = line.find(marker);
        if (line.empty() || line[0] == '#' || at == std::string::npos) continue;
        known[line.substr(0, at)].insert(line.substr(at + marker.size()));
    }
    return known;
}

// The differences found, less the known ones.
std::string Unexpected(const std::string& differences, const std::set<std::string>& known)
{
    std::string out;
    std::istringstream lines(differences);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string key = line.substr(0, line.find_first_of(":["));
        if (!known.count(key)) out += line + "\n";
    }
    return out;
}

struct RealFile {
    std::string name;
    std::string path;          // as the plug-in is given it
    ABFFileHeader golden;      // the first 11335 bytes the vendor's open wrote
    ABFLibraryHeader library;  // the whole record it wrote, in its own layout
};

// Every real recording the vendor library opened, with the record it filled.
std::vector<RealFile> RealFiles()
{
    namespace fs = std::filesystem;
    std::vector<RealFile> out;
    std::error_code ec;
    const fs::path dir = kavtest::SharedLocal("data/golden");
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        if (e.path().extension() != ".json") continue;
        const std::string name = e.path().stem().string() + ".abf";
        std::error_code missing;
        if (!fs::exists(kavtest::SharedLocal("data/abf/" + name), missing)) continue;
        RealFile f;
        f.name = name;
        f.path = kavtest::SharedPath("data/abf/" + name);
        std::string error;
        if (metatest::LoadGoldenRecord(e.path().string(), &f.golden, &error) &&
            metatest::LoadGoldenLibraryRecord(e.path().string(), &f.library, &error))
            out.push_back(f);
    }
    return out;
}

std::string Joined(const std::vector<Piece>& pieces)
{
    std::string s;
    for (const Piece& p : pieces) s += p.key + "=" + p.value + ";";
    return s;
}

const Piece* FindPiece(const std::vector<Piece>& pieces, const std::string& key)
{
    for (const Piece& p : pieces)
        if (p.key == key) return &p;
    return nullptr;
}

TEST_F(Metadata, RealFilesAgainstTheVendorRecords)
{
    REQUIRE_SHARED("data/golden");
    const std::vector<RealFile> files = RealFiles();
    ASSERT_GT(files.size(), 40u);
    const auto known = KnownRecordDifferences(": ord110 library record ");
    const auto knownOverwrite = KnownRecordDifferences(": ord110 record ");
    for (const RealFile& f : files) {
        SCOPED_TRACE(f.name);
        auto k = known.find(f.name);
        const std::set<std::string> allowed = k == known.end() ? std::set<std::string>() : k->second;
        k = knownOverwrite.find(f.name);
        const std::set<std::string> allowedOverwrite = k == knownOverwrite.end() ? std::set<std::string>() : k->second;

        CallResult s = Call("kav_AbfMetaData", {Str(f.path), NullStrRef()});
        ASSERT_EQ(s.status, 0);
        ASSERT_EQ(s.resultNumber, 1);
        ASSERT_FALSE(s.args[1].null);
        const std::string text = s.args[1].text;
        EXPECT_EQ(s.history, "");
        EXPECT_EQ(Printed(), 0);
        EXPECT_EQ(text.rfind("fFileVersionNumber=", 0), 0u);
        const std::vector<Piece> pieces = metatest::SplitHeaderString(text);
        ASSERT_EQ(pieces.size(), kKeysShown);
        EXPECT_EQ(pieces.back().key, "lLegacyNumSamplesPerEpisode");
        EXPECT_EQ(Joined(pieces), text) << "the string is nothing but its items";
        // Our library fills the record in the layout the plug-in gives it: every value
        // is the vendor's field of that name.
        EXPECT_EQ(Unexpected(metatest::CompareWithLibraryRecord(pieces, f.library), allowed), "");

        CallResult l = Call("kav_AbfPrintMetaData", {Str(f.path)});
        ASSERT_EQ(l.status, 0);
        EXPECT_EQ(l.resultNumber, 1);
        EXPECT_EQ(Printed(), kListingMessages);
        const std::vector<Piece> listed = metatest::SplitListing(l.history);
        ASSERT_EQ(listed.size(), pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(listed[i].key, pieces[i].key);
            EXPECT_EQ(metatest::ListingValueAsString(listed[i]), pieces[i].value) << pieces[i].key;
        }

        // The vendor library writes its own, larger record layout whatever the plug-in
        // asks for, and the plug-in then shows those bytes through its own layout. With
        // our library doing the same, the string shows what the vendor's open left there.
        ABFTest_WriteLibraryRecord(1);
        CallResult o = Call("kav_AbfMetaData", {Str(f.path), StrRef("")});
        ABFTest_WriteLibraryRecord(0);
        ASSERT_EQ(o.resultNumber, 1);
        const std::vector<Piece> overwritten = metatest::SplitHeaderString(o.args[1].text);
        ASSERT_EQ(overwritten.size(), kKeysShown);
        EXPECT_EQ(Unexpected(metatest::CompareWithRecord(overwritten, f.golden), allowedOverwrite), "");
    }
}

TEST_F(Metadata, ListingLinesOfARealFile)
{
    REQUIRE_SHARED("data/abf/05210017_vc_abf1.abf");
    // An ABF1 file: its texts are blank-padded to their widths.
    RealFile f;
    f.name = "05210017_vc_abf1.abf";
    f.path = kavtest::SharedPath("data/abf/" + f.name);
    std::string error;
    ASSERT_TRUE(metatest::LoadGoldenRecord(kavtest::SharedLocal("data/golden/05210017_vc_abf1.json"), &f.golden, &error))
        << error;
    CallResult l = Call("kav_AbfPrintMetaData", {Str(f.path)});
    ASSERT_EQ(l.resultNumber, 1);
    const std::vector<std::string> lines = metatest::Split(l.history, '\r');
    EXPECT_EQ(lines.back(), "") << "the listing ends with a carriage return";

    // Items 12 to 20 on one line.
    const std::string* telegraph = nullptr;
    for (const std::string& line : lines)
        if (line.rfind("nTelegraphEnable = ", 0) == 0) telegraph = &line;
    ASSERT_NE(telegraph, nullptr);
    const std::vector<Piece> items = metatest::SplitListing(*telegraph);
    ASSERT_EQ(items.size(), 9u);
    EXPECT_EQ(items[2].key, "fTelegraphAdditGain");
    EXPECT_EQ(items[8].key, "nSignalType");
    EXPECT_EQ(items[8].value, std::to_string(f.golden.nSignalType));

    // Text-list elements untrimmed, one per message: the listing shows each element's
    // characters as the record holds them.
    const ABFFileHeader& g = f.golden;
    std::string units;
    for (int k = 0; k < 16; ++k) units += metatest::UpToNul(g.sADCUnits[k], 8) + (k == 15 ? "" : ";");
    EXPECT_NE(l.history.find("sADCUnits = " + units + "\r"), std::string::npos);
    ASSERT_NE(std::string(g.sADCUnits[0], 8).find(' '), std::string::npos) << "this file pads with blanks";

    // Text fields trimmed at the end only.
    const std::string creator = metatest::TrimmedEnd(g.sCreatorInfo, 16);
    EXPECT_NE(l.history.find("\rsCreatorInfo = " + creator + "\r"), std::string::npos);
    EXPECT_NE(creator.size(), 16u);
}

// Made-up files: a copy of a real ABF1 file with fields of its header overwritten.
class MadeUpFile : public Metadata {
protected:
    std::string Make(const std::string& name, const std::vector<std::pair<std::size_t, std::string>>& patches)
    {
        std::ifstream in(kavtest::SharedLocal("data/abf/05210017_vc_abf1.abf"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_GT(bytes.size(), 6144u);
        for (const auto& [offset, data] : patches) bytes.replace(offset, data.size(), data);
        std::ofstream out(name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good());
        return name;
    }
    static std::string Floats(float v, int n)
    {
        std::string s;
        for (int i = 0; i < n; ++i) s.append(reinterpret_cast<const char*>(&v), 4);
        return s;
    }
};

// Where the ABF1 header keeps the fields overwritten here.
constexpr std::size_t kAbf1CreatorInfo = 294;
constexpr std::size_t kAbf1SignalGain = 1050;
constexpr std::size_t kAbf1TelegraphAdditGain = 4576;
constexpr std::size_t kAbf1FileComment = 5154;
constexpr std::size_t kAbf1PostProcessLowpass = 5934;

TEST_F(MadeUpFile, ExtremeFloatListsAndAFullComment)
{
    REQUIRE_SHARED("data/abf/05210017_vc_abf1.abf");
    std::string comment = "no escaping: a;b=c,d ";
    while (comment.size() < 128) comment += static_cast<char>('a' + comment.size() % 26);
    const std::string file = Make("metadata_extremes.abf", {
                                                               {kAbf1CreatorInfo, " abc" + std::string(12, ' ')},
                                                               {kAbf1SignalGain, Floats(-FLT_MAX, 16)},
                                                               {kAbf1TelegraphAdditGain, Floats(FLT_MAX, 16)},
                                                               {kAbf1PostProcessLowpass, Floats(-FLT_MAX, 16)},
                                                               {kAbf1FileComment, comment},
                                                           });
    CallResult l = Call("kav_AbfPrintMetaData", {Str(file)});
    ASSERT_EQ(l.resultNumber, 1);
    EXPECT_EQ(Printed(), kListingMessages);
    EXPECT_NE(l.history.find("\rsFileComment = " + comment + "\r"), std::string::npos);
    EXPECT_NE(l.history.find("\rsCreatorInfo =  abc\r"), std::string::npos);

    CallResult s = Call("kav_AbfMetaData", {Str(file), StrRef("before")});
    ASSERT_EQ(s.resultNumber, 1);
    const std::string& text = s.args[1].text;
    EXPECT_NE(text.find(";sFileComment=" + comment + ";"), std::string::npos);
    EXPECT_NE(text.find(";sCreatorInfo=abc;"), std::string::npos);

    const std::vector<Piece> listed = metatest::SplitListing(l.history);
    const std::vector<Piece> pieces = metatest::SplitHeaderString(text);
    ASSERT_EQ(pieces.size(), kKeysShown);
    ASSERT_EQ(listed.size(), kKeysShown);
    struct Extreme {
        const char* key;
        double value;
    };
    for (const Extreme& e : {Extreme{"fSignalGain", -FLT_MAX}, Extreme{"fTelegraphAdditGain", FLT_MAX},
                             Extreme{"fPostProcessLowpassFilter", -FLT_MAX}}) {
        for (const std::vector<Piece>* rendering : {&listed, &pieces}) {
            const Piece* p = FindPiece(*rendering, e.key);
            ASSERT_NE(p, nullptr) << e.key;
            const std::vector<std::string> values = metatest::Split(p->value, ',');
            ASSERT_EQ(values.size(), 16u) << e.key;
            for (const std::string& v : values) EXPECT_EQ(std::strtod(v.c_str(), nullptr), e.value) << e.key;
        }
    }
    // The listing's float lists do not fit 512 characters; each is one whole message.
    const std::string gain = "fTelegraphAdditGain=";
    const std::size_t at = l.history.find(gain);
    ASSERT_NE(at, std::string::npos);
    const std::size_t end = l.history.find(";fTelegraphFilter=", at);
    ASSERT_NE(end, std::string::npos);
    EXPECT_GT(end + 1 - at, 512u);
}

TEST_F(Metadata, NullFileName)
{
    CallResult l = Call("kav_AbfPrintMetaData", {NullStr()});
    EXPECT_EQ(l.status, 10001);
    EXPECT_EQ(l.resultNumber, 0);
    EXPECT_EQ(Printed(), 0);

    CallResult s = Call("kav_AbfMetaData", {NullStr(), StrRef("kept")});
    EXPECT_EQ(s.status, 10001);
    EXPECT_EQ(s.resultNumber, 0);
    EXPECT_EQ(s.args[1].text, "kept");
}

TEST_F(Metadata, OpenFailureLeavesEverythingAsItWas)
{
    const std::string missing = "no such file.abf";
    for (int variant = 0; variant < 3; ++variant) {
        ABFTest_InjectFault(0, 0, 0);
        CallResult r;
        if (variant == 0) {
            r = Call("kav_AbfPrintMetaData", {Str(missing)});
            EXPECT_EQ(Printed(), 0);
            EXPECT_EQ(r.history, "");
        } else if (variant == 1) {
            r = Call("kav_AbfMetaData", {Str(missing), StrRef("old text")});
            EXPECT_EQ(r.args[1].text, "old text");
        } else {
            r = Call("kav_AbfMetaData", {Str(missing), NullStrRef()});
            EXPECT_TRUE(r.args[1].null);
        }
        EXPECT_EQ(r.status, 0) << variant;
        EXPECT_EQ(r.resultNumber, 0) << variant;
        EXPECT_EQ(LastErr(), ABF_EOPENFILE) << variant;
        EXPECT_NE(LastErrStr().find("no such file.abf"), std::string::npos) << variant;
    }
}

TEST_F(Metadata, VariableReplacedNeverAppendedTo)
{
    REQUIRE_SHARED("data/abf/18425108.abf");
    const std::string file = kavtest::SharedPath("data/abf/18425108.abf");
    CallResult fresh = Call("kav_AbfMetaData", {Str(file), NullStrRef()});
    ASSERT_EQ(fresh.resultNumber, 1);
    const std::string text = fresh.args[1].text;
    for (const std::string& old : {std::string(), std::string("short"), std::string(40000, 'z')}) {
        host.SetMoveOnResize(true);
        CallResult r = Call("kav_AbfMetaData", {Str(file), StrRef(old)});
        EXPECT_EQ(r.resultNumber, 1);
        EXPECT_EQ(r.args[1].text, text) << "old text of " << old.size();
    }
}

TEST_F(Metadata, NoMemory)
{
    REQUIRE_SHARED("data/abf/18425108.abf");
    const std::string file = kavtest::SharedPath("data/abf/18425108.abf");
    // The file name cannot be terminated: nothing opened, the name released.
    host.FailMemory(kOpResize, 1);
    CallResult l = Call("kav_AbfPrintMetaData", {Str(file)});
    EXPECT_EQ(l.status, 1);
    EXPECT_EQ(l.resultNumber, 0);
    EXPECT_EQ(Printed(), 0);

    // No handle for the text: the variable holds what it held, status 1.
    host.FailMemory(kOpNew, 1);
    CallResult n = Call("kav_AbfMetaData", {Str(file), NullStrRef()});
    EXPECT_EQ(n.status, 1);
    EXPECT_EQ(n.resultNumber, 0);
    EXPECT_TRUE(n.args[1].null);

    // The variable's handle cannot grow (the second resize; the first is the name's).
    host.FailMemory(kOpResize, 2);
    CallResult g = Call("kav_AbfMetaData", {Str(file), StrRef("old")});
    EXPECT_EQ(g.status, 1);
    EXPECT_EQ(g.resultNumber, 0);
    EXPECT_EQ(g.args[1].text, "old");

    // The file was closed each time: the next call works.
    CallResult ok = Call("kav_AbfMetaData", {Str(file), StrRef("old")});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.resultNumber, 1);
}

}  // namespace
