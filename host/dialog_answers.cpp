// The host's side of the dialog stand-ins: scripted answers, answers typed on the
// terminal, the record of what each dialog was shown with, and the audit of what
// the dialogs leave behind (OLE initialisations, item identifier lists).
#include "host.h"

#include <cstdio>
#include <cstring>
#include <iostream>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#if defined(KAV_HOST_HAVE_PLATFORM)
#include "platform/platform_hooks.h"
#endif
#endif

namespace kavhost {

// ---------------------------------------------------------------- answers

DialogAnswer CancelDialog() { return DialogAnswer{}; }

DialogAnswer ChooseFile(const std::string& path)
{
    DialogAnswer a;
    a.kind = DialogAnswer::Kind::Files;
    const auto cut = path.find_last_of("/\\");
    if (cut == std::string::npos) {
        a.names = {path};
    } else {
        // A drive or file-system root keeps its separator ("C:\", "/").
        const bool root = cut == 0 || (cut == 2 && path[1] == ':');
        a.directory = path.substr(0, root ? cut + 1 : cut);
        a.names = {path.substr(cut + 1)};
    }
    return a;
}

DialogAnswer ChooseFiles(const std::string& directory, const std::vector<std::string>& names)
{
    DialogAnswer a;
    a.kind = DialogAnswer::Kind::Files;
    a.directory = directory;
    a.names = names;
    return a;
}

DialogAnswer ChooseFolder(const std::string& path)
{
    DialogAnswer a;
    a.kind = DialogAnswer::Kind::Folder;
    a.directory = path;
    return a;
}

DialogAnswer ChooseVirtualItem()
{
    DialogAnswer a;
    a.kind = DialogAnswer::Kind::NoPath;
    return a;
}

DialogAnswer FailDialog()
{
    DialogAnswer a;
    a.kind = DialogAnswer::Kind::Fail;
    return a;
}

bool ParseDialogAnswer(const std::string& text, DialogAnswer* out)
{
    auto after = [&](const char* prefix, std::string* rest) {
        const std::size_t n = std::strlen(prefix);
        if (text.compare(0, n, prefix) != 0) return false;
        *rest = text.substr(n);
        return true;
    };
    std::string rest;
    if (text == "cancel") {
        *out = CancelDialog();
    } else if (text == "fail") {
        *out = FailDialog();
    } else if (text == "nopath") {
        *out = ChooseVirtualItem();
    } else if (after("file:", &rest) && !rest.empty()) {
        *out = ChooseFile(rest);
    } else if (after("folder:", &rest) && !rest.empty()) {
        *out = ChooseFolder(rest);
    } else if (after("files:", &rest)) {
        std::vector<std::string> parts;
        std::size_t start = 0;
        for (;;) {
            const std::size_t bar = rest.find('|', start);
            parts.push_back(rest.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
        if (parts.size() < 2) return false;
        for (std::size_t i = 1; i < parts.size(); ++i)
            if (parts[i].empty()) return false;
        *out = ChooseFiles(parts[0], std::vector<std::string>(parts.begin() + 1, parts.end()));
    } else {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- the terminal

namespace {

bool ReadLine(std::string* line)
{
    if (!std::getline(std::cin, *line)) return false;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
}

// A typed path as the dialog would give it: relative paths are taken from the
// current folder (the dialog always answers with full paths).
std::string FullPath(const std::string& typed)
{
#if defined(_WIN32)
    return typed;
#else
    if (!typed.empty() && typed[0] == '/') return typed;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return typed;
    return std::string(cwd) + (std::string(cwd) == "/" ? "" : "/") + typed;
#endif
}

bool FileExists(const std::string& path)
{
#if defined(_WIN32)
    (void)path;
    return true;
#else
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
#endif
}

void Describe(const DialogSeen& s, std::ostream& o)
{
    if (s.kind == DialogSeen::Kind::BrowseFolder) {
        o << "\nFolder browser";
        if (s.preselected)
            o << ", preselected: " << s.preselection << "\n";
        else
            o << ", nothing preselected\n";
        return;
    }
    const bool several = (s.flags & 0x200u) != 0;
    o << "\nFile-open dialog \"" << (s.hasTitle ? s.title : std::string("Open")) << "\""
      << (several ? ", several files may be chosen" : ", one file") << "\n";
    o << "  initial directory: " << (s.hasInitialDir && !s.initialDir.empty() ? s.initialDir : "(none)") << "\n";
    o << "  file types (* the one shown first):\n";
    for (std::size_t i = 0; i < s.filters.size(); ++i)
        o << "  " << (i + 1 == s.filterIndex ? "* " : "  ") << (i + 1 < 10 ? " " : "") << i + 1 << "  "
          << s.filters[i].first << "\n";
}

// Asks until the person gives a usable answer; end of input cancels.
DialogAnswer AskOnTerminal(const DialogSeen& s)
{
    std::ostream& o = std::cerr;
    Describe(s, o);
    std::string line;
    if (s.kind == DialogSeen::Kind::BrowseFolder) {
        o << "Folder to choose (empty line: Cancel; ? : an item without a file-system path):\n> " << std::flush;
        if (!ReadLine(&line) || line.empty()) return CancelDialog();
        if (line == "?") return ChooseVirtualItem();
        return ChooseFolder(FullPath(line));
    }
    const bool several = (s.flags & 0x200u) != 0;
    const bool mustExist = (s.flags & 0x1000u) != 0;
    for (;;) {
        if (several)
            o << "Paths of the files, one per line, all in one folder; an empty line ends the list\n"
                 "(an empty first line: Cancel):\n";
        else
            o << "Path of the file (empty line: Cancel):\n";
        std::vector<DialogAnswer> picked;
        while (o << "> " << std::flush, ReadLine(&line) && !line.empty()) {
            picked.push_back(ChooseFile(FullPath(line)));
            if (!several) break;
        }
        if (picked.empty()) return CancelDialog();
        DialogAnswer a = picked.front();
        bool usable = true;
        for (std::size_t i = 1; i < picked.size() && usable; ++i) {
            if (picked[i].directory != a.directory) {
                o << "The files must be in one folder.\n";
                usable = false;
            }
            a.names.push_back(picked[i].names.front());
        }
        for (std::size_t i = 0; i < a.names.size() && usable && mustExist; ++i) {
            std::string full = a.directory.empty() ? a.names[i] : a.directory + "/" + a.names[i];
            if (!FileExists(full)) {
                o << "No such file: " << full << "\n";
                usable = false;
            }
        }
        if (usable) return a;
    }
}

}  // namespace

// ---------------------------------------------------------------- the host

DialogAnswer Host::AnswerDialog(const DialogSeen& seen)
{
    dialogsShown_.push_back(seen);
    if (!dialogAnswers_.empty()) {
        DialogAnswer a = dialogAnswers_.front();
        dialogAnswers_.pop_front();
        return a;
    }
    if (interactiveDialogs_) return AskOnTerminal(seen);
    heap_.NoteViolation(std::string(seen.kind == DialogSeen::Kind::OpenFile ? "file-open dialog" : "folder browser") +
                        " shown with no answer scripted (cancelled)");
    return CancelDialog();
}

#if !defined(_WIN32) && defined(KAV_HOST_HAVE_PLATFORM)

namespace {

// The choice handed back to the stand-in; its texts live here until the next one.
struct ChoiceStore {
    DialogAnswer answer;
    std::vector<const char*> names;
};
ChoiceStore gChoice;

void Fill(const DialogAnswer& a, KavDialogChoice* choice)
{
    gChoice.answer = a;
    gChoice.names.clear();
    for (const std::string& n : gChoice.answer.names) gChoice.names.push_back(n.c_str());
    switch (a.kind) {
    case DialogAnswer::Kind::Cancel: choice->outcome = KAV_DIALOG_CANCEL; break;
    case DialogAnswer::Kind::Fail: choice->outcome = KAV_DIALOG_FAIL; break;
    case DialogAnswer::Kind::NoPath: choice->outcome = KAV_DIALOG_NO_PATH; break;
    case DialogAnswer::Kind::Files:
    case DialogAnswer::Kind::Folder: choice->outcome = KAV_DIALOG_CHOSEN; break;
    }
    choice->directory = gChoice.answer.directory.c_str();
    choice->names = gChoice.names.data();
    choice->nameCount = static_cast<int>(gChoice.names.size());
}

// Reads the filter block: pairs up to an empty description (at most 64 KiB).
void ReadFilters(const char* block, DialogSeen* s)
{
    if (!block) return;
    const char* p = block;
    const char* end = block + 65536;
    while (p < end && *p) {
        std::string description = p;
        p += description.size() + 1;
        std::string pattern = p;
        p += pattern.size() + 1;
        s->filters.emplace_back(description, pattern);
    }
    s->filtersClosed = p < end;
}

void AnswerOpenFile(void* context, const OPENFILENAMEA* r, KavDialogChoice* choice)
{
    auto* host = static_cast<Host*>(context);
    DialogSeen s;
    s.kind = DialogSeen::Kind::OpenFile;
    s.structSize = r->lStructSize;
    s.owner = r->hwndOwner;
    s.flags = r->Flags;
    ReadFilters(r->lpstrFilter, &s);
    s.filterIndex = r->nFilterIndex;
    s.maxFile = r->nMaxFile;
    s.fileBufferZeroed = r->lpstrFile != nullptr;
    for (DWORD i = 0; r->lpstrFile && i < r->nMaxFile && s.fileBufferZeroed; ++i)
        s.fileBufferZeroed = r->lpstrFile[i] == 0;
    s.hasTitle = r->lpstrTitle != nullptr;
    if (s.hasTitle) s.title = r->lpstrTitle;
    s.hasInitialDir = r->lpstrInitialDir != nullptr;
    if (s.hasInitialDir) s.initialDir = r->lpstrInitialDir;
    s.otherFieldsZero = !r->hInstance && !r->lpstrCustomFilter && !r->nMaxCustFilter && !r->lpstrFileTitle &&
                        !r->nMaxFileTitle && !r->nFileOffset && !r->nFileExtension && !r->lpstrDefExt &&
                        !r->lCustData && !r->lpfnHook && !r->lpTemplateName && !r->pvReserved && !r->dwReserved &&
                        !r->FlagsEx;
    Fill(host->AnswerDialog(s), choice);
}

void AnswerBrowse(void* context, const BROWSEINFOA* r, const char* preselection, int oleReady, KavDialogChoice* choice)
{
    auto* host = static_cast<Host*>(context);
    DialogSeen s;
    s.kind = DialogSeen::Kind::BrowseFolder;
    s.owner = r->hwndOwner;
    s.flags = r->ulFlags;
    s.hasRoot = r->pidlRoot != nullptr;
    s.hasDisplayName = r->pszDisplayName != nullptr;
    s.hasTitle = r->lpszTitle != nullptr;
    if (s.hasTitle) s.title = r->lpszTitle;
    s.hasCallback = r->lpfn != nullptr;
    s.hasCallbackData = r->lParam != 0;
    if (s.hasCallbackData) s.callbackData = reinterpret_cast<const char*>(r->lParam);
    s.preselected = preselection != nullptr;
    if (preselection) s.preselection = preselection;
    s.oleReady = oleReady != 0;
    s.image = r->iImage;
    Fill(host->AnswerDialog(s), choice);
}

}  // namespace

void Host::InstallDialogAnswerers()
{
    KavPlatformResetDialogs();
    KavPlatformSetDialogAnswerers(AnswerOpenFile, AnswerBrowse, this);
}

void Host::RemoveDialogAnswerers() { KavPlatformSetDialogAnswerers(nullptr, nullptr, nullptr); }

void Host::BeginDialogAudit() { oleDepthBefore_ = KavPlatformOleDepth(); }

void Host::AuditDialogs(CallResult*)
{
    // Findings go to the heap's violations, which the call's result collects.
    const int depth = KavPlatformOleDepth();
    if (depth != oleDepthBefore_)
        heap_.NoteViolation("OLE initialisations not matched: depth " + std::to_string(oleDepthBefore_) +
                            " before the call, " + std::to_string(depth) + " after it");
    const int lists = KavPlatformLiveIdLists();
    if (lists != 0) heap_.NoteViolation(std::to_string(lists) + " item identifier list(s) not released");
    const int bad = KavPlatformBadFrees();
    if (bad != 0) heap_.NoteViolation(std::to_string(bad) + " CoTaskMemFree call(s) on something not allocated");
    if (lists != 0 || bad != 0) KavPlatformResetDialogs();
}

#else  // Win32: the real dialogs; nothing to answer or audit here.

void Host::InstallDialogAnswerers() {}
void Host::RemoveDialogAnswerers() {}
void Host::BeginDialogAudit() {}
void Host::AuditDialogs(CallResult*) {}

#endif

}  // namespace kavhost
