#include "query_support.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace querytest {

void QueryTest::SetUp()
{
    ASSERT_TRUE(host.Load()) << host.LoadError();
    ASSERT_TRUE(host.Accepted());
    ABFTest_InjectFault(0, 0, 0);
    ABFTest_WriteLibraryRecord(0);
}

void QueryTest::TearDown()
{
    ABFTest_InjectFault(0, 0, 0);
    ABFTest_WriteLibraryRecord(0);
    EXPECT_TRUE(host.AuditClean()) << host.AuditReport();
}

CallResult QueryTest::Call(const std::string& name, const std::vector<Arg>& args)
{
    CallResult r = host.Call(name, args);
    EXPECT_TRUE(r.called) << name << ": " << r.error;
    EXPECT_TRUE(r.Clean()) << name << ": leaked " << r.leaked << ", released twice " << r.doubleReleased
                           << ", used after release " << r.useAfterRelease
                           << (r.violations.empty() ? "" : ", " + r.violations.front());
    return r;
}

double QueryTest::LastErr()
{
    CallResult r = Call("kav_AbfLastErr", {});
    EXPECT_EQ(r.status, 0);
    return r.resultNumber;
}

std::string QueryTest::LastErrStr()
{
    CallResult r = Call("kav_AbfLastErrStr", {});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.resultNull);
    return r.resultString;
}

std::string RealFile(const std::string& name)
{
    std::string p = kavtest::SharedPath("data/abf/" + name);
    if (p.empty()) return p;
    std::ifstream probe(p, std::ios::binary);
    return probe ? p : std::string();
}

namespace {
bool LoadJson(const std::string& path, abfcompare::Json* out)
{
    std::string text, error;
    if (!ReadFile(path, &text)) return false;
    return abfcompare::ParseJson(text, *out, error);
}
}  // namespace

Golden GoldenFor(const std::string& stem)
{
    Golden g;
    const std::string dir = kavtest::SharedPath("data/golden");
    if (dir.empty() || !LoadJson(dir + "/" + stem + ".json", &g.json)) return g;
    g.name = abfcompare::String(g.json, "file");
    g.path = RealFile(g.name);
    return g;
}

std::vector<Golden> RealGolden()
{
    std::vector<Golden> out;
    const std::string dir = kavtest::SharedPath("data/golden");
    if (dir.empty()) return out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().extension() != ".json") continue;
        Golden g = GoldenFor(entry.path().stem().string());
        if (!g.path.empty() && g.json.contains("ord110")) out.push_back(std::move(g));
    }
    std::sort(out.begin(), out.end(), [](const Golden& a, const Golden& b) { return a.name < b.name; });
    return out;
}

std::string ScratchFile(const std::string& name)
{
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec) / "kav_queries_test";
    std::filesystem::create_directories(dir, ec);
    return (dir / name).string();
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

bool ReadFile(const std::string& path, std::string* bytes)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    std::ostringstream s;
    s << f.rdbuf();
    *bytes = s.str();
    return true;
}

std::string LibraryErrorText(int32_t error, const std::string& fileName)
{
    char text[1024] = {0};
    if (!ABF_BuildErrorText(error, fileName.c_str(), text, sizeof text)) return "";
    return text;
}

}  // namespace querytest
