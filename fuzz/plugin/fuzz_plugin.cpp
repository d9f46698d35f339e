// libFuzzer target: the plug-in's reading functions through the stand-in host, in
// process, as the application would call them. The input is the file (the corpus is
// the one fuzz_abffio reads: ABF files); its last bytes also choose the calls, four
// bytes a call: the function, the channel, the episode, and the wave's type, size and
// null arguments. Over a file the calls change nothing but sample values. After every
// call the host's audit must be clean: no handle leaked, released twice or used after
// its release, no foreign handle.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/plugin/plugin_calls.h"
#include "host/host.h"

namespace {

std::string g_path;

void RemoveFile() { std::remove(g_path.c_str()); }

// The audit after every call: a violation ends the run with the call that made it.
struct AuditCheck {
    kavhost::Host& host;
    const kavhost::CallResult& operator()(const kavhost::CallResult& r) const
    {
        if (r.called && r.Clean() && host.AuditClean()) return r;
        std::fprintf(stderr, "audit: leaked %d, released twice %d, used after release %d%s\n%s\n", r.leaked,
                     r.doubleReleased, r.useAfterRelease, r.called ? "" : (" (not called: " + r.error + ")").c_str(),
                     host.AuditReport().c_str());
        std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* dir =
        access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    g_path = std::string(dir) + "/kav_fuzz_plugin_" + std::to_string(getpid()) + ".abf";
    std::atexit(RemoveFile);
    // The plug-in (and the ABF library it imports) loaded before the first input, so
    // their coverage counters are known from the start.
    kavhost::Host host;
    if (!host.Load() || !host.Accepted()) {
        std::fprintf(stderr, "fuzz_plugin: the plug-in does not load: %s\n", host.LoadError().c_str());
        std::exit(1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(g_path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);

    // A new host for every input: its heap, waves and audit start empty.
    kavhost::Host host;
    if (!host.Load()) std::abort();
    uint8_t calls[16] = {9, 0, 1, 0, 10, 0, 1, 1, 14, 0, 0, 0, 4, 0, 0, 0};  // short inputs: fixed calls
    const size_t n = size < sizeof calls ? size : sizeof calls;
    for (size_t i = 0; i < n; ++i) calls[sizeof calls - n + i] = data[size - n + i];
    AuditCheck check{host};
    for (size_t i = 0; i < sizeof calls; i += 4) kavfuzz::HostileCall(host, g_path, calls + i, check);
    check(host.Call("kav_AbfLastErrStr", {}));
    return 0;
}
