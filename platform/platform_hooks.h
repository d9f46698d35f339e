// Configuration of the native Windows stand-ins (libkavplatform.so), for the
// host and tests: what the stand-ins answer. Native builds only.
#pragma once

#if !defined(_WIN32)

#include "win32_api.h"

// GetModuleFileNameA(module) answers `path`; a null path forgets the module.
KAV_PLATFORM_API void KavPlatformSetModuleFileName(void* module, const char* path);

// The program file `path` carries version v1.v2.v3.v4 in its version resource.
// A path without a configured version has no version resource (size 0).
KAV_PLATFORM_API void KavPlatformSetFileVersion(const char* path, int v1, int v2, int v3, int v4);

// Whether IsDebuggerPresent answers true: -1 asks the system (a tracer attached),
// 0 or 1 force the answer. While forced to 1, DebugBreak only counts its calls
// instead of raising SIGTRAP, so tests can observe it.
KAV_PLATFORM_API void KavPlatformSetDebuggerPresent(int mode);
KAV_PLATFORM_API int KavPlatformDebugBreakCount(void);
// The text last given to OutputDebugStringA (which also writes it to stderr, where
// a person at a native debugger sees it); empty when none since the last reset.
KAV_PLATFORM_API const char* KavPlatformLastDebugOutput(void);

// The ANSI code page that GetACP and IsDBCSLeadByte answer for: 932, 936, 949 and
// 950 are double-byte code pages, anything else is single-byte; 0 restores the
// default (1252, single-byte). KavPlatformReset leaves it as it is.
KAV_PLATFORM_API void KavPlatformSetCodePage(UINT codePage);

// Forgets every module name and file version, restores the system debugger test,
// zeroes the DebugBreak count and forgets the debug output.
KAV_PLATFORM_API void KavPlatformReset(void);

// ---- Dialog stand-ins ------------------------------------------------------------
// GetOpenFileNameA and SHBrowseForFolderA ask an answerer installed by the host
// (a script in tests, the person at the terminal otherwise); without one every
// dialog is cancelled. The answerer fills in a choice; its texts must stay valid
// until the dialog call returns.

enum KavDialogOutcome {
    KAV_DIALOG_CANCEL = 0,   // the user cancelled (the dialog answers FALSE / null)
    KAV_DIALOG_CHOSEN = 1,   // files in `directory` (file-open), or the folder `directory`
    KAV_DIALOG_NO_PATH = 2,  // browser: an item without a file-system path (a virtual folder)
    KAV_DIALOG_FAIL = 3,     // the dialog could not be shown (FALSE, CDERR_INITIALIZATION)
};

struct KavDialogChoice {
    int outcome;               // KavDialogOutcome
    const char* directory;     // file-open: the folder of the names; browser: the folder
    const char* const* names;  // file-open: the names chosen in `directory`
    int nameCount;             // 1 gives one full path; 2 or more the folder and the names
};

// File-open: `request` as the caller filled it. Browser: `request` as the caller
// filled it and `preselection`, the path the browser was asked to select from its
// callback (null when none), `oleReady` whether OLE was initialised on this thread.
typedef void (*KavOpenFileAnswerer)(void* context, const OPENFILENAMEA* request, KavDialogChoice* choice);
typedef void (*KavBrowseAnswerer)(void* context, const BROWSEINFOA* request, const char* preselection, int oleReady,
                                  KavDialogChoice* choice);
KAV_PLATFORM_API void KavPlatformSetDialogAnswerers(KavOpenFileAnswerer openFile, KavBrowseAnswerer browse,
                                                    void* context);

// The separator the file-open stand-in writes between a folder and a name when it
// makes one full path (the native one: '/').
#define KAV_PLATFORM_PATH_SEPARATOR '/'

// Bookkeeping for audits: the calling thread's OLE initialisation depth (each
// successful OleInitialize counts one, each OleUninitialize takes one off; below
// zero means more uninitialisations than initialisations), item identifier lists
// handed out and not yet released with CoTaskMemFree, and CoTaskMemFree calls on
// something that was not a live list.
KAV_PLATFORM_API int KavPlatformOleDepth(void);
KAV_PLATFORM_API int KavPlatformLiveIdLists(void);
KAV_PLATFORM_API int KavPlatformBadFrees(void);
// OleInitialize answers `failure` (a negative HRESULT) instead of initialising;
// 0 restores normal answers.
KAV_PLATFORM_API void KavPlatformFailOleInitialize(HRESULT failure);
// The messages SendMessageA was given (to any window): the count and the last
// one (message, wParam, and lParam read as a text when wParam is non-zero).
KAV_PLATFORM_API int KavPlatformSentMessageCount(void);
KAV_PLATFORM_API UINT KavPlatformLastSentMessage(WPARAM* wParam, const char** text);
// Clears the dialog stand-ins' bookkeeping (not the answerers) and OLE failure.
KAV_PLATFORM_API void KavPlatformResetDialogs(void);

#endif
