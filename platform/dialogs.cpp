// Stand-ins for the dialogs and what goes with them: GetFileAttributesA,
// ExpandEnvironmentStringsA, GetOpenFileNameA, SHBrowseForFolderA with its item
// identifier lists, OLE initialisation and SendMessageA. What the user chooses
// comes from the answerers the host installed (platform_hooks.h); the stand-ins
// keep the Windows contract around it: the file buffer's layout and capacity,
// the browser's callback events, the identifier list that must be freed.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform_hooks.h"

// The identifier list the browser stand-in hands out: a path, or none for an
// item that has no place in the file system.
struct _ITEMIDLIST {
    bool hasPath;
    char path[1024];
};

namespace {

std::mutex gMutex;
KavOpenFileAnswerer gOpenFileAnswerer = nullptr;
KavBrowseAnswerer gBrowseAnswerer = nullptr;
void* gAnswerContext = nullptr;

thread_local int tOleDepth = 0;
HRESULT gOleFailure = 0;
DWORD gDialogError = 0;

std::set<const ITEMIDLIST*> gLiveLists;
int gBadFrees = 0;

int gSentCount = 0;
UINT gLastSent = 0;
WPARAM gLastWParam = 0;
std::string gLastSentText;

// The browser window being shown (at most one: the browser is modal) and the
// path its callback asked it to select.
char gBrowserWindowTag;
bool gBrowserOpen = false;
bool gPreselected = false;
std::string gPreselection;

HWND BrowserWindow() { return static_cast<HWND>(&gBrowserWindowTag); }

// Bytes the file-open dialog writes for a choice: one full path and a NUL, or the
// folder and each name NUL-terminated, then one more NUL.
std::string OpenFileText(const KavDialogChoice& c)
{
    const std::string dir = c.directory ? c.directory : "";
    std::string text;
    if (c.nameCount == 1) {
        text = dir;
        if (!text.empty() && text.back() != KAV_PLATFORM_PATH_SEPARATOR && text.back() != '\\')
            text += KAV_PLATFORM_PATH_SEPARATOR;
        text += c.names[0];
        text.push_back('\0');
    } else {
        text = dir;
        text.push_back('\0');
        for (int i = 0; i < c.nameCount; ++i) {
            text += c.names[i];
            text.push_back('\0');
        }
    }
    text.push_back('\0');
    return text;
}

}  // namespace

// ---- kernel32 ----------------------------------------------------------------

DWORD GetFileAttributesA(LPCSTR path)
{
    struct stat st;
    if (!path || !*path || stat(path, &st) != 0) return INVALID_FILE_ATTRIBUTES;
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size)
{
    if (!source) return 0;
    // As Windows: %NAME% of a defined variable becomes its value; a reference to
    // an undefined variable, and a lone percent sign, stay as written.
    std::string out;
    for (const char* p = source; *p;) {
        if (*p == '%') {
            const char* end = std::strchr(p + 1, '%');
            if (end && end > p + 1) {
                const std::string name(p + 1, static_cast<std::size_t>(end - p - 1));
                const char* value = std::getenv(name.c_str());
                if (value) {
                    out += value;
                    p = end + 1;
                    continue;
                }
                out.append(p, static_cast<std::size_t>(end - p));  // keep "%NAME", the closing % may open the next
                p = end;
                continue;
            }
        }
        out.push_back(*p++);
    }
    const DWORD needed = static_cast<DWORD>(out.size() + 1);
    if (destination && size >= needed) std::memcpy(destination, out.c_str(), needed);
    return needed;
}

// ---- comdlg32 ----------------------------------------------------------------

BOOL GetOpenFileNameA(LPOPENFILENAMEA request)
{
    gDialogError = 0;
    if (!request) {
        gDialogError = CDERR_INITIALIZATION;
        return FALSE;
    }
    if (request->lStructSize != KAV_OPENFILENAME_SIZE && request->lStructSize != KAV_OPENFILENAME_SIZE_400) {
        gDialogError = CDERR_STRUCTSIZE;
        return FALSE;
    }
    if (!request->lpstrFile || request->nMaxFile == 0) {
        gDialogError = CDERR_INITIALIZATION;
        return FALSE;
    }
    KavOpenFileAnswerer answer;
    void* context;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        answer = gOpenFileAnswerer;
        context = gAnswerContext;
    }
    KavDialogChoice choice{KAV_DIALOG_CANCEL, nullptr, nullptr, 0};
    if (answer) answer(context, request, &choice);
    if (choice.outcome == KAV_DIALOG_FAIL) {
        gDialogError = CDERR_INITIALIZATION;
        return FALSE;
    }
    if (choice.outcome != KAV_DIALOG_CHOSEN || choice.nameCount < 1 || !choice.names) return FALSE;
    // Several names only when the caller allowed them; otherwise the first one.
    KavDialogChoice used = choice;
    if (!(request->Flags & OFN_ALLOWMULTISELECT)) used.nameCount = 1;
    const std::string text = OpenFileText(used);
    // What the caller's buffer holds must include the list's final NUL.
    const std::size_t needed = used.nameCount == 1 ? text.size() - 1 : text.size();
    if (needed > request->nMaxFile) {
        // Windows writes the size it would need into the buffer's first two bytes.
        gDialogError = FNERR_BUFFERTOOSMALL;
        if (request->nMaxFile >= 2) {
            const WORD need = static_cast<WORD>(needed > 0xFFFF ? 0xFFFF : needed);
            std::memcpy(request->lpstrFile, &need, sizeof need);
        }
        return FALSE;
    }
    std::memcpy(request->lpstrFile, text.data(), needed);
    const std::size_t dirLength = choice.directory ? std::strlen(choice.directory) : 0;
    request->nFileOffset = static_cast<WORD>(
        used.nameCount == 1 ? std::strlen(request->lpstrFile) - std::strlen(used.names[0]) : dirLength + 1);
    const char* first = request->lpstrFile + request->nFileOffset;
    const char* dot = std::strrchr(first, '.');
    request->nFileExtension = static_cast<WORD>(dot ? dot + 1 - request->lpstrFile : 0);
    return TRUE;
}

DWORD CommDlgExtendedError(void) { return gDialogError; }

// ---- shell32 -----------------------------------------------------------------

LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA request)
{
    if (!request) return nullptr;
    KavBrowseAnswerer answer;
    void* context;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        answer = gBrowseAnswerer;
        context = gAnswerContext;
    }
    gBrowserOpen = true;
    gPreselected = false;
    gPreselection.clear();
    // The browser's events: initialised, then the selection it starts with.
    if (request->lpfn) {
        request->lpfn(BrowserWindow(), BFFM_INITIALIZED, 0, request->lParam);
        request->lpfn(BrowserWindow(), BFFM_SELCHANGED, 0, request->lParam);
    }
    const std::string preselection = gPreselection;
    const bool preselected = gPreselected;
    gBrowserOpen = false;

    KavDialogChoice choice{KAV_DIALOG_CANCEL, nullptr, nullptr, 0};
    if (answer) answer(context, request, preselected ? preselection.c_str() : nullptr, tOleDepth > 0, &choice);
    if (choice.outcome != KAV_DIALOG_CHOSEN && choice.outcome != KAV_DIALOG_NO_PATH) return nullptr;

    auto* list = static_cast<ITEMIDLIST*>(std::calloc(1, sizeof(ITEMIDLIST)));
    if (!list) return nullptr;
    list->hasPath = choice.outcome == KAV_DIALOG_CHOSEN && choice.directory;
    if (list->hasPath) {
        std::strncpy(list->path, choice.directory, sizeof list->path - 1);
        if (request->pszDisplayName) {
            // The display name: the folder's last part, at most MAX_PATH bytes.
            const char* slash = std::strrchr(choice.directory, KAV_PLATFORM_PATH_SEPARATOR);
            const char* name = slash && slash[1] ? slash + 1 : choice.directory;
            std::strncpy(request->pszDisplayName, name, MAX_PATH - 1);
            request->pszDisplayName[MAX_PATH - 1] = '\0';
        }
    }
    std::lock_guard<std::mutex> lock(gMutex);
    gLiveLists.insert(list);
    return list;
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path)
{
    if (!path) return FALSE;
    path[0] = '\0';
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (!list || !gLiveLists.count(list)) return FALSE;
    }
    // A path that does not fit MAX_PATH bytes with its NUL cannot be given.
    if (!list->hasPath || std::strlen(list->path) >= MAX_PATH) return FALSE;
    std::strcpy(path, list->path);
    return TRUE;
}

// ---- ole32 -------------------------------------------------------------------

HRESULT OleInitialize(LPVOID)
{
    if (gOleFailure < 0) return gOleFailure;
    const bool first = tOleDepth == 0;
    ++tOleDepth;
    return first ? S_OK : S_FALSE;
}

void OleUninitialize(void) { --tOleDepth; }

void CoTaskMemFree(LPVOID block)
{
    if (!block) return;
    std::lock_guard<std::mutex> lock(gMutex);
    auto* list = static_cast<ITEMIDLIST*>(block);
    if (!gLiveLists.erase(list)) {
        ++gBadFrees;  // not a live list: never free what we did not hand out
        return;
    }
    std::free(list);
}

// ---- user32 ------------------------------------------------------------------

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ++gSentCount;
    gLastSent = message;
    gLastWParam = wParam;
    const char* text = wParam && lParam ? reinterpret_cast<const char*>(lParam) : nullptr;
    gLastSentText = text ? text : "";
    if (window == BrowserWindow() && gBrowserOpen && message == BFFM_SETSELECTIONA && wParam && text) {
        gPreselected = true;
        gPreselection = text;
    }
    return 0;
}

// ---- hooks -------------------------------------------------------------------

void KavPlatformSetDialogAnswerers(KavOpenFileAnswerer openFile, KavBrowseAnswerer browse, void* context)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gOpenFileAnswerer = openFile;
    gBrowseAnswerer = browse;
    gAnswerContext = context;
}

int KavPlatformOleDepth(void) { return tOleDepth; }

int KavPlatformLiveIdLists(void)
{
    std::lock_guard<std::mutex> lock(gMutex);
    return static_cast<int>(gLiveLists.size());
}

int KavPlatformBadFrees(void) { return gBadFrees; }

void KavPlatformFailOleInitialize(HRESULT failure) { gOleFailure = failure < 0 ? failure : 0; }

int KavPlatformSentMessageCount(void) { return gSentCount; }

UINT KavPlatformLastSentMessage(WPARAM* wParam, const char** text)
{
    if (wParam) *wParam = gLastWParam;
    if (text) *text = gLastSentText.c_str();
    return gLastSent;
}

void KavPlatformResetDialogs(void)
{
    std::lock_guard<std::mutex> lock(gMutex);
    for (const ITEMIDLIST* list : gLiveLists) std::free(const_cast<ITEMIDLIST*>(list));
    gLiveLists.clear();
    gBadFrees = 0;
    gOleFailure = 0;
    tOleDepth = 0;
    gSentCount = 0;
    gLastSent = 0;
    gLastWParam = 0;
    gLastSentText.clear();
    gDialogError = 0;
}
