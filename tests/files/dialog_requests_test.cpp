// The dialogs' request records, the mode and directory rules, the filter block,
// the browser callback, and the reading of the file-open dialog's buffer into the
// result string: plain functions, no dialog shown.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "files/dialog_requests.h"
#if !defined(_WIN32)
#include "platform/platform_hooks.h"
#endif

namespace {

const std::string kSep(1, kDialogPathSeparator);

TEST(OpenDialogMode, TruncationAndTheTwoFields)
{
    struct Row {
        double mode;
        bool multiple;
        int filter;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {0, false, 11},           {1, false, 1},
        {1.9, false, 1},          {-0.5, false, 11},
        {-1, true, 11},           {2, false, 2},
        {10.99, false, 10},       {11, false, 11},
        {12, false, 11},          {255, false, 11},
        {256, true, 11},          {257, true, 1},
        {266, true, 10},          {267, true, 11},
        {512, false, 11},         {513, false, 11},
        {768, true, 11},          {769.5, true, 11},
        {-255, true, 11},         {-256, true, 11},
        {-1.9, true, 11},         {nan, false, 11},
        {1e12, false, 11},        {-1e12, false, 11},
        {2147483647.9, true, 11}, {-2147483648.0, false, 11},
        {-512, false, 11},        {-257.7, false, 11},
    };
    for (const Row& r : rows) {
        const OpenDialogMode m = ReadOpenDialogMode(r.mode);
        EXPECT_EQ(m.multiple, r.multiple) << "mode " << r.mode;
        EXPECT_EQ(m.filterIndex, r.filter) << "mode " << r.mode;
    }
}

TEST(OpenDialogMode, TruncatesTowardZeroWithinRangeOnly)
{
    const std::pair<double, int32_t> rows[] = {
        {1.9, 1},
        {-1.9, -1},
        {-0.5, 0},
        {2147483647.0, INT32_MAX},
        {2147483647.99, INT32_MAX},
        {-2147483648.0, INT32_MIN},
        {-2147483648.9, INT32_MIN},
        {2147483648.0, INT32_MIN},
        {-2147483649.0, INT32_MIN},
        {std::numeric_limits<double>::infinity(), INT32_MIN},
        {std::numeric_limits<double>::quiet_NaN(), INT32_MIN},
    };
    for (auto& [mode, expected] : rows) EXPECT_EQ(TruncateMode(mode), expected) << "mode " << mode;
}

TEST(OpenDialogFilters, ElevenPairsInOrderClosedByAnEmptyText)
{
    const std::pair<const char*, const char*> expected[] = {
        {"Abf Files (*.abf)", "*.abf"},
        {"Data Files (*.dat)", "*.dat"},
        {"Packed Experiment Files (*.pxp)", "*.pxp"},
        {"Unpacked Experiment Files (*.uxp)", "*.uxp"},
        {"Binary Wave Files (*.ibw)", "*.ibw"},
        {"Comma-separated Files (*.csv)", "*.csv"},
        {"Igor Text Files (*.itx)", "*.itx"},
        {"Text Files (*.txt)", "*.txt"},
        {"Image Files (*.bmp;*.jpg;*.tif)", "*.bmp;*.jpg;*.tif"},
        {"TIFF Files (*.tif;*.tiff)", "*.tif;*.tiff"},
        {"All Files (*.*)", "*.*"},
    };
    static_assert(sizeof expected / sizeof expected[0] == kFilterCount, "filter count");
    const char* p = kOpenFileFilters;
    const char* end = kOpenFileFilters + sizeof kOpenFileFilters;
    for (const auto& e : expected) {
        ASSERT_LT(p, end);
        EXPECT_STREQ(p, e.first);
        p += std::strlen(p) + 1;
        ASSERT_LT(p, end);
        EXPECT_STREQ(p, e.second);
        p += std::strlen(p) + 1;
    }
    // The closing empty text is the block's last byte.
    ASSERT_EQ(p + 1, end);
    EXPECT_EQ(*p, '\0');
    EXPECT_STREQ(kDefaultOpenTitle, "Open file");
}

TEST(InitialDirectory, AcceptableTexts)
{
    struct Row {
        std::string text;
        bool ok;
    };
    std::vector<Row> rows = {
        {"C:\\data", true},
        {"data", true},
        {"C:", true},
        {"\\\\server\\share", true},
        {"a b.c%d~e", true},
        {"%TEMP%\\abf", true},
        {"C:\\caf\xE9", true},
        {"\x81\x5C", true},
        {"\x7F", true},
        {"", false},
        {"C:/data", false},
        {"a*b", false},
        {"a?b", false},
        {"a\"b", false},
        {"a<b", false},
        {"a>b", false},
        {"a|b", false},
        {"a\tb", false},
        {"a\x1F", false},
        {"\x01", false},
        {std::string(260, 'd'), true},
        {std::string(261, 'd'), false},
    };
    rows.push_back({std::string("a\0b", 3), false});  // an embedded NUL is a control character
    for (const Row& r : rows)
        EXPECT_EQ(IsAcceptableDirectoryText(r.text.data(), r.text.size()), r.ok)
            << "\"" << r.text << "\" (" << r.text.size() << " bytes)";
    EXPECT_FALSE(IsAcceptableDirectoryText(nullptr, 3));
}

TEST(OpenFileRequest, EveryFieldSingleAndMultiple)
{
    char fileBuffer[16];
    const char title[] = "Pick";
    const char dir[] = "C:\\data";
    HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    for (bool multiple : {false, true}) {
        OPENFILENAMEA r;
        std::memset(&r, 0xAB, sizeof r);  // stale bytes everywhere
        FillOpenFileRequest(&r, owner, kOpenFileFilters, fileBuffer, dir, title, OpenDialogMode{multiple, 7});
#if defined(_WIN64)
        EXPECT_EQ(r.lStructSize, 152u);  // the whole record, with 64-bit pointers
#else
        EXPECT_EQ(r.lStructSize, 88u);
#endif
        EXPECT_EQ(r.hwndOwner, owner);
        EXPECT_EQ(r.lpstrFilter, kOpenFileFilters);
        EXPECT_EQ(r.nFilterIndex, 7u);
        EXPECT_EQ(r.lpstrFile, fileBuffer);
        EXPECT_EQ(r.nMaxFile, 26200u);
        EXPECT_EQ(r.lpstrInitialDir, dir);
        EXPECT_EQ(r.lpstrTitle, title);
        EXPECT_EQ(r.Flags, multiple ? 0x0088120Cu : 0x0088100Cu);
        // Everything else is zero or null.
        EXPECT_EQ(r.hInstance, nullptr);
        EXPECT_EQ(r.lpstrCustomFilter, nullptr);
        EXPECT_EQ(r.nMaxCustFilter, 0u);
        EXPECT_EQ(r.lpstrFileTitle, nullptr);
        EXPECT_EQ(r.nMaxFileTitle, 0u);
        EXPECT_EQ(r.nFileOffset, 0u);
        EXPECT_EQ(r.nFileExtension, 0u);
        EXPECT_EQ(r.lpstrDefExt, nullptr);
        EXPECT_EQ(r.lCustData, 0);
        EXPECT_EQ(r.lpfnHook, nullptr);
        EXPECT_EQ(r.lpTemplateName, nullptr);
        EXPECT_EQ(r.pvReserved, nullptr);
        EXPECT_EQ(r.dwReserved, 0u);
        EXPECT_EQ(r.FlagsEx, 0u);
    }
    OPENFILENAMEA r;
    FillOpenFileRequest(&r, nullptr, kOpenFileFilters, fileBuffer, nullptr, title, OpenDialogMode{false, 11});
    EXPECT_EQ(r.lpstrInitialDir, nullptr);
}

// A dialog buffer of `size` bytes holding `content` then zeros.
std::vector<char> Buffer(const std::string& content, std::size_t size = kOpenFileBufferSize)
{
    std::vector<char> b(size, '\0');
    std::memcpy(b.data(), content.data(), std::min(content.size(), size));
    return b;
}

std::string Assemble(const std::vector<char>& buffer, bool multiple, std::size_t* names = nullptr)
{
    const OpenDialogSelection s = ReadOpenDialogSelection(buffer.data(), buffer.size(), multiple);
    if (names) *names = s.nameCount;
    std::string out(SelectionTextLength(s), '?');
    if (!out.empty()) WriteSelectionText(s, &out[0]);
    return out;
}

TEST(OpenDialogResult, BufferContentsToResultStrings)
{
    using namespace std::string_literals;
    struct Row {
        std::string buffer;
        bool multiple;
        std::string expected;
        std::size_t names;
    };
    const Row rows[] = {
        {"C:\\data\\a.abf\0"s, false, "C:\\data\\a.abf", 0},
        {"C:\\data\\a.abf\0\0"s, true, "C:\\data\\a.abf", 0},
        {"C:\\data\0a.abf\0b.abf\0\0"s, true, "C:\\data" + kSep + "a.abf|C:\\data" + kSep + "b.abf", 2},
        {"D\0x\0yy\0zzz\0\0"s, true, "D" + kSep + "x|D" + kSep + "yy|D" + kSep + "zzz", 3},
        // A drive root ends with a backslash; the separator is inserted all the same.
        {"C:\\\0a.abf\0b.abf\0\0"s, true, "C:\\" + kSep + "a.abf|C:\\" + kSep + "b.abf", 2},
        // Without multiple selection only the first text counts.
        {"C:\\data\0a.abf\0b.abf\0\0"s, false, "C:\\data", 0},
        {""s, false, "", 0},
        {""s, true, "", 0},
    };
    for (const Row& r : rows) {
        std::size_t names = 99;
        EXPECT_EQ(Assemble(Buffer(r.buffer), r.multiple, &names), r.expected) << r.expected;
        EXPECT_EQ(names, r.names) << r.expected;
    }
}

TEST(OpenDialogResult, LengthRuleOverManyNames)
{
    // n names of growing length in a folder: length = sum(dir + name + 2) - 1.
    const std::string dir = "Z:\\some folder\\deeper";
    std::string content = dir + '\0';
    std::size_t expected = 0;
    std::string joined;
    for (int i = 1; i <= 40; ++i) {
        const std::string name = std::string(static_cast<std::size_t>(i), static_cast<char>('a' + i % 26)) + ".abf";
        content += name + '\0';
        expected += dir.size() + name.size() + 2;
        joined += (i > 1 ? "|" : "") + dir + kSep + name;
    }
    content += '\0';
    const std::vector<char> b = Buffer(content);
    const OpenDialogSelection s = ReadOpenDialogSelection(b.data(), b.size(), true);
    EXPECT_EQ(s.nameCount, 40u);
    EXPECT_EQ(SelectionTextLength(s), expected - 1);
    EXPECT_EQ(Assemble(b, true), joined);
}

TEST(OpenDialogResult, NeverReadsBeyondTheBuffer)
{
    using namespace std::string_literals;
    // A buffer that ends inside a name: the cut name is dropped.
    std::vector<char> b = Buffer("D\0a\0bcdef"s, 9);
    EXPECT_EQ(Assemble(b, true), "D" + kSep + "a");
    // A first text that fills the whole buffer.
    b = Buffer(std::string(12, 'p'), 12);
    EXPECT_EQ(Assemble(b, true), std::string(12, 'p'));
    EXPECT_EQ(Assemble(b, false), std::string(12, 'p'));
    // Its NUL as the last byte, no room for the closing empty text.
    b = Buffer("pp\0"s, 3);
    EXPECT_EQ(Assemble(b, true), "pp");
}

TEST(BrowseRequest, EveryFieldWithAndWithoutPreselection)
{
    char displayName[kBrowseDisplayNameSize];
    const char folder[] = "C:\\data";
    HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4321));
    BROWSEINFOA r;
    std::memset(&r, 0xAB, sizeof r);
    FillBrowseRequest(&r, owner, displayName, folder);
    EXPECT_EQ(r.hwndOwner, owner);
    EXPECT_EQ(r.pidlRoot, nullptr);
    EXPECT_EQ(r.pszDisplayName, displayName);
    EXPECT_EQ(r.lpszTitle, nullptr);
    EXPECT_EQ(r.ulFlags, 0x43u);
    EXPECT_EQ(r.lpfn, &BrowsePreselect);
    EXPECT_EQ(r.lParam, reinterpret_cast<LPARAM>(folder));
    EXPECT_EQ(r.iImage, 0);

    std::memset(&r, 0xAB, sizeof r);
    FillBrowseRequest(&r, owner, displayName, nullptr);
    EXPECT_EQ(r.lpfn, nullptr);
    EXPECT_EQ(r.lParam, 0);
    EXPECT_EQ(r.ulFlags, 0x43u);
    EXPECT_EQ(r.pidlRoot, nullptr);
    EXPECT_EQ(r.lpszTitle, nullptr);
}

TEST(BrowseRequest, ExpansionCountsThatFit)
{
    const std::pair<DWORD, bool> rows[] = {{0, false},  {1, true},    {2, true},    {259, true},
                                           {260, true}, {261, false}, {4096, false}};
    for (auto& [count, ok] : rows) EXPECT_EQ(ExpandedFolderUsable(count), ok) << count;
}

#if !defined(_WIN32)
TEST(BrowseRequest, CallbackSelectsTheFolderOnceInitialisedOnly)
{
    KavPlatformResetDialogs();
    const char folder[] = "/data/abf";
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x99));
    const UINT others[] = {BFFM_SELCHANGED, 0, 3, 4, 0x466};
    for (UINT event : others) {
        EXPECT_EQ(BrowsePreselect(window, event, 0, reinterpret_cast<LPARAM>(folder)), 0);
        EXPECT_EQ(KavPlatformSentMessageCount(), 0) << "event " << event;
    }
    EXPECT_EQ(BrowsePreselect(window, BFFM_INITIALIZED, 0, reinterpret_cast<LPARAM>(folder)), 0);
    ASSERT_EQ(KavPlatformSentMessageCount(), 1);
    WPARAM wParam = 0;
    const char* text = nullptr;
    EXPECT_EQ(KavPlatformLastSentMessage(&wParam, &text), 0x466u);
    EXPECT_EQ(wParam, 1u);
    EXPECT_STREQ(text, folder);
}
#else
TEST(BrowseRequest, CallbackAnswersZero)
{
    const char folder[] = "C:\\";
    for (UINT event : {UINT{BFFM_INITIALIZED}, UINT{BFFM_SELCHANGED}, UINT{7}})
        EXPECT_EQ(BrowsePreselect(nullptr, event, 0, reinterpret_cast<LPARAM>(folder)), 0);
}
#endif

}  // namespace
