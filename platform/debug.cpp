// Stand-ins for DebugBreak, IsDebuggerPresent and OutputDebugStringA.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform_hooks.h"
#include "platform_state.h"

namespace {
int gDebuggerMode = -1;  // -1 ask the system, 0/1 forced
int gBreakCount = 0;
std::string gDebugOutput;

bool TracerAttached()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return false;
    char line[256];
    bool traced = false;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "TracerPid:", 10) == 0) {
            traced = std::atoi(line + 10) != 0;
            break;
        }
    }
    std::fclose(f);
    return traced;
}
}  // namespace

void KavPlatformSetDebuggerPresent(int mode) { gDebuggerMode = mode < 0 ? -1 : (mode ? 1 : 0); }

int KavPlatformDebugBreakCount(void) { return gBreakCount; }

const char* KavPlatformLastDebugOutput(void) { return gDebugOutput.c_str(); }

void KavPlatformResetDebug()
{
    gDebuggerMode = -1;
    gBreakCount = 0;
    gDebugOutput.clear();
}

void KavPlatformReset(void)
{
    KavPlatformResetModules();
    KavPlatformResetDebug();
}

BOOL IsDebuggerPresent(void)
{
    if (gDebuggerMode >= 0) return gDebuggerMode;
    return TracerAttached() ? TRUE : FALSE;
}

void DebugBreak(void)
{
    ++gBreakCount;
    if (gDebuggerMode == 1) return;  // a pretend debugger: counted only
    std::raise(SIGTRAP);
}

void OutputDebugStringA(LPCSTR text)
{
    gDebugOutput = text ? text : "";
    std::fprintf(stderr, "%s\n", gDebugOutput.c_str());
}
