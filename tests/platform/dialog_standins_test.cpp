// The native dialog stand-ins keep the Windows contract the plug-in relies on:
// the file buffer's layout and capacity, the refusal of a wrong record size, the
// environment expansion's counts, OLE's answers, identifier lists that must be
// released exactly once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform_hooks.h"

namespace {

using namespace std::string_literals;

// The answer the stand-ins are given, set by each test.
KavDialogChoice gChoice;
std::vector<const char*> gNames;
std::string gDirectory;

void Choose(int outcome, const std::string& dir, const std::vector<const char*>& names)
{
    gDirectory = dir;
    gNames = names;
    gChoice = KavDialogChoice{outcome, gDirectory.c_str(), gNames.data(), static_cast<int>(gNames.size())};
}

void AnswerOpen(void*, const OPENFILENAMEA*, KavDialogChoice* c) { *c = gChoice; }
void AnswerBrowse(void*, const BROWSEINFOA*, const char*, int, KavDialogChoice* c) { *c = gChoice; }

class StandIns : public ::testing::Test {
protected:
    void SetUp() override
    {
        KavPlatformResetDialogs();
        KavPlatformSetDialogAnswerers(AnswerOpen, AnswerBrowse, nullptr);
    }
    void TearDown() override { KavPlatformSetDialogAnswerers(nullptr, nullptr, nullptr); }

    // Shows the file-open stand-in with a buffer of `size` bytes; the buffer's
    // bytes afterwards in *bytes.
    BOOL Open(DWORD flags, DWORD size, std::string* bytes, DWORD structSize = 88)
    {
        std::vector<char> buffer(size + 8, 'X');  // beyond the capacity: must stay untouched
        std::memset(buffer.data(), 0, size);
        OPENFILENAMEA r;
        std::memset(&r, 0, sizeof r);
        r.lStructSize = structSize;
        r.lpstrFile = buffer.data();
        r.nMaxFile = size;
        r.Flags = flags;
        const BOOL ok = GetOpenFileNameA(&r);
        bytes->assign(buffer.data(), size);
        EXPECT_EQ(std::string(buffer.data() + size, 8), std::string(8, 'X')) << "written beyond nMaxFile";
        return ok;
    }
};

TEST_F(StandIns, OpenFileBufferLayouts)
{
    const DWORD multi = 0x0088120C, single = 0x0088100C;
    std::string b;
    Choose(KAV_DIALOG_CHOSEN, "/d", {"a.abf", "bb.abf"});
    ASSERT_TRUE(Open(multi, 64, &b));
    EXPECT_EQ(b.substr(0, 17), "/d\0a.abf\0bb.abf\0\0"s);
    ASSERT_TRUE(Open(single, 64, &b));
    EXPECT_EQ(b.substr(0, 9), "/d/a.abf\0"s) << "only the first name without multiple selection";
    Choose(KAV_DIALOG_CHOSEN, "/d", {"a.abf"});
    ASSERT_TRUE(Open(multi, 64, &b));
    EXPECT_EQ(b.substr(0, 10), "/d/a.abf\0\0"s);
    Choose(KAV_DIALOG_CHOSEN, "C:\\", {"a.abf"});
    ASSERT_TRUE(Open(single, 64, &b));
    EXPECT_EQ(b.substr(0, 9), "C:\\a.abf\0"s) << "no separator added after a root";
}

TEST_F(StandIns, OpenFileCapacityIsRespected)
{
    std::string b;
    Choose(KAV_DIALOG_CHOSEN, "/d", {"a.abf", "bb.abf"});  // 17 bytes with the closing NUL
    EXPECT_TRUE(Open(0x0088120C, 17, &b));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_FALSE(Open(0x0088120C, 16, &b));
    EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
    EXPECT_EQ(static_cast<unsigned char>(b[0]) | (static_cast<unsigned char>(b[1]) << 8), 17);
    Choose(KAV_DIALOG_CHOSEN, "/d", {"a.abf"});  // "/d/a.abf" and its NUL: 9 bytes
    EXPECT_TRUE(Open(0x0088100C, 9, &b));
    EXPECT_FALSE(Open(0x0088100C, 8, &b));
}

TEST_F(StandIns, OpenFileRefusals)
{
    std::string b;
    Choose(KAV_DIALOG_CHOSEN, "/d", {"a.abf"});
    for (DWORD size : {0u, 87u, 89u, 136u}) {
        EXPECT_FALSE(Open(0x0088100C, 64, &b, size)) << size;
        EXPECT_EQ(CommDlgExtendedError(), CDERR_STRUCTSIZE) << size;
    }
    EXPECT_TRUE(Open(0x0088100C, 64, &b, 76));  // the older record size is accepted
    Choose(KAV_DIALOG_FAIL, "", {});
    EXPECT_FALSE(Open(0x0088100C, 64, &b));
    EXPECT_EQ(CommDlgExtendedError(), CDERR_INITIALIZATION);
    Choose(KAV_DIALOG_CANCEL, "", {});
    EXPECT_FALSE(Open(0x0088100C, 64, &b));
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_EQ(b, std::string(64, '\0'));
    KavPlatformSetDialogAnswerers(nullptr, nullptr, nullptr);  // nobody to ask: cancelled
    Choose(KAV_DIALOG_CHOSEN, "/d", {"a.abf"});
    EXPECT_FALSE(Open(0x0088100C, 64, &b));
}

TEST_F(StandIns, EnvironmentExpansion)
{
    ::setenv("KAVSTAND_A", "alpha", 1);
    ::unsetenv("KAVSTAND_NONE");
    struct Row {
        const char* text;
        const char* expanded;
    };
    const Row rows[] = {
        {"%KAVSTAND_A%\\x", "alpha\\x"},
        {"x%KAVSTAND_A%%KAVSTAND_A%", "xalphaalpha"},
        {"%KAVSTAND_NONE%\\x", "%KAVSTAND_NONE%\\x"},
        {"100%", "100%"},
        {"%%", "%%"},
        {"", ""},
        {"%KAVSTAND_NONE%KAVSTAND_A%", "%KAVSTAND_NONEalpha"},
    };
    for (const Row& r : rows) {
        char out[64];
        const DWORD n = ExpandEnvironmentStringsA(r.text, out, sizeof out);
        EXPECT_EQ(n, std::strlen(r.expanded) + 1) << r.text;
        EXPECT_STREQ(out, r.expanded) << r.text;
    }
    // Too small: the size needed, nothing written.
    char small[4] = {'q', 'q', 'q', 'q'};
    EXPECT_EQ(ExpandEnvironmentStringsA("%KAVSTAND_A%", small, sizeof small), 6u);
    EXPECT_EQ(small[0], 'q');
    EXPECT_EQ(ExpandEnvironmentStringsA(nullptr, small, sizeof small), 0u);
}

TEST_F(StandIns, OleAndIdentifierLists)
{
    EXPECT_EQ(OleInitialize(nullptr), S_OK);
    EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
    EXPECT_EQ(KavPlatformOleDepth(), 2);
    OleUninitialize();
    OleUninitialize();
    EXPECT_EQ(KavPlatformOleDepth(), 0);
    KavPlatformFailOleInitialize(RPC_E_CHANGED_MODE);
    EXPECT_EQ(OleInitialize(nullptr), RPC_E_CHANGED_MODE);
    EXPECT_EQ(KavPlatformOleDepth(), 0);
    KavPlatformFailOleInitialize(0);

    BROWSEINFOA r;
    std::memset(&r, 0, sizeof r);
    char name[MAX_PATH];
    r.pszDisplayName = name;
    Choose(KAV_DIALOG_CHOSEN, "/data/abf", {});
    LPITEMIDLIST list = SHBrowseForFolderA(&r);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(name, "abf");
    EXPECT_EQ(KavPlatformLiveIdLists(), 1);
    char path[MAX_PATH];
    EXPECT_TRUE(SHGetPathFromIDListA(list, path));
    EXPECT_STREQ(path, "/data/abf");
    CoTaskMemFree(list);
    EXPECT_EQ(KavPlatformLiveIdLists(), 0);
    EXPECT_FALSE(SHGetPathFromIDListA(list, path)) << "a released list";
    CoTaskMemFree(list);
    EXPECT_EQ(KavPlatformBadFrees(), 1) << "released twice";

    Choose(KAV_DIALOG_NO_PATH, "", {});
    list = SHBrowseForFolderA(&r);
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(SHGetPathFromIDListA(list, path));
    EXPECT_STREQ(path, "");
    CoTaskMemFree(list);
    Choose(KAV_DIALOG_CANCEL, "", {});
    EXPECT_EQ(SHBrowseForFolderA(&r), nullptr);
    EXPECT_EQ(KavPlatformLiveIdLists(), 0);
}

TEST_F(StandIns, FileAttributes)
{
    EXPECT_EQ(GetFileAttributesA("."), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("/"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA("/proc/self/status"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesA("/no/such/place"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(""), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(nullptr), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
