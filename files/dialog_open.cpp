// kav_AbfFileOpenDialog: the file-open dialog, modal and owned by the host's
// client window: one or several files, the filter chosen by the mode shown first,
// an optional title and initial directory. The result is the chosen path or paths,
// empty when the user cancels. Returns 0, or kStatusOutOfMemory when the result
// string could not be created.
#include <cstring>

#include "dialog_requests.h"
#include "frame/boundary.h"
#include "frame/xop.h"

namespace {

// The title text: the caller's when it has 1 to 128 characters and can be
// NUL-terminated, the default otherwise.
const char* DialogTitle(Handle title)
{
    if (!title) return kDefaultOpenTitle;
    const std::size_t length = StringHandleLength(title);
    if (length < 1 || length > kMaxTitleLength) return kDefaultOpenTitle;
    if (TerminateStringHandle(title) != 0) return kDefaultOpenTitle;
    return *title;
}

// Fills `buffer` (kInitialDirBufferSize bytes, zeroed) with the initial directory
// when the caller's text names an existing directory; leaves it empty otherwise.
void PrepareInitialDir(Handle dir, char* buffer)
{
    const std::size_t length = StringHandleLength(dir);
    if (!IsAcceptableDirectoryText(*dir, length)) return;
    if (HostNativePath(dir) != 0) return;
    // The host rewrote the text in place; it ends at a NUL within the handle.
    const std::size_t room = StringHandleLength(dir);
    const std::size_t native = strnlen(*dir, room);
    if (native == room || native >= kInitialDirBufferSize) return;
    const DWORD attributes = GetFileAttributesA(*dir);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    std::memcpy(buffer, *dir, native + 1);
}

// A new string handle for what the dialog chose; null when the host has no memory.
Handle SelectionString(const char* fileBuffer, bool multiple)
{
    const OpenDialogSelection s = ReadOpenDialogSelection(fileBuffer, kOpenFileBufferSize, multiple);
    const std::size_t length = SelectionTextLength(s);
    // Allocated in one piece, then filled.
    Handle h = NewHandle(static_cast<intptr_t>(length));
    if (!h) return nullptr;
    if (length) WriteSelectionText(s, *h);
    return h;
}

// The dialog and its result; the title and the initial directory stay the
// function's.
int ShowOpenDialog(FileOpenDialogParams* p)
{
    const OpenDialogMode mode = ReadOpenDialogMode(p->mode);

    const char* title = DialogTitle(p->title);

    char initialDir[kInitialDirBufferSize];
    std::memset(initialDir, 0, sizeof initialDir);
    if (p->initialDir) PrepareInitialDir(p->initialDir, initialDir);

    char filters[sizeof kOpenFileFilters];
    std::memcpy(filters, kOpenFileFilters, sizeof filters);

    char fileBuffer[kOpenFileBufferSize];
    std::memset(fileBuffer, 0, sizeof fileBuffer);

    OPENFILENAMEA request;
    FillOpenFileRequest(&request, static_cast<HWND>(hostWindow), filters, fileBuffer,
                        p->initialDir ? initialDir : nullptr, title, mode);

    Handle result = nullptr;
    if (GetOpenFileNameA(&request))
        result = SelectionString(fileBuffer, mode.multiple);
    else
        result = NewHandle(0);  // cancelled or failed: an empty string

    p->result = result;
    return result ? kStatusOk : kStatusOutOfMemory;
}

}  // namespace

int kav_AbfFileOpenDialog(void* params)
{
    auto* p = OpenBlock<FileOpenDialogParams>(params);
    const int status = ShowOpenDialog(p);
    ReleaseString(p->title, kStatusOk);
    return ReleaseString(p->initialDir, status);
}
