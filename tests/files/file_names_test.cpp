// The file-name functions called through the stand-in host, with the host's
// ownership audit checked after every call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "file_name_examples.h"
#include "host/host.h"
#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/platform_hooks.h"
#endif

using namespace kavhost;

namespace {

const char* const kStringFunctions[4] = {"kav_AbfFileStripExt", "kav_AbfFileStripFileName", "kav_AbfFileStripPathName",
                                         "kav_AbfFileGetExt"};
const char kSplit[] = "kav_AbfFileSplitPath";

// One path and what each function makes of it.
struct Expected {
    std::string path;
    std::string strings[4];  // in the order of kStringFunctions
    std::string parts[4];    // drive, directory, name, extension
    int which = 0;
};

std::vector<Expected> ExampleTable()
{
    std::vector<Expected> rows;
    std::istringstream in(kFileNameExamples);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        std::size_t start = 0;
        for (;;) {
            std::size_t tab = line.find('\t', start);
            cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        EXPECT_EQ(cells.size(), 10u) << "table line: " << line;
        if (cells.size() != 10) continue;
        Expected e;
        e.path = cells[0];
        for (int i = 0; i < 4; ++i) e.strings[i] = cells[1 + i];
        for (int i = 0; i < 4; ++i) e.parts[i] = cells[5 + i];
        e.which = std::atoi(cells[9].c_str());
        rows.push_back(e);
    }
    return rows;
}

// Calls a function and checks the audit of that call.
CallResult CallAudited(Host& h, const std::string& name, const std::vector<Arg>& args, const std::string& what)
{
    CallResult r = h.Call(name, args);
    EXPECT_TRUE(r.called) << what << ": " << r.error;
    EXPECT_TRUE(r.Clean()) << what << ": leaked " << r.leaked << ", released twice " << r.doubleReleased
                           << ", used after release " << r.useAfterRelease
                           << (r.violations.empty() ? "" : ", " + r.violations.front());
    return r;
}

// Checks every function's answer for one path; the split is done with the given
// initial contents of its reference strings.
void CheckPath(Host& h, const Expected& e, const std::vector<Arg>& refs, const std::string& label)
{
    for (int f = 0; f < 4; ++f) {
        const std::string what = label + " " + kStringFunctions[f] + "(\"" + e.path + "\")";
        CallResult r = CallAudited(h, kStringFunctions[f], {Str(e.path)}, what);
        EXPECT_EQ(r.status, 0) << what;
        EXPECT_FALSE(r.resultNull) << what;
        EXPECT_EQ(r.resultString, e.strings[f]) << what;
    }
    std::vector<Arg> args{Str(e.path)};
    args.insert(args.end(), refs.begin(), refs.end());
    const std::string what = label + " " + kSplit + "(\"" + e.path + "\")";
    CallResult r = CallAudited(h, kSplit, args, what);
    EXPECT_EQ(r.status, 0) << what;
    EXPECT_EQ(r.resultNumber, e.which) << what;
    ASSERT_EQ(r.args.size(), 5u) << what;
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(r.args[1 + i].null) << what << " part " << i;
        EXPECT_EQ(r.args[1 + i].text, e.parts[i]) << what << " part " << i;
    }
}

std::vector<Arg> NullRefs() { return {NullStrRef(), NullStrRef(), NullStrRef(), NullStrRef()}; }

// Reference strings holding text: longer and shorter than the parts, empty.
std::vector<Arg> FilledRefs() { return {StrRef("old drive"), StrRef(""), StrRef("x"), StrRef(std::string(300, 'e'))}; }

class FileNames : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(h.Load()) << h.LoadError(); }
    void TearDown() override { EXPECT_TRUE(h.AuditClean()) << h.AuditReport(); }
    Host h;
};

TEST_F(FileNames, ExampleTableEveryFunctionEveryColumn)
{
    const std::vector<Expected> rows = ExampleTable();
    ASSERT_GE(rows.size(), 10u);
    for (bool move : {false, true}) {
        // Blocks that move on every resize make stale pointers read poison.
        h.SetMoveOnResize(move);
        const std::string label = move ? "[moving blocks]" : "";
        for (const Expected& e : rows) {
            CheckPath(h, e, NullRefs(), label + "[null refs]");
            CheckPath(h, e, FilledRefs(), label + "[filled refs]");
        }
    }
}

TEST_F(FileNames, NullPathAllocatesAndReleasesNothing)
{
    for (const char* f : kStringFunctions) {
        const int before = h.Heap().PluginCalls();
        CallResult r = CallAudited(h, f, {NullStr()}, f);
        EXPECT_EQ(r.status, kErrNullString) << f;
        EXPECT_TRUE(r.resultNull) << f;
        EXPECT_EQ(h.Heap().PluginCalls(), before) << f << " used host memory";
    }
    EXPECT_EQ(h.ErrorText(kErrNullString), "Input string is non-existent.");

    const int before = h.Heap().PluginCalls();
    CallResult r = CallAudited(h, kSplit, {NullStr(), StrRef("d"), NullStrRef(), StrRef(""), StrRef("ext")}, kSplit);
    EXPECT_EQ(r.status, kErrNullString);
    EXPECT_EQ(r.resultNumber, 0);
    EXPECT_EQ(h.Heap().PluginCalls(), before) << "the split used host memory";
    ASSERT_EQ(r.args.size(), 5u);
    EXPECT_EQ(r.args[1].text, "d");
    EXPECT_TRUE(r.args[2].null);
    EXPECT_FALSE(r.args[3].null);
    EXPECT_EQ(r.args[3].text, "");
    EXPECT_EQ(r.args[4].text, "ext");
}

// Directories, names and extensions longer than 255 bytes are cut to 255 in the
// split; the other functions keep the whole text.
TEST_F(FileNames, LongPartsAreCutOnlyInTheSplit)
{
    const std::string dir = "\\" + std::string(300, 'd') + "\\";
    const std::string name(300, 'n');
    const std::string ext = "." + std::string(299, 'e');
    struct Case {
        std::string path;
        std::string parts[4];
    };
    const Case cases[] = {
        {"C:\\dir\\" + name + ".abf", {"C:", "\\dir\\", name.substr(0, 255), ".abf"}},
        {"C:" + dir + "cell1.abf", {"C:", dir.substr(0, 255), "cell1", ".abf"}},
        {"cell1" + ext, {"", "", "cell1", ext.substr(0, 255)}},
        {dir + name + ext, {"", dir.substr(0, 255), name.substr(0, 255), ext.substr(0, 255)}},
    };
    for (const Case& c : cases) {
        for (const std::vector<Arg>& refs : {NullRefs(), FilledRefs()}) {
            std::vector<Arg> args{Str(c.path)};
            args.insert(args.end(), refs.begin(), refs.end());
            CallResult r = CallAudited(h, kSplit, args, "split of a long path");
            EXPECT_EQ(r.status, 0);
            int which = 0;
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(r.args[1 + i].text, c.parts[i]) << "part " << i << " of " << c.path.size() << "-byte path";
                if (!c.parts[i].empty()) which |= 1 << i;
            }
            EXPECT_EQ(r.resultNumber, which);
        }
    }
    CallResult r = CallAudited(h, "kav_AbfFileStripPathName", {Str("C:\\dir\\" + name + ".abf")}, "long name");
    EXPECT_EQ(r.resultString, name + ".abf");
    r = CallAudited(h, "kav_AbfFileGetExt", {Str("a" + ext)}, "long extension");
    EXPECT_EQ(r.resultString, ext.substr(1));
}

// When host memory runs out, the functions answer status 1 (no result string,
// the split's variables as they were) and release what they own. Every memory
// operation of each call is made to fail in turn until a call completes.
TEST_F(FileNames, OutOfMemoryLeavesVariablesAndLeaksNothing)
{
    const std::vector<Expected> rows = ExampleTable();
    for (const Expected& e : rows) {
        for (int f = 0; f < 4; ++f) {
            for (int nth = 1;; ++nth) {
                ASSERT_LT(nth, 50) << "no end to the failures";
                h.FailMemory(kavhost::kOpAll, nth);
                const std::string what =
                    std::string(kStringFunctions[f]) + "(\"" + e.path + "\") failing op " + std::to_string(nth);
                CallResult r = CallAudited(h, kStringFunctions[f], {Str(e.path)}, what);
                h.FailMemory(0, 0);
                if (r.status == 0) {
                    EXPECT_EQ(r.resultString, e.strings[f]) << what;
                    break;
                }
                EXPECT_EQ(r.status, kStatusOutOfMemory) << what;
                EXPECT_TRUE(r.resultNull) << what;
            }
        }
        // Variables of every kind at once: one to grow, one to shrink, one to
        // create, one holding an empty string.
        const std::vector<Arg> refs{StrRef("drive text"), NullStrRef(), StrRef(""), StrRef("x")};
        int failures = 0;
        for (int nth = 1;; ++nth) {
            ASSERT_LT(nth, 50) << "no end to the failures";
            std::vector<Arg> args{Str(e.path)};
            args.insert(args.end(), refs.begin(), refs.end());
            h.FailMemory(kavhost::kOpAll, nth);
            const std::string what = "split(\"" + e.path + "\") failing op " + std::to_string(nth);
            CallResult r = CallAudited(h, kSplit, args, what);
            h.FailMemory(0, 0);
            if (r.status == 0) {
                EXPECT_EQ(r.resultNumber, e.which) << what;
                for (int i = 0; i < 4; ++i) EXPECT_EQ(r.args[1 + i].text, e.parts[i]) << what;
                break;
            }
            ++failures;
            EXPECT_EQ(r.status, kStatusOutOfMemory) << what;
            EXPECT_EQ(r.resultNumber, 0) << what;
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(r.args[1 + i].null, refs[i].null) << what << " variable " << i;
                EXPECT_EQ(r.args[1 + i].text, refs[i].text) << what << " variable " << i;
            }
        }
        EXPECT_GE(failures, 2) << e.path << ": the split grows the path and creates a handle";
    }
    // Every memory operation failing from some point on: still status 1 or 0
    // and nothing leaked or released twice.
    for (int nth = 1; nth < 12; ++nth) {
        h.FailMemory(kavhost::kOpAll, nth, true);
        CallResult r = CallAudited(
            h, kSplit, {Str("C:\\data\\cell1.abf"), StrRef("drive text"), NullStrRef(), StrRef(""), StrRef("x")},
            "sticky failure " + std::to_string(nth));
        h.FailMemory(0, 0);
        EXPECT_TRUE(r.status == 0 || r.status == kStatusOutOfMemory) << r.status;
    }
}

#if defined(_WIN32)
#pragma pack(push, 2)
#endif
// The split's parameter block, as the host lays it out.
struct SplitBlock {
    Handle* extension;
    Handle* name;
    Handle* directory;
    Handle* drive;
    Handle path;
    double result;
};
#if defined(_WIN32)
#pragma pack(pop)
#endif

// A host procedure may pass one string variable for several parts: it ends up
// holding the last part stored (the extension), and nothing leaks.
TEST_F(FileNames, OneVariableForEveryPart)
{
    auto split = reinterpret_cast<XopExternalFunction>(h.FunctionAddress(21));
    ASSERT_NE(split, nullptr);
    HandleHeap& heap = h.Heap();
    for (bool holdsText : {true, false}) {
        Handle var = holdsText ? heap.FromText("previous text", Owner::Host) : nullptr;
        SplitBlock b{&var, &var, &var, &var, heap.FromText("C:\\d\\n.ext", Owner::Plugin), -1};
        EXPECT_EQ(split(&b), 0);
        EXPECT_EQ(b.result, 15);
        ASSERT_NE(var, nullptr);
        EXPECT_EQ(heap.Text(var), ".ext");
        std::vector<Handle> owned = heap.PluginOwned();
        if (holdsText) {
            EXPECT_TRUE(owned.empty()) << owned.size() << " handles left with the plug-in";
        } else {
            ASSERT_EQ(owned.size(), 1u);
            EXPECT_EQ(owned[0], var) << "the new handle is the only one the plug-in made";
        }
        heap.SetOwner(var, Owner::Host);
        heap.Free(var);
        EXPECT_EQ(heap.doubleReleased + heap.useAfterRelease, 0);
        EXPECT_TRUE(heap.violations.empty());
    }
}

// ---- Double-byte paths -----------------------------------------------------------
// In code page 932, 0x95 0x5C and 0x83 0x5C are single characters whose second
// byte is a backslash; in a single-byte code page that byte separates.

struct DoubleByteCase {
    std::string path;
    std::string cp932[4];
    std::string singleByte[4];
};

const DoubleByteCase kDoubleByteCases[] = {
    {"C:\\dir\\\x95\x5C", {"C:", "\\dir\\", "\x95\x5C", ""}, {"C:", "\\dir\\\x95\x5C", "", ""}},
    {"\x83\x5C.abf", {"", "", "\x83\x5C", ".abf"}, {"", "\x83\x5C", "", ".abf"}},
    {"C:\\\x95\x5C\\cell1.abf", {"C:", "\\\x95\x5C\\", "cell1", ".abf"}, {"C:", "\\\x95\x5C\\", "cell1", ".abf"}},
    {"\x95\x5C\x95\x5C.d\\\x83\x5C",
     {"", "\x95\x5C\x95\x5C.d\\", "\x83\x5C", ""},
     {"", "\x95\x5C\x95\x5C.d\\\x83\x5C", "", ""}},
    {"\x95\x5C.d", {"", "", "\x95\x5C", ".d"}, {"", "\x95\x5C", "", ".d"}},
    {"dir\\name\x95", {"", "dir\\", "name\x95", ""}, {"", "dir\\", "name\x95", ""}},
};

class DoubleByte : public FileNames {
protected:
    // Runs the cases in the given code page; false when it is not the process's.
    bool UseCodePage(unsigned codePage)
    {
#if defined(_WIN32)
        return GetACP() == codePage;
#else
        KavPlatformSetCodePage(codePage);
        return true;
#endif
    }
    void TearDown() override
    {
#if !defined(_WIN32)
        KavPlatformSetCodePage(0);
#endif
        FileNames::TearDown();
    }
    void CheckSplits(bool cp932)
    {
        for (const DoubleByteCase& c : kDoubleByteCases) {
            CallResult r = CallAudited(h, kSplit, {Str(c.path), NullStrRef(), StrRef("old"), NullStrRef(), StrRef("")},
                                       "double-byte split");
            EXPECT_EQ(r.status, 0);
            const std::string* expected = cp932 ? c.cp932 : c.singleByte;
            int which = 0;
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(r.args[1 + i].text, expected[i]) << "part " << i << " of case " << (&c - kDoubleByteCases);
                if (!expected[i].empty()) which |= 1 << i;
            }
            EXPECT_EQ(r.resultNumber, which);
        }
    }
};

TEST_F(DoubleByte, TrailByteIsNoSeparatorInCodePage932)
{
    if (!UseCodePage(932))
        GTEST_SKIP() << "the ANSI code page is not 932; the test files.double_byte_cp932 runs this under a "
                        "Shift-JIS locale";
    CheckSplits(true);
    // The other four functions look at single bytes whatever the code page.
    CallResult r = CallAudited(h, "kav_AbfFileStripPathName", {Str("C:\\dir\\\x95\x5C")}, "single bytes");
    EXPECT_EQ(r.resultString, "");
    r = CallAudited(h, "kav_AbfFileStripFileName", {Str("\x83\x5C.abf")}, "single bytes");
    EXPECT_EQ(r.resultString, "\x83\x5C");
}

TEST_F(DoubleByte, EveryByteStandsAloneInSingleByteCodePage)
{
#if defined(_WIN32)
    const bool singleByte = !IsDBCSLeadByte(0x95) && !IsDBCSLeadByte(0x83);
#else
    const bool singleByte = UseCodePage(1252);
#endif
    if (!singleByte) GTEST_SKIP() << "the ANSI code page (" << GetACP() << ") is a double-byte one";
    CheckSplits(false);
}

// Under the Shift-JIS locale the double-byte test must really have run.
TEST_F(DoubleByte, ExpectedCodePageIsInEffect)
{
    const char* expected = std::getenv("KAV_EXPECT_CODE_PAGE");
    if (!expected) GTEST_SKIP() << "no code page expected";
    EXPECT_EQ(GetACP(), static_cast<unsigned>(std::atoi(expected)))
        << "the locale did not give Wine the expected ANSI code page (is the locales package installed?)";
}

}  // namespace
