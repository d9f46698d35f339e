// kav_AbfBrowseForFolder: the shell's folder browser, modal and owned by the
// host's client window, preselecting the caller's folder after expanding its
// environment references (%NAME%). The result is the chosen folder's path, empty
// when the user cancels. Returns 0, kErrNullString for a null folder, the host's
// code when the result string could not be created (kStatusOutOfMemory for an
// empty one).
#include <cstring>

#include "dialog_requests.h"
#include "frame/boundary.h"
#include "frame/xop.h"

namespace {

// Shows the browser (OLE initialised around it) and leaves the chosen folder's
// path in `path` (kBrowsePathSize bytes, zeroed); false when there is none.
bool ChooseFolder(const char* preselection, char* path)
{
    const HRESULT ole = OleInitialize(nullptr);
    if (ole < 0) return false;
    char displayName[kBrowseDisplayNameSize];
    std::memset(displayName, 0, sizeof displayName);
    BROWSEINFOA request;
    FillBrowseRequest(&request, static_cast<HWND>(hostWindow), displayName, preselection);
    bool chosen = false;
    LPITEMIDLIST list = SHBrowseForFolderA(&request);
    if (list) {
        chosen = SHGetPathFromIDListA(list, path) != FALSE;
        CoTaskMemFree(list);
    }
    OleUninitialize();
    return chosen;
}

// The browser and its result; the folder stays the function's.
int Browse(BrowseForFolderParams* p)
{
    Handle folder = p->initialFolder;
    if (int status = RequireString(folder)) return status;

    // The folder to preselect: the expanded text when it fits its buffer. A text
    // that cannot be NUL-terminated is not expanded; the browser opens anyway.
    char expanded[kBrowseFolderBufferSize];
    std::memset(expanded, 0, sizeof expanded);
    const char* preselection = nullptr;
    if (TerminateStringHandle(folder) == 0 &&
        ExpandedFolderUsable(ExpandEnvironmentStringsA(*folder, expanded, sizeof expanded)))
        preselection = expanded;

    char path[kBrowsePathSize];
    std::memset(path, 0, sizeof path);
    const bool chosen = ChooseFolder(preselection, path);
    const std::size_t length = chosen ? strnlen(path, sizeof path) : 0;

    int status = kStatusOk;
    Handle result = nullptr;
    if (length > 0) {
        status = NewStringHandle(path, length, &result);
        if (status != 0) result = nullptr;  // nothing is handed back on failure
    } else {
        result = NewHandle(0);
        if (!result) status = kStatusOutOfMemory;
    }
    p->result = result;
    return status;
}

}  // namespace

int kav_AbfBrowseForFolder(void* params)
{
    return RunExternalFunction(params, &BrowseForFolderParams::initialFolder, Browse);
}
