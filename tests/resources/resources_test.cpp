// The plug-in's resources as the built plug-in carries them: natively through
// KavFindResource, on Windows from the plug-in file's resource section (loaded as a
// data file). Both are compared with the generated files and decoded against
// the function table and error texts as resources/functions.csv and errors.txt
// define them, read here on their own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "interface/host_abi.h"
#include "resources/function_table.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using Bytes = std::vector<unsigned char>;

#if defined(_WIN32)
HMODULE Plugin()
{
    static HMODULE module = LoadLibraryExA(KAV_PLUGIN_FILE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

bool FindResourceBytes(const char* type, int id, Bytes* out)
{
    HRSRC info = FindResourceExA(Plugin(), type, MAKEINTRESOURCEA(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!info) return false;
    HGLOBAL loaded = LoadResource(Plugin(), info);
    const auto* p = static_cast<const unsigned char*>(LockResource(loaded));
    DWORD size = SizeofResource(Plugin(), info);
    if (!p) return false;
    out->assign(p, p + size);
    return true;
}
#else
typedef const void* (*FindResourceFn)(const char*, int, uint32_t*);

FindResourceFn Finder()
{
    // Lazy binding: the host functions the plug-in imports stay unresolved, as
    // nothing here calls them.
    static void* module = dlopen("./kav_Sorvan.so", RTLD_LAZY | RTLD_LOCAL);
    static FindResourceFn fn = module ? reinterpret_cast<FindResourceFn>(dlsym(module, "KavFindResource")) : nullptr;
    return fn;
}

bool FindResourceBytes(const char* type, int id, Bytes* out)
{
    uint32_t size = 0xFFFFFFFFu;
    const auto* p = static_cast<const unsigned char*>(Finder()(type, id, &size));
    if (!p) return false;
    out->assign(p, p + size);
    return true;
}
#endif

Bytes Resource(const char* type)
{
    Bytes b;
    EXPECT_TRUE(FindResourceBytes(type, 1100, &b)) << type;
    return b;
}

Bytes ReadFile(const std::string& path)
{
    Bytes b;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return b;
    int c;
    while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
    return b;
}

struct ResourcesTest : ::testing::Test {
    void SetUp() override
    {
#if defined(_WIN32)
        ASSERT_NE(Plugin(), nullptr) << "kav_Sorvan.xop not loadable as a data file";
#else
        ASSERT_NE(Finder(), nullptr) << "kav_Sorvan.so or its KavFindResource missing: " << dlerror();
#endif
    }
};

uint16_t Word(const Bytes& b, std::size_t at) { return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8)); }

// ---- The sources of truth, read as plain text ------------------------------------

struct Function {
    std::string name;
    uint16_t category, returns;
    std::vector<uint16_t> params;
};

// The lines of a resources/ data file that are neither comments nor blank.
std::vector<std::string> DataLines(const char* file)
{
    const Bytes b = ReadFile(std::string(KAV_RESOURCES_DIR) + "/" + file);
    std::vector<std::string> lines;
    std::istringstream in(std::string(b.begin(), b.end()));
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#' && line.find_first_not_of(" \t\r") != std::string::npos)
            lines.push_back(line);
    EXPECT_FALSE(lines.empty()) << file;
    return lines;
}

std::string Trimmed(const std::string& s)
{
    const std::size_t a = s.find_first_not_of(" \t\r");
    const std::size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// functions.csv: name, category, return type, parameters as NAME:TYPE ("-" for none).
std::vector<Function> FunctionsCsv()
{
    std::vector<Function> out;
    for (const std::string& line : DataLines("functions.csv")) {
        std::vector<std::string> cols;
        std::istringstream in(line);
        for (std::string col; std::getline(in, col, ',');) cols.push_back(Trimmed(col));
        EXPECT_EQ(cols.size(), 4u) << line;
        if (cols.size() != 4) continue;
        Function f{cols[0],
                   static_cast<uint16_t>(std::stoul(cols[1], nullptr, 0)),
                   static_cast<uint16_t>(std::stoul(cols[2], nullptr, 0)),
                   {}};
        std::istringstream params(cols[3] == "-" ? "" : cols[3]);
        for (std::string p; params >> p;)
            f.params.push_back(static_cast<uint16_t>(std::stoul(p.substr(p.find(':') + 1), nullptr, 0)));
        out.push_back(f);
    }
    return out;
}

std::vector<std::string> ErrorsTxt() { return DataLines("errors.txt"); }

TEST_F(ResourcesTest, SizesAndGeneratedFilesMatch)
{
    // XOPF: per function its name and NUL, category, return type, the parameter
    // words and a closing 0 word; a 0 word closes the table. STR#: every text
    // and its NUL, two NULs after the last.
    std::size_t xopf = 2, strs = 2;
    for (const Function& f : FunctionsCsv()) xopf += f.name.size() + 1 + 4 + 2 * f.params.size() + 2;
    for (const std::string& text : ErrorsTxt()) strs += text.size() + 1;
    struct Case {
        const char* type;
        const char* file;
        std::size_t size;
    } cases[] = {{"XOPF", "xopf.bin", xopf}, {"XOPI", "xopi.bin", 10}, {"STR#", "strs.bin", strs}};
    for (const Case& c : cases) {
        Bytes r = Resource(c.type);
        EXPECT_EQ(r.size(), c.size) << c.type;
        Bytes file = ReadFile(std::string(KAV_GENERATED_DIR) + "/" + c.file);
        ASSERT_FALSE(file.empty()) << c.file;
        EXPECT_EQ(r, file) << c.type;
    }
}

TEST_F(ResourcesTest, AbsentResourcesAreNotFound)
{
    Bytes b;
    EXPECT_FALSE(FindResourceBytes("XOPF", 1101, &b));
    EXPECT_FALSE(FindResourceBytes("XOPX", 1100, &b));
    EXPECT_FALSE(FindResourceBytes("STR#", 1, &b));
}

TEST_F(ResourcesTest, PluginInformation) { EXPECT_EQ(Resource("XOPI"), (Bytes{4, 0, 0, 0, 0, 0, 0, 0, 0, 0})); }

std::vector<Function> DecodeTable(const Bytes& b)
{
    std::vector<Function> out;
    std::size_t at = 0;
    while (at + 1 < b.size()) {
        if (b[at] == 0) {  // the closing word
            EXPECT_EQ(Word(b, at), 0);
            EXPECT_EQ(at + 2, b.size()) << "bytes after the table's end";
            return out;
        }
        Function f;
        while (at < b.size() && b[at] != 0) f.name += static_cast<char>(b[at++]);
        ++at;
        f.category = Word(b, at);
        f.returns = Word(b, at + 2);
        at += 4;
        for (uint16_t p; (p = Word(b, at)) != 0; at += 2) f.params.push_back(p);
        at += 2;
        out.push_back(f);
    }
    ADD_FAILURE() << "table not closed";
    return out;
}

TEST_F(ResourcesTest, FunctionTableDecodesToTheDefinedFunctions)
{
    const std::vector<Function> kExpected = FunctionsCsv();
    std::vector<Function> table = DecodeTable(Resource("XOPF"));
    ASSERT_EQ(table.size(), kExpected.size());
    ASSERT_EQ(static_cast<int>(table.size()), kFunctionCount);
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i].name, kExpected[i].name) << i;
        EXPECT_EQ(table[i].category, kExpected[i].category) << i;
        EXPECT_EQ(table[i].returns, kExpected[i].returns) << i;
        EXPECT_EQ(table[i].params, kExpected[i].params) << i;
        // The header the plug-in and host compile against says the same.
        const FunctionInfo& info = kFunctionInfo[i];
        EXPECT_EQ(info.name, table[i].name);
        EXPECT_EQ(info.category, table[i].category);
        EXPECT_EQ(info.returnType, table[i].returns);
        EXPECT_EQ(std::vector<uint16_t>(info.params, info.params + info.paramCount), table[i].params);
    }
    EXPECT_EQ(kFnLastErr, 0);
    EXPECT_EQ(kFnChannelRead, 11);
    EXPECT_EQ(kFnFileOpenDialog, 16);
    EXPECT_EQ(kFnReadExternalTags, 24);
}

TEST_F(ResourcesTest, ErrorTextsInCodeOrder)
{
    const std::vector<std::string> expected = ErrorsTxt();
    Bytes b = Resource("STR#");
    std::vector<std::string> texts;
    std::size_t at = 0;
    for (std::size_t n = 0; n < expected.size() && at < b.size(); ++n) {
        std::string t;
        while (at < b.size() && b[at] != 0) t += static_cast<char>(b[at++]);
        ++at;
        texts.push_back(t);
    }
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(Bytes(b.begin() + static_cast<std::ptrdiff_t>(at), b.end()), (Bytes{0, 0}));
    ASSERT_EQ(static_cast<std::size_t>(kErrorTextCount), expected.size());
    for (int i = 0; i < kErrorTextCount; ++i) EXPECT_EQ(kErrorTexts[i], expected[static_cast<std::size_t>(i)]);
    // The plug-in's own codes run from the first text's code to the last one's.
    EXPECT_EQ(kFirstErrorCode, 10001);
    EXPECT_EQ(kErrNullString, kFirstErrorCode);
    EXPECT_EQ(kErrNotGapFree, kFirstErrorCode + kErrorTextCount - 1);
}

#if defined(_WIN32)
std::string VersionString(const Bytes& block, const char* key)
{
    std::string path = std::string("\\StringFileInfo\\040904b0\\") + key;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<LPVOID*>(&value), &length)) return "<missing>";
    return std::string(value);
}

TEST_F(ResourcesTest, VersionResource)
{
    char path[MAX_PATH];
    ASSERT_GT(GetFullPathNameA(KAV_PLUGIN_FILE, MAX_PATH, path, nullptr), 0u);
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &unused);
    ASSERT_GT(size, 0u);
    Bytes block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<LPVOID*>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0u);
    EXPECT_EQ(fixed->dwFileVersionLS, 12u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0u);
    EXPECT_EQ(fixed->dwProductVersionLS, 12u);
    EXPECT_EQ(fixed->dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed->dwFileOS, 0x40004u);
    EXPECT_EQ(fixed->dwFileType, 2u);

    WORD* translation = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<LPVOID*>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);

    struct Case {
        const char* key;
        const char* value;
    } cases[] = {
        {"FileDescription", "kav_Sorvan is an Igor Pro extension."},
        {"Comments", "kav_Sorvan is an Igor Pro extensions."},
        {"FileVersion", "0, 0, 0, 12"},
        {"ProductVersion", "0, 0, 0, 12"},
        {"InternalName", "kav_Sorvan"},
        {"OriginalFilename", "kav_Sorvan.xop"},
        {"ProductName", "Igor Pro kav_Sorvan"},
        {"LegalTrademarks", ""},
        {"PrivateBuild", ""},
        {"SpecialBuild", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(VersionString(block, c.key), c.value) << c.key;
}
#endif

}  // namespace
