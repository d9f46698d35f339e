// The dialogs' request records and results as plain data: the file-open mode,
// the filter table, the acceptability test of an initial directory, the records
// handed to GetOpenFileNameA and SHBrowseForFolderA, the browser's preselection
// callback, and the reading of what the file-open dialog leaves in its buffer.
// Nothing here shows a dialog or touches host memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/numbers.h"  // TruncateMode
#include "platform/win32_api.h"
#if defined(_WIN32)
#include <commdlg.h>
#include <shlobj.h>
#endif

// ---- File-open dialog ------------------------------------------------------------

inline constexpr std::size_t kOpenFileBufferSize = 26200;  // what the dialog is told
inline constexpr std::size_t kInitialDirBufferSize = 261;
inline constexpr std::size_t kMaxInitialDirLength = 260;
inline constexpr std::size_t kMaxTitleLength = 128;
inline constexpr int kFilterCount = 11;
inline constexpr int kAllFilesFilter = 11;
inline constexpr uint32_t kMultipleSelectionBit = 0x100;

// lStructSize: the size of the whole record, 88 bytes in 32-bit Windows (and in
// the native stand-ins), 152 with the 64-bit pointers of Win64.
#if defined(_WIN64)
inline constexpr DWORD kOpenFileRequestSize = 152;
#else
inline constexpr DWORD kOpenFileRequestSize = 88;
#endif
#if defined(_WIN32)
static_assert(sizeof(OPENFILENAMEA) == kOpenFileRequestSize, "OPENFILENAMEA is the whole record");
#endif
inline constexpr DWORD kOpenFileFlags =
    OFN_ENABLESIZING | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
static_assert(kOpenFileFlags == 0x0088100C, "file-open flags");
static_assert((kOpenFileFlags | OFN_ALLOWMULTISELECT) == 0x0088120C, "file-open flags, several files");

// The filters in the dialog's order: pairs of NUL-terminated description and
// pattern, closed by an empty text (the literal's own NUL).
inline constexpr char kOpenFileFilters[] =
    "Abf Files (*.abf)\0*.abf\0"
    "Data Files (*.dat)\0*.dat\0"
    "Packed Experiment Files (*.pxp)\0*.pxp\0"
    "Unpacked Experiment Files (*.uxp)\0*.uxp\0"
    "Binary Wave Files (*.ibw)\0*.ibw\0"
    "Comma-separated Files (*.csv)\0*.csv\0"
    "Igor Text Files (*.itx)\0*.itx\0"
    "Text Files (*.txt)\0*.txt\0"
    "Image Files (*.bmp;*.jpg;*.tif)\0*.bmp;*.jpg;*.tif\0"
    "TIFF Files (*.tif;*.tiff)\0*.tif;*.tiff\0"
    "All Files (*.*)\0*.*\0";

extern const char kDefaultOpenTitle[];  // "Open file"

// The path separator of the paths the dialog returns, put between the folder and
// each name of a multiple selection.
#if defined(_WIN32)
inline constexpr char kDialogPathSeparator = '\\';
#else
inline constexpr char kDialogPathSeparator = '/';
#endif

struct OpenDialogMode {
    bool multiple;    // bit 256
    int filterIndex;  // 1 to 11: the filter shown first
};
OpenDialogMode ReadOpenDialogMode(double mode);

// Whether `length` bytes may name an initial directory: 1 to 260 of them, none
// below 32 and none of * ? " < > | /. Bytes from 128 up are accepted (folder
// names in the ANSI code page's accented or double-byte characters).
bool IsAcceptableDirectoryText(const char* text, std::size_t length);

// Fills the whole record: every field not named by the arguments is zero.
void FillOpenFileRequest(OPENFILENAMEA* request, HWND owner, const char* filters, char* fileBuffer,
                         const char* initialDir, const char* title, OpenDialogMode mode);

// What a confirmed dialog left in its buffer: either one path (nameCount 0; the
// path is `directory`), or a folder followed by nameCount names.
struct OpenDialogSelection {
    const char* directory;
    std::size_t directoryLength;
    const char* names;  // the first name; each is NUL-terminated
    std::size_t nameCount;
};
// Reads the buffer of `size` bytes, never beyond it. Without multiple selection
// the buffer holds one path; with it, a path and an empty text (one file) or the
// folder and its names, closed by an empty text.
OpenDialogSelection ReadOpenDialogSelection(const char* buffer, std::size_t size, bool multiple);
// Length of the result string: the path's length, or over all names the folder's
// length plus the name's length plus 2, minus 1.
std::size_t SelectionTextLength(const OpenDialogSelection& selection);
// Writes the result string (SelectionTextLength bytes, no NUL): the path, or each
// name as folder, separator, name, the entries joined by '|'.
void WriteSelectionText(const OpenDialogSelection& selection, char* out);

// ---- Folder browser --------------------------------------------------------------

inline constexpr std::size_t kBrowseFolderBufferSize = 261;  // the expanded initial folder
inline constexpr std::size_t kBrowsePathSize = 260;          // the chosen path
inline constexpr std::size_t kBrowseDisplayNameSize = 260;
inline constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_NEWDIALOGSTYLE;
static_assert(kBrowseFlags == 0x43, "browser flags");

// Whether an expansion that answered `count` (NUL included) fits the buffer and
// so can be preselected: 1 to 260.
bool ExpandedFolderUsable(DWORD count);

// Fills the whole record; with a preselection the callback and the text are set,
// without one both stay null.
void FillBrowseRequest(BROWSEINFOA* request, HWND owner, char* displayName, const char* preselection);

// The browser's callback: once the browser is initialised it is asked to select
// the path given as the callback's data. Always answers 0.
int CALLBACK BrowsePreselect(HWND window, UINT message, LPARAM lParam, LPARAM data);
