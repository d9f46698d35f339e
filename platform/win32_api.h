// The Windows calls the plug-in makes. On Win32 this is the real Windows API;
// natively the same names are declared here and answered by libkavplatform.so,
// which the host configures through platform_hooks.h.
#pragma once

#if defined(_WIN32)

#include <windows.h>

#else  // native stand-ins

#include <cstdint>

#define KAV_PLATFORM_API extern "C" __attribute__((visibility("default")))
#define WINAPI

typedef int32_t BOOL;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t HRESULT;
typedef void* HMODULE;
typedef void* HWND;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef UINT* PUINT;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260
#define S_OK ((HRESULT)0)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000AL)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)
#define VS_FFI_SIGNATURE 0xFEEF04BDu
#define VS_FFI_STRUCVERSION 0x00010000u

// The fixed part of a version resource, as VerQueryValueA(block, "\\") returns it.
struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52, "VS_FIXEDFILEINFO size");

// kernel32
KAV_PLATFORM_API DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
KAV_PLATFORM_API void DebugBreak(void);
KAV_PLATFORM_API BOOL IsDebuggerPresent(void);
KAV_PLATFORM_API void OutputDebugStringA(LPCSTR text);
// The ANSI code page and its lead-byte test: true when c is the first byte of a
// double-byte character (always false in a single-byte code page).
KAV_PLATFORM_API UINT GetACP(void);
KAV_PLATFORM_API BOOL IsDBCSLeadByte(BYTE c);

// VERSION.dll
KAV_PLATFORM_API DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle);
KAV_PLATFORM_API BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data);
KAV_PLATFORM_API BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length);

// OLEAUT32 (ordinals 61 and 274): double to 32-bit integer, round half to even;
// out-of-range values and NaN give DISP_E_OVERFLOW and leave *out untouched.
KAV_PLATFORM_API HRESULT VarI4FromR8(double value, LONG* out);
KAV_PLATFORM_API HRESULT VarUI4FromR8(double value, ULONG* out);

// ---- Dialogs: kernel32, comdlg32, shell32, ole32, user32 -----------------------

typedef void* HINSTANCE;
typedef intptr_t LPARAM;
typedef uintptr_t WPARAM;
typedef intptr_t LRESULT;
#define CALLBACK
#define S_FALSE ((HRESULT)1)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFFu)
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u

// kernel32: attributes of a path (INVALID_FILE_ATTRIBUTES when it does not exist);
// environment references (%NAME%) replaced by their values, the answer counting
// the NUL, or the size needed when `size` is too small, 0 on failure.
KAV_PLATFORM_API DWORD GetFileAttributesA(LPCSTR path);
KAV_PLATFORM_API DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size);

// comdlg32: the file-open dialog.
typedef uintptr_t (*LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);
struct OPENFILENAMEA {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCSTR lpstrFilter;
    LPSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    LPSTR lpstrFile;
    DWORD nMaxFile;
    LPSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCSTR lpstrInitialDir;
    LPCSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCSTR lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
};
typedef OPENFILENAMEA* LPOPENFILENAMEA;
#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_ALLOWMULTISELECT 0x00000200u
#define OFN_FILEMUSTEXIST 0x00001000u
#define OFN_EXPLORER 0x00080000u
#define OFN_ENABLESIZING 0x00800000u
#define CDERR_STRUCTSIZE 0x0001u
#define CDERR_INITIALIZATION 0x0002u
#define FNERR_BUFFERTOOSMALL 0x3003u
// The record sizes Windows accepts in lStructSize (32-bit layouts): the full
// record and the one without the three trailing fields.
#define KAV_OPENFILENAME_SIZE 88u
#define KAV_OPENFILENAME_SIZE_400 76u
KAV_PLATFORM_API BOOL GetOpenFileNameA(LPOPENFILENAMEA request);
KAV_PLATFORM_API DWORD CommDlgExtendedError(void);

// shell32: the folder browser. An item identifier list is opaque here.
struct _ITEMIDLIST;
typedef struct _ITEMIDLIST ITEMIDLIST;
typedef ITEMIDLIST* LPITEMIDLIST;
typedef const ITEMIDLIST* LPCITEMIDLIST;
typedef LPCITEMIDLIST PCIDLIST_ABSOLUTE;
typedef int (*BFFCALLBACK)(HWND window, UINT message, LPARAM lParam, LPARAM data);
struct BROWSEINFOA {
    HWND hwndOwner;
    PCIDLIST_ABSOLUTE pidlRoot;
    LPSTR pszDisplayName;
    LPCSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
};
typedef BROWSEINFOA* LPBROWSEINFOA;
#define BIF_RETURNONLYFSDIRS 0x0001u
#define BIF_DONTGOBELOWDOMAIN 0x0002u
#define BIF_NEWDIALOGSTYLE 0x0040u
#define BFFM_INITIALIZED 1u
#define BFFM_SELCHANGED 2u
#define BFFM_SETSELECTIONA 0x466u
KAV_PLATFORM_API LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA request);
KAV_PLATFORM_API BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path);

// ole32
KAV_PLATFORM_API HRESULT OleInitialize(LPVOID reserved);
KAV_PLATFORM_API void OleUninitialize(void);
KAV_PLATFORM_API void CoTaskMemFree(LPVOID block);

// user32
KAV_PLATFORM_API LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
