// The shell's folder browser, preselecting the caller's folder after expanding
// its environment references.
#include <cstring>

#include "dialog_requests.h"
#include "dialogs.h"
#include "frame/host_services.h"
#include "frame/xop.h"

namespace {

#if KAV_WIN32
#pragma pack(push, 2)
#endif
struct BrowseParams {
    Handle initialFolder;
    Handle result;  // string result, passes to the host
};
#if KAV_WIN32
#pragma pack(pop)
#endif

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

}  // namespace

int kav_AbfBrowseForFolder(void* params)
{
    auto* p = static_cast<BrowseParams*>(params);
    p->result = nullptr;
    Handle folder = p->initialFolder;
    if (!folder) return kErrNullString;

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
    DisposeHandle(folder);
    p->result = result;
    return status;
}
