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

// The ANSI code page that GetACP and IsDBCSLeadByte answer for: 932, 936, 949 and
// 950 are double-byte code pages, anything else is single-byte; 0 restores the
// default (1252, single-byte). KavPlatformReset leaves it as it is.
KAV_PLATFORM_API void KavPlatformSetCodePage(UINT codePage);

// Forgets every module name and file version, restores the system debugger test
// and zeroes the DebugBreak count.
KAV_PLATFORM_API void KavPlatformReset(void);

#endif
