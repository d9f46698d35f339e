// The file-open dialog and the folder browser called through the stand-in host.
// Natively the host answers the dialog stand-ins from a script and records what
// each dialog was shown with; the host's ownership audit (handles, OLE
// initialisations, item identifier lists) is checked after every call. On Win32
// the real dialogs would appear, so only calls that show none run here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "files/dialog_requests.h"
#include "host/host.h"
#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform_hooks.h"
#endif

using namespace kavhost;

namespace {

const char kOpen[] = "kav_AbfFileOpenDialog";
const char kBrowse[] = "kav_AbfBrowseForFolder";

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.SetClientWindow(&clientWindow);
        ASSERT_TRUE(h.Load()) << h.LoadError();
    }
    void TearDown() override
    {
        EXPECT_TRUE(h.AuditClean()) << h.AuditReport();
        EXPECT_EQ(h.PendingDialogAnswers(), 0u) << "scripted answers left unused";
    }
    CallResult Call(const char* name, const std::vector<Arg>& args, const std::string& what)
    {
        CallResult r = h.Call(name, args);
        EXPECT_TRUE(r.called) << what << ": " << r.error;
        EXPECT_TRUE(r.Clean()) << what << ": leaked " << r.leaked << ", released twice " << r.doubleReleased
                               << ", used after release " << r.useAfterRelease
                               << (r.violations.empty() ? "" : ", " + r.violations.front());
        return r;
    }
    char clientWindow = 0;
    Host h;
};

TEST_F(Dialogs, BrowserWithoutFolderIsRefusedBeforeAnything)
{
    CallResult r = Call(kBrowse, {NullStr()}, "null folder");
    EXPECT_EQ(r.status, 10001);
    EXPECT_TRUE(r.resultNull);
    EXPECT_EQ(h.ErrorText(r.status), "Input string is non-existent.");
    EXPECT_TRUE(h.DialogsShown().empty());
}

#if !defined(_WIN32)

// Folders and files made for a test in the working folder (relative names: an
// initial directory may not contain a slash), removed afterwards.
class Scratch {
public:
    ~Scratch()
    {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) std::remove(it->c_str());
    }
    std::string Dir(const std::string& name)
    {
        ::mkdir(name.c_str(), 0755);
        made_.push_back(name);
        return name;
    }
    std::string File(const std::string& name)
    {
        std::ofstream(name) << "x";
        made_.push_back(name);
        return name;
    }

private:
    std::vector<std::string> made_;
};

const std::string kSep(1, kDialogPathSeparator);

// ---- File-open dialog: the request ------------------------------------------------

TEST_F(Dialogs, OpenRequestForEachMode)
{
    struct Row {
        double mode;
        uint32_t flags;
        uint32_t filter;
    };
    const Row rows[] = {
        {0, 0x0088100C, 11},   {1, 0x0088100C, 1},   {1.9, 0x0088100C, 1},  {-0.5, 0x0088100C, 11},
        {-1, 0x0088120C, 11},  {12, 0x0088100C, 11}, {256, 0x0088120C, 11}, {257, 0x0088120C, 1},
        {512, 0x0088100C, 11}, {263, 0x0088120C, 7}, {10, 0x0088100C, 10},
    };
    for (const Row& row : rows) {
        const std::string what = "mode " + std::to_string(row.mode);
        h.QueueDialogAnswer(CancelDialog());
        CallResult r = Call(kOpen, {Str("Pick"), NullStr(), Num(row.mode)}, what);
        EXPECT_EQ(r.status, 0) << what;
        EXPECT_FALSE(r.resultNull) << what;
        EXPECT_EQ(r.resultString, "") << what;
        ASSERT_FALSE(h.DialogsShown().empty()) << what;
        const DialogSeen& s = h.DialogsShown().back();
        EXPECT_EQ(s.kind, DialogSeen::Kind::OpenFile);
        EXPECT_EQ(s.structSize, 88u) << what;
        EXPECT_EQ(s.owner, &clientWindow) << what;
        EXPECT_EQ(s.flags, row.flags) << what;
        EXPECT_EQ(s.filterIndex, row.filter) << what;
        EXPECT_EQ(s.maxFile, 26200u) << what;
        EXPECT_TRUE(s.fileBufferZeroed) << what;
        EXPECT_TRUE(s.otherFieldsZero) << what;
        EXPECT_FALSE(s.hasInitialDir) << what;
        ASSERT_EQ(s.filters.size(), 11u) << what;
        EXPECT_TRUE(s.filtersClosed) << what;
    }
    EXPECT_EQ(h.DialogsShown().front().filters.front(),
              std::make_pair(std::string("Abf Files (*.abf)"), std::string("*.abf")));
    EXPECT_EQ(h.DialogsShown().front().filters.back(),
              std::make_pair(std::string("All Files (*.*)"), std::string("*.*")));
}

TEST_F(Dialogs, OpenTitles)
{
    struct Row {
        Arg title;
        std::string shown;
        const char* what;
    };
    const std::string t128(128, 'T'), t129(129, 'T');
    const Row rows[] = {
        {NullStr(), "Open file", "null title"},     {Str(""), "Open file", "empty title"},
        {Str("A"), "A", "one character"},           {Str(t128), t128, "128 characters"},
        {Str(t129), "Open file", "129 characters"}, {Str("Pick ABF files"), "Pick ABF files", "ordinary"},
    };
    for (const Row& row : rows) {
        h.QueueDialogAnswer(CancelDialog());
        CallResult r = Call(kOpen, {row.title, NullStr(), Num(1)}, row.what);
        EXPECT_EQ(r.status, 0) << row.what;
        ASSERT_FALSE(h.DialogsShown().empty());
        EXPECT_TRUE(h.DialogsShown().back().hasTitle) << row.what;
        EXPECT_EQ(h.DialogsShown().back().title, row.shown) << row.what;
    }
}

TEST_F(Dialogs, OpenInitialDirectories)
{
    Scratch scratch;
    const std::string dir = scratch.Dir("dlgtest_dir");
    scratch.Dir(dir + "/sub");
    const std::string file = scratch.File("dlgtest_file.abf");
    const std::string accented = scratch.Dir("dlgtest_caf\xE9");
    ::setenv("KAVDLG_DIR", dir.c_str(), 1);
    struct Row {
        Arg dir;
        bool passed;        // the dialog gets the buffer at all
        std::string shown;  // what the buffer holds
        int nativePathMessages;
        const char* what;
    };
    const Row rows[] = {
        {NullStr(), false, "", 0, "no directory"},
        {Str(dir), true, dir, 1, "existing directory"},
        {Str(accented), true, accented, 1, "accented name"},
        {Str(""), true, "", 0, "empty text"},
        {Str(file), true, "", 1, "a file"},
        {Str("dlgtest_missing"), true, "", 1, "missing"},
        {Str(dir + "/sub"), true, "", 0, "with a slash"},
        {Str("dlgtest_d?r"), true, "", 0, "with a question mark"},
        {Str(std::string(261, 'd')), true, "", 0, "261 characters"},
        {Str(std::string(260, 'd')), true, "", 1, "260 characters, missing"},
        {Str("%KAVDLG_DIR%"), true, "", 1, "environment reference (not expanded)"},
        {Str(dir + "\t"), true, "", 0, "control character"},
    };
    for (const Row& row : rows) {
        h.QueueDialogAnswer(CancelDialog());
        h.ClearMessages();
        CallResult r = Call(kOpen, {Str("T"), row.dir, Num(0)}, row.what);
        EXPECT_EQ(r.status, 0) << row.what;
        ASSERT_FALSE(h.DialogsShown().empty());
        const DialogSeen& s = h.DialogsShown().back();
        EXPECT_EQ(s.hasInitialDir, row.passed) << row.what;
        EXPECT_EQ(s.initialDir, row.shown) << row.what;
        EXPECT_EQ(h.CountMessages(172), row.nativePathMessages) << row.what;
    }
    ::unsetenv("KAVDLG_DIR");
}

// ---- File-open dialog: the results --------------------------------------------------

TEST_F(Dialogs, OpenResults)
{
    struct Row {
        DialogAnswer answer;
        double mode;
        std::string expected;
        const char* what;
    };
    const Row rows[] = {
        {ChooseFile("/data/abf/a.abf"), 1, "/data/abf/a.abf", "one file"},
        {ChooseFile("/data/abf/a.abf"), 257, "/data/abf/a.abf", "one file, several allowed"},
        {ChooseFiles("/data/abf", {"a.abf", "b.abf"}), 257, "/data/abf" + kSep + "a.abf|/data/abf" + kSep + "b.abf",
         "two files"},
        {ChooseFiles("C:\\", {"a.abf", "b.abf", "c.abf"}), -1,
         "C:\\" + kSep + "a.abf|C:\\" + kSep + "b.abf|C:\\" + kSep + "c.abf", "three in a drive root"},
        {ChooseFiles("/data/abf", {"a.abf", "b.abf"}), 1, "/data/abf/a.abf", "several offered, one allowed"},
        {CancelDialog(), 257, "", "cancel"},
        {FailDialog(), 1, "", "dialog failure"},
    };
    for (const Row& row : rows) {
        h.QueueDialogAnswer(row.answer);
        CallResult r = Call(kOpen, {Str("T"), Str("dlgtest_nowhere"), Num(row.mode)}, row.what);
        EXPECT_EQ(r.status, 0) << row.what;
        EXPECT_FALSE(r.resultNull) << row.what;
        EXPECT_EQ(r.resultString, row.expected) << row.what;
    }
}

TEST_F(Dialogs, OpenSelectionTooLongForTheBufferIsAFailure)
{
    // 120 names of about 250 characters in a 250-character folder: beyond 26200 bytes.
    std::vector<std::string> names;
    for (int i = 0; i < 120; ++i) names.push_back(std::to_string(i) + std::string(246, 'n'));
    h.QueueDialogAnswer(ChooseFiles("/" + std::string(249, 'd'), names));
    CallResult r = Call(kOpen, {Str("T"), NullStr(), Num(257)}, "too long");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.resultNull);
    EXPECT_TRUE(r.resultString.empty()) << r.resultString.size() << " characters";

    // Just fitting: 26200 bytes with the closing NUL.
    const std::string dir = "/d";  // 2 + 1
    std::vector<std::string> fit;
    std::size_t used = dir.size() + 1 + 1;
    while (used + 100 + 1 <= 26200) {
        fit.push_back(std::string(100, static_cast<char>('a' + fit.size() % 26)));
        used += 101;
    }
    const std::size_t rest = 26200 - used;
    if (rest >= 2) {
        fit.push_back(std::string(rest - 1, 'z'));
        used += rest;
    }
    ASSERT_EQ(used, 26200u);
    h.QueueDialogAnswer(ChooseFiles(dir, fit));
    r = Call(kOpen, {Str("T"), NullStr(), Num(256)}, "fits exactly");
    EXPECT_EQ(r.status, 0);
    std::size_t expectedLength = 0;
    for (auto& n : fit) expectedLength += dir.size() + n.size() + 2;
    EXPECT_EQ(r.resultString.size(), expectedLength - 1);
    EXPECT_EQ(r.resultString.substr(0, 3 + 100), dir + kSep + fit[0]);
}

TEST_F(Dialogs, OpenOutOfMemory)
{
    Scratch scratch;
    const std::string dir = scratch.Dir("dlgtest_oom");
    // The result string cannot be had: status 1, no result, inputs released.
    for (const DialogAnswer& a : {CancelDialog(), ChooseFile("/x/a.abf"), ChooseFiles("/x", {"a", "b"})}) {
        h.QueueDialogAnswer(a);
        h.FailMemory(kOpNew, 1);
        CallResult r = Call(kOpen, {Str("Title"), Str(dir), Num(257)}, "no memory for the result");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.resultNull);
        h.FailMemory(kOpNew, 0);
    }
    // The title cannot be NUL-terminated: the default title.
    h.QueueDialogAnswer(CancelDialog());
    h.FailMemory(kOpResize, 1);
    CallResult r = Call(kOpen, {Str("Title"), NullStr(), Num(1)}, "title not grown");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(h.DialogsShown().back().title, "Open file");
    // The directory cannot be grown for the host's rewrite: no initial directory.
    h.QueueDialogAnswer(CancelDialog());
    h.ClearMessages();
    h.FailMemory(kOpResize, 1);
    r = Call(kOpen, {NullStr(), Str(dir), Num(1)}, "directory not grown");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(h.DialogsShown().back().initialDir, "");
    EXPECT_EQ(h.CountMessages(172), 0);
    h.FailMemory(kOpResize, 0);
}

TEST_F(Dialogs, OpenWithMovingBlocks)
{
    Scratch scratch;
    const std::string dir = scratch.Dir("dlgtest_move");
    h.SetMoveOnResize(true);
    h.QueueDialogAnswer(ChooseFiles("/m", {"a.abf", "b.abf"}));
    CallResult r = Call(kOpen, {Str("Moving"), Str(dir), Num(257)}, "moving blocks");
    EXPECT_EQ(r.resultString, "/m" + kSep + "a.abf|/m" + kSep + "b.abf");
    EXPECT_EQ(h.DialogsShown().back().title, "Moving");
    EXPECT_EQ(h.DialogsShown().back().initialDir, dir);
}

// ---- Folder browser ------------------------------------------------------------------

TEST_F(Dialogs, BrowserRequestAndPreselection)
{
    ::setenv("KAVDLG_ROOT", "/data/root", 1);
    ::setenv("KAVDLG_LONG", std::string(300, 'L').c_str(), 1);
    ::setenv("KAVDLG_259", std::string(259, 'p').c_str(), 1);
    ::setenv("KAVDLG_260", std::string(260, 'p').c_str(), 1);
    ::unsetenv("KAVDLG_UNSET");
    struct Row {
        std::string folder;
        bool preselected;
        std::string expanded;
        const char* what;
    };
    const Row rows[] = {
        {"%KAVDLG_ROOT%/abf", true, "/data/root/abf", "environment reference"},
        {"/plain/folder", true, "/plain/folder", "plain path"},
        {"", true, "", "empty text"},
        {"%KAVDLG_UNSET%/x", true, "%KAVDLG_UNSET%/x", "undefined variable kept"},
        {"%KAVDLG_LONG%", false, "", "expansion needs 301 bytes"},
        {"%KAVDLG_259%", true, std::string(259, 'p'), "expansion needs 260 bytes"},
        {"%KAVDLG_260%", false, "", "expansion needs 261 bytes"},
    };
    for (const Row& row : rows) {
        h.QueueDialogAnswer(CancelDialog());
        CallResult r = Call(kBrowse, {Str(row.folder)}, row.what);
        EXPECT_EQ(r.status, 0) << row.what;
        EXPECT_FALSE(r.resultNull) << row.what;
        EXPECT_EQ(r.resultString, "") << row.what;
        ASSERT_FALSE(h.DialogsShown().empty());
        const DialogSeen& s = h.DialogsShown().back();
        EXPECT_EQ(s.kind, DialogSeen::Kind::BrowseFolder);
        EXPECT_EQ(s.owner, &clientWindow) << row.what;
        EXPECT_EQ(s.flags, 0x43u) << row.what;
        EXPECT_FALSE(s.hasRoot) << row.what;
        EXPECT_FALSE(s.hasTitle) << row.what;
        EXPECT_TRUE(s.hasDisplayName) << row.what;
        EXPECT_EQ(s.image, 0) << row.what;
        EXPECT_TRUE(s.oleReady) << row.what;
        EXPECT_EQ(s.hasCallback, row.preselected) << row.what;
        EXPECT_EQ(s.hasCallbackData, row.preselected) << row.what;
        EXPECT_EQ(s.callbackData, row.expanded) << row.what;
        EXPECT_EQ(s.preselected, row.preselected) << row.what;
        EXPECT_EQ(s.preselection, row.expanded) << row.what;
        EXPECT_EQ(KavPlatformOleDepth(), 0) << row.what;
    }
}

TEST_F(Dialogs, BrowserResults)
{
    struct Row {
        DialogAnswer answer;
        std::string expected;
        const char* what;
    };
    const Row rows[] = {
        {ChooseFolder("/data/abf"), "/data/abf", "a folder"},
        {ChooseFolder("C:\\"), "C:\\", "a drive root, unchanged"},
        {ChooseFolder("/data/caf\xE9"), "/data/caf\xE9", "accented"},
        {ChooseFolder("/" + std::string(258, 'f')), "/" + std::string(258, 'f'), "259 characters"},
        {ChooseFolder("/" + std::string(259, 'f')), "", "260 characters: no path"},
        {ChooseVirtualItem(), "", "a virtual item"},
        {CancelDialog(), "", "cancel"},
    };
    for (const Row& row : rows) {
        h.QueueDialogAnswer(row.answer);
        CallResult r = Call(kBrowse, {Str("/start")}, row.what);
        EXPECT_EQ(r.status, 0) << row.what;
        EXPECT_FALSE(r.resultNull) << row.what;
        EXPECT_EQ(r.resultString, row.expected) << row.what;
        EXPECT_EQ(KavPlatformLiveIdLists(), 0) << row.what;
    }
}

TEST_F(Dialogs, BrowserWithoutOle)
{
    KavPlatformFailOleInitialize(RPC_E_CHANGED_MODE);
    CallResult r = Call(kBrowse, {Str("/start")}, "OLE refused");
    KavPlatformFailOleInitialize(0);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.resultNull);
    EXPECT_EQ(r.resultString, "");
    EXPECT_TRUE(h.DialogsShown().empty()) << "no browser without OLE";
}

TEST_F(Dialogs, BrowserWithOleAlreadyInitialised)
{
    // The thread's own initialisation stays; the call's is undone.
    ASSERT_EQ(OleInitialize(nullptr), S_OK);
    h.QueueDialogAnswer(ChooseFolder("/chosen"));
    CallResult r = Call(kBrowse, {Str("/start")}, "OLE already there");
    EXPECT_EQ(r.resultString, "/chosen");
    EXPECT_EQ(KavPlatformOleDepth(), 1);
    OleUninitialize();
}

TEST_F(Dialogs, BrowserOutOfMemory)
{
    // The path's string: the host's code, no result.
    h.QueueDialogAnswer(ChooseFolder("/chosen"));
    h.FailMemory(kOpPtrToHand, 1);
    CallResult r = Call(kBrowse, {Str("/start")}, "no memory for the path");
    EXPECT_EQ(r.status, kHostNoMemory);
    EXPECT_TRUE(r.resultNull);
    // The empty string: status 1, no result.
    h.QueueDialogAnswer(CancelDialog());
    h.FailMemory(kOpNew, 1);
    r = Call(kBrowse, {Str("/start")}, "no memory for the empty string");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.resultNull);
    // The folder cannot be NUL-terminated: the browser opens without a preselection.
    h.QueueDialogAnswer(ChooseFolder("/chosen"));
    h.FailMemory(kOpResize, 1);
    r = Call(kBrowse, {Str("/start")}, "folder not grown");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.resultString, "/chosen");
    EXPECT_FALSE(h.DialogsShown().back().preselected);
    h.FailMemory(kOpAll, 0);
}

TEST_F(Dialogs, UnscriptedDialogIsReportedByTheAudit)
{
    // A dialog nobody answers is cancelled, and the host reports it: the audit
    // catches tests (and callers) that show dialogs they did not expect.
    CallResult r = h.Call(kOpen, {Str("T"), NullStr(), Num(1)});
    EXPECT_EQ(r.resultString, "");
    ASSERT_EQ(r.violations.size(), 1u);
    EXPECT_NE(r.violations[0].find("no answer scripted"), std::string::npos);
    h.Heap().violations.clear();
}

#endif  // !_WIN32

}  // namespace
