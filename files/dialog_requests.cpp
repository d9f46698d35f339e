#include "dialog_requests.h"

#include <cstring>

const char kDefaultOpenTitle[] = "Open file";

namespace {

bool ForbiddenInDirectory(unsigned char c)
{
    if (c < 32) return true;
    switch (c) {
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
    case '/': return true;
    default: return false;
    }
}

}  // namespace

// ---- File-open dialog ------------------------------------------------------------

OpenDialogMode ReadOpenDialogMode(double mode)
{
    const uint32_t bits = static_cast<uint32_t>(TruncateMode(mode));
    const int32_t index = static_cast<int32_t>(bits & ~kMultipleSelectionBit);
    OpenDialogMode m;
    m.multiple = (bits & kMultipleSelectionBit) != 0;
    m.filterIndex = index >= 1 && index <= kFilterCount ? index : kAllFilesFilter;
    return m;
}

bool IsAcceptableDirectoryText(const char* text, std::size_t length)
{
    if (!text || length < 1 || length > kMaxInitialDirLength) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (ForbiddenInDirectory(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

void FillOpenFileRequest(OPENFILENAMEA* request, HWND owner, const char* filters, char* fileBuffer,
                         const char* initialDir, const char* title, OpenDialogMode mode)
{
    std::memset(request, 0, sizeof *request);
    request->lStructSize = kOpenFileRequestSize;
    request->hwndOwner = owner;
    request->lpstrFilter = filters;
    request->nFilterIndex = static_cast<DWORD>(mode.filterIndex);
    request->lpstrFile = fileBuffer;
    request->nMaxFile = static_cast<DWORD>(kOpenFileBufferSize);
    request->lpstrInitialDir = initialDir;
    request->lpstrTitle = title;
    request->Flags = kOpenFileFlags | (mode.multiple ? OFN_ALLOWMULTISELECT : 0);
}

OpenDialogSelection ReadOpenDialogSelection(const char* buffer, std::size_t size, bool multiple)
{
    OpenDialogSelection s{buffer, 0, nullptr, 0};
    if (!buffer || size == 0) return s;
    const char* end = buffer + size;
    s.directoryLength = strnlen(buffer, size);
    if (!multiple) return s;
    // Names follow the first text when it is not closed by an empty text.
    const char* p = buffer + s.directoryLength + 1;
    if (p >= end || *p == '\0') return s;
    s.names = p;
    while (p < end && *p != '\0') {
        const std::size_t n = strnlen(p, static_cast<std::size_t>(end - p));
        if (p + n == end) break;  // a name cut off by the end of the buffer is not one
        ++s.nameCount;
        p += n + 1;
    }
    if (s.nameCount == 0) s.names = nullptr;
    return s;
}

std::size_t SelectionTextLength(const OpenDialogSelection& s)
{
    if (s.nameCount == 0) return s.directoryLength;
    std::size_t total = 0;
    const char* name = s.names;
    for (std::size_t i = 0; i < s.nameCount; ++i) {
        const std::size_t n = std::strlen(name);
        total += s.directoryLength + n + 2;
        name += n + 1;
    }
    return total - 1;
}

void WriteSelectionText(const OpenDialogSelection& s, char* out)
{
    if (s.nameCount == 0) {
        if (s.directoryLength) std::memcpy(out, s.directory, s.directoryLength);
        return;
    }
    const char* name = s.names;
    for (std::size_t i = 0; i < s.nameCount; ++i) {
        if (i) *out++ = '|';
        std::memcpy(out, s.directory, s.directoryLength);
        out += s.directoryLength;
        // Inserted even after a folder that ends with a separator (a drive root).
        *out++ = kDialogPathSeparator;
        const std::size_t n = std::strlen(name);
        std::memcpy(out, name, n);
        out += n;
        name += n + 1;
    }
}

// ---- Folder browser --------------------------------------------------------------

bool ExpandedFolderUsable(DWORD count) { return count >= 1 && count <= kBrowseFolderBufferSize - 1; }

void FillBrowseRequest(BROWSEINFOA* request, HWND owner, char* displayName, const char* preselection)
{
    std::memset(request, 0, sizeof *request);
    request->hwndOwner = owner;
    request->pidlRoot = nullptr;
    request->pszDisplayName = displayName;
    request->lpszTitle = nullptr;
    request->ulFlags = kBrowseFlags;
    if (preselection) {
        request->lpfn = BrowsePreselect;
        request->lParam = reinterpret_cast<LPARAM>(preselection);
    }
}

int CALLBACK BrowsePreselect(HWND window, UINT message, LPARAM, LPARAM data)
{
    if (message == BFFM_INITIALIZED) SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}
