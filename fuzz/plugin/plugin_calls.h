// Calls of the plug-in's reading functions with arguments from four bytes, shared by
// the fuzz target fuzz_plugin and the hostile-input sweep (tests/abfcalls): the
// function, the channel, the episode, and the wave's type and size and the null or
// odd arguments. Every call (the count queries that size a wave included) goes
// through `check`, which sees its result and the host.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "host/host.h"

namespace kavfuzz {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Channel and episode numbers: the ordinary ones most often, then the edges of the
// automation conversions and of the tables.
// clang-format off
inline const double kNumbers[] = {
    0, 1, 2, 1, 0, 3, 15, 16, -1, -0.5, 0.5, 2.5, 14.5, 15.5, -0.6, 1e10, -1e10, kNaN, kInf, -kInf, 65536,
    4294967295.0, 4294967296.0, 2147483648.0, -2147483649.0, 1.5, 7, 8, 100, 1e300, 4294967295.4, 0};
// clang-format on

enum class Shape { Name, NameRef, NameNumRef, NameNumNumRef, NameStrRef, NameNumWave, NameNumNumWave, NameWave };

struct Function {
    const char* name;
    Shape shape;
};
inline const Function kFunctions[] = {
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
inline constexpr size_t kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];

// Wave types: the accepted ones most often.
inline const int kWaveTypes[] = {kWaveFloat32,
                                 kWaveFloat64,
                                 kWaveFloat32,
                                 kWaveFloat64,
                                 kWaveInt16,
                                 kWaveText,
                                 kWaveFloat32 | kWaveComplex,
                                 kWaveInt32 | kWaveUnsigned};

// Larger waves are not made (the host would have to hold them).
inline constexpr int64_t kMaxPoints = 1 << 22;

inline double Number(uint8_t b) { return kNumbers[b % (sizeof kNumbers / sizeof kNumbers[0])]; }

// The point count a reader wants: the plug-in's own answer, asked as a caller would.
template <class Check>
int64_t WantedPoints(kavhost::Host& host, const std::string& path, const Function& f, double episode, Check& check)
{
    const kavhost::CallResult r =
        f.shape == Shape::NameNumNumWave
            ? check(host.Call("kav_AbfSampleCount", {kavhost::Str(path), kavhost::Num(episode), kavhost::NumRef(0)}))
            : check(host.Call("kav_AbfTotalSampleCount", {kavhost::Str(path), kavhost::NumRef(0)}));
    const double n = r.args.back().number;
    return r.resultNumber == 1.0 && n >= 0 && n <= static_cast<double>(kMaxPoints) ? static_cast<int64_t>(n) : 1;
}

// One call from four bytes: c[0] the function (and, from its quotient, now and then a
// null, very long or odd file name), c[1] the channel, c[2] the episode, c[3] the wave
// (type: bits 0-2; size: bits 3-5, the right size for 0 to 2; a null wave or string
// variable: bit 7).
template <class Check>
void HostileCall(kavhost::Host& host, const std::string& path, const uint8_t* c, Check&& check)
{
    const Function& f = kFunctions[c[0] % kFunctionCount];
    const double channel = Number(c[1]);
    const double episode = Number(c[2]);
    const int waveType = kWaveTypes[c[3] & 7];
    const int size = (c[3] >> 3) & 7;
    const size_t nameKind = (c[0] / kFunctionCount) % 16;
    const bool nullOther = c[3] & 0x80;

    std::vector<kavhost::Arg> args;
    if (nameKind == 15)
        args.push_back(kavhost::NullStr());
    else if (nameKind == 14)
        args.push_back(kavhost::Str(path + std::string(4000, 'a')));
    else if (nameKind == 13)
        args.push_back(kavhost::Str(std::string("\x01\xff\x80;\"%s%n*?") + path));
    else
        args.push_back(kavhost::Str(path));
    kavhost::Wave* wave = nullptr;
    if (f.shape == Shape::NameNumWave || f.shape == Shape::NameNumNumWave || f.shape == Shape::NameWave) {
        int64_t points = f.shape == Shape::NameWave ? (c[2] % 8) : WantedPoints(host, path, f, episode, check);
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
    check(host.Call(f.name, args));
}

}  // namespace kavfuzz
