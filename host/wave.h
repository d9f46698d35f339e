// Host waves: a wave handle's block is the wave record (kWaveRecord: a header of
// 320 bytes, 400 on 64-bit hosts, with the point count, type, record version and
// dimension sizes, then the data). What
// the record does not hold (scaling, units, note, text values) the host keeps here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "interface/host_abi.h"
#include "memory.h"

namespace kavhost {

// Bytes of one point of a numeric type (complex counts both parts); 0 when the
// type is not a valid wave type. Text waves (type 0) keep no bytes in the record.
std::size_t WaveElementSize(int type);
// The most points a wave may have: what a count of the host's width holds (2^31 - 1
// on a 32-bit host, as the 32-bit application), and natively and on 64-bit hosts
// 2^40, far beyond any memory (a 64-bit host's waves are limited by memory alone).
inline constexpr CountInt kMaxWavePoints = sizeof(CountInt) == 4 ? INTPTR_MAX : static_cast<CountInt>(int64_t{1} << 40);
bool ValidWaveType(int type);
// "f32", "f64", "i8", "i16", "i32", "u8", "u16", "u32", "text", "c64", "c128", ...
std::string WaveTypeName(int type);
// Parses the names above; -1 when unknown.
int WaveTypeFromName(const std::string& name);

class Wave {
public:
    Handle handle = nullptr;
    std::string name;
    double xstart = 0.0;
    double xstep = 1.0;
    std::string xunits;
    std::string dataunits;
    std::string note;
    std::vector<std::string> text;  // values of a text wave
    int modified = 0;               // times the plug-in reported changed data (message 1)

    int Type() const;
    CountInt Points() const;
    std::array<CountInt, 4> DimSizes() const;
    int Dimensions() const;  // leading non-zero sizes
    bool Direct() const;
    char* Data() const;
    std::size_t DataBytes() const;
    template <class T>
    T* As() const
    {
        return reinterpret_cast<T*>(Data());
    }
    // The real part of every point as a double (empty for text waves).
    std::vector<double> Values() const;
};

// Header field helpers on a wave record block.
CountInt RecordPoints(const char* rec);
int16_t RecordType(const char* rec);

}  // namespace kavhost
