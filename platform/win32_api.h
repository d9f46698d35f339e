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

#endif
