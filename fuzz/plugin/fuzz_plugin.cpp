// libFuzzer target: the plug-in's reading functions through the stand-in host, in
// process, as the application would call them. The input is the file (the corpus is
// the one fuzz_abffio reads: ABF files); its last bytes also choose the calls, four
// bytes a call: the function, the channel, the episode, and the wave's type, size and
// null arguments. Over a file the calls change nothing but sample values. After every
// call the host's audit must be clean: no handle leaked, released twice or used after
// its release, no foreign handle.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

using kavhost::Arg;
using kavhost::CallResult;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Channel and episode numbers: the ordinary ones most often, then the edges of the
// automation conversions and of the tables.
const double kNumbers[] = {0,
                           1,
                           2,
                           1,
                           0,
                           3,
                           15,
                           16,
                           -1,
                           -0.5,
                           0.5,
                           2.5,
                           14.5,
                           15.5,
                           -0.6,
                           1e10,
                           -1e10,
                           kNaN,
                           kInf,
                           -kInf,
                           65536,
                           4294967295.0,
                           4294967296.0,
                           2147483648.0,
                           -2147483649.0,
                           1.5,
                           7,
                           8,
                           100,
                           1e300,
                           4294967295.4,
                           0};

enum class Shape { Name, NameRef, NameNumRef, NameNumNumRef, NameStrRef, NameNumWave, NameNumNumWave, NameWave };

struct Function {
    const char* name;
    Shape shape;
};
const Function kFunctions[] = {
    {"kav_AbfIsAbfFile", Shape::Name},
    {"kav_AbfHasData", Shape::Name},
    {"kav_AbfOperationMode", Shape::NameRef},
    {"kav_AbfChannelCount", Shape::NameRef},
    {"kav_AbfEpisodeCount", Shape::NameRef},
    {"kav_AbfSampleCount", Shape::NameNumRef},
    {"kav_AbfTotalSampleCount", Shape::NameRef},
    {"kav_AbfStartTime", Shape::NameNumNumRef},
    {"kav_AbfADCSamplingSeq", Shape::NameStrRef},
    {"kav_AbfChannelRead", Shape::NameNumWave},
    {"kav_AbfEpisodeRead", Shape::NameNumNumWave},
    {"kav_AbfEpisodeWaveform", Shape::NameNumNumWave},
    {"kav_AbfPrintMetaData", Shape::Name},
    {"kav_AbfMetaData", Shape::NameStrRef},
    {"kav_AbfReadTimeTags", Shape::NameWave},
    {"kav_AbfReadExternalTags", Shape::NameWave},
};
constexpr size_t kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];

// Wave types: the accepted ones most often.
const int kWaveTypes[] = {kWaveFloat32,
                          kWaveFloat64,
                          kWaveFloat32,
                          kWaveFloat64,
                          kWaveInt16,
                          kWaveText,
                          kWaveFloat32 | kWaveComplex,
                          kWaveInt32 | kWaveUnsigned};

// Larger waves are not made (the host would have to hold them).
constexpr int64_t kMaxPoints = 1 << 22;

std::string g_path;

void RemoveFile() { std::remove(g_path.c_str()); }

[[noreturn]] void AuditFailed(const kavhost::Host& host, const std::string& function, const CallResult& r)
{
    std::fprintf(stderr, "audit after %s: leaked %d, released twice %d, used after release %d%s\n%s\n",
                 function.c_str(), r.leaked, r.doubleReleased, r.useAfterRelease, r.called ? "" : " (not called)",
                 host.AuditReport().c_str());
    std::abort();
}

double Number(uint8_t b) { return kNumbers[b % (sizeof kNumbers / sizeof kNumbers[0])]; }

CallResult Checked(kavhost::Host& host, const std::string& name, const std::vector<Arg>& args)
{
    CallResult r = host.Call(name, args);
    if (!r.called || !r.Clean() || !host.AuditClean()) AuditFailed(host, name, r);
    return r;
}

// The point count a reader wants: the plug-in's own answer, asked as a caller would.
int64_t WantedPoints(kavhost::Host& host, const Function& f, double episode)
{
    CallResult r =
        f.shape == Shape::NameNumNumWave
            ? Checked(host, "kav_AbfSampleCount", {kavhost::Str(g_path), kavhost::Num(episode), kavhost::NumRef(0)})
            : Checked(host, "kav_AbfTotalSampleCount", {kavhost::Str(g_path), kavhost::NumRef(0)});
    const double n = r.args.back().number;
    return r.resultNumber == 1.0 && n >= 0 && n <= static_cast<double>(kMaxPoints) ? static_cast<int64_t>(n) : 1;
}

// One call from four bytes: function, channel, episode, wave (type: bits 0-2; size:
// bits 3-5; a null name: bit 6; a null wave or string variable: bit 7).
void OneCall(kavhost::Host& host, const uint8_t* c)
{
    const Function& f = kFunctions[c[0] % kFunctionCount];
    const double channel = Number(c[1]);
    const double episode = Number(c[2]);
    const int waveType = kWaveTypes[c[3] & 7];
    const int size = (c[3] >> 3) & 7;
    const bool nullName = (c[0] / kFunctionCount) % 16 == 15;
    const bool nullOther = c[3] & 0x80;

    std::vector<Arg> args = {nullName ? kavhost::NullStr() : kavhost::Str(g_path)};
    kavhost::Wave* wave = nullptr;
    if (f.shape == Shape::NameNumWave || f.shape == Shape::NameNumNumWave || f.shape == Shape::NameWave) {
        int64_t points = f.shape == Shape::NameWave ? (c[2] % 8) : WantedPoints(host, f, episode);
        if (size == 3) points += 1;
        if (size == 4) points -= 1;
        if (size == 5) points = c[1];
        if (points < 1) points = 1;
        std::vector<int32_t> dims = {static_cast<int32_t>(points)};
        if (size == 6) dims.push_back(2);
        if (!nullOther) wave = host.MakeWave(waveType, dims);
    }
    switch (f.shape) {
    case Shape::Name: break;
    case Shape::NameRef: args.push_back(kavhost::NumRef(-1)); break;
    case Shape::NameNumRef: args.insert(args.end(), {kavhost::Num(episode), kavhost::NumRef(-1)}); break;
    case Shape::NameNumNumRef:
        args.insert(args.end(), {kavhost::Num(channel), kavhost::Num(episode), kavhost::NumRef(-1)});
        break;
    case Shape::NameStrRef:
        args.push_back(nullOther ? kavhost::NullStrRef() : kavhost::StrRef(std::string(c[1] % 64, 'x')));
        break;
    case Shape::NameNumWave: args.insert(args.end(), {kavhost::Num(channel), kavhost::WaveArg(wave)}); break;
    case Shape::NameNumNumWave:
        args.insert(args.end(), {kavhost::Num(channel), kavhost::Num(episode), kavhost::WaveArg(wave)});
        break;
    case Shape::NameWave: args.push_back(kavhost::WaveArg(wave)); break;
    }
    Checked(host, f.name, args);
}

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
    for (size_t i = 0; i < sizeof calls; i += 4) OneCall(host, calls + i);
    Checked(host, "kav_AbfLastErrStr", {});
    return 0;
}
