#include "wave.h"

#include <cstring>

namespace kavhost {

namespace {
template <class T>
T Load(const char* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
}  // namespace

bool ValidWaveType(int type)
{
    if (type == kWaveText) return true;
    const bool complex = type & kWaveComplex;
    const int base = type & ~kWaveComplex;
    switch (base) {
    case kWaveFloat32:
    case kWaveFloat64: return true;
    case kWaveInt8:
    case kWaveInt16:
    case kWaveInt32:
    case kWaveInt8 | kWaveUnsigned:
    case kWaveInt16 | kWaveUnsigned:
    case kWaveInt32 | kWaveUnsigned: return true;
    default: (void)complex; return false;
    }
}

std::size_t WaveElementSize(int type)
{
    if (!ValidWaveType(type) || type == kWaveText) return 0;
    std::size_t n = 0;
    switch (type & ~(kWaveComplex | kWaveUnsigned)) {
    case kWaveFloat32: n = 4; break;
    case kWaveFloat64: n = 8; break;
    case kWaveInt8: n = 1; break;
    case kWaveInt16: n = 2; break;
    case kWaveInt32: n = 4; break;
    default: return 0;
    }
    return (type & kWaveComplex) ? 2 * n : n;
}

std::string WaveTypeName(int type)
{
    if (type == kWaveText) return "text";
    if (!ValidWaveType(type)) return "type" + std::to_string(type);
    const bool complex = type & kWaveComplex;
    const bool isUnsigned = type & kWaveUnsigned;
    switch (type & ~(kWaveComplex | kWaveUnsigned)) {
    case kWaveFloat32: return complex ? "c64" : "f32";
    case kWaveFloat64: return complex ? "c128" : "f64";
    case kWaveInt8: return std::string(complex ? "c" : "") + (isUnsigned ? "u8" : "i8");
    case kWaveInt16: return std::string(complex ? "c" : "") + (isUnsigned ? "u16" : "i16");
    default: return std::string(complex ? "c" : "") + (isUnsigned ? "u32" : "i32");
    }
}

int WaveTypeFromName(const std::string& name)
{
    static const struct {
        const char* name;
        int type;
    } kNames[] = {
        {"text", kWaveText},
        {"f32", kWaveFloat32},
        {"f64", kWaveFloat64},
        {"c64", kWaveFloat32 | kWaveComplex},
        {"c128", kWaveFloat64 | kWaveComplex},
        {"i8", kWaveInt8},
        {"i16", kWaveInt16},
        {"i32", kWaveInt32},
        {"u8", kWaveInt8 | kWaveUnsigned},
        {"u16", kWaveInt16 | kWaveUnsigned},
        {"u32", kWaveInt32 | kWaveUnsigned},
        {"ci8", kWaveInt8 | kWaveComplex},
        {"ci16", kWaveInt16 | kWaveComplex},
        {"ci32", kWaveInt32 | kWaveComplex},
    };
    for (auto& n : kNames)
        if (name == n.name) return n.type;
    return -1;
}

CountInt RecordPoints(const char* rec) { return Load<CountInt>(rec + kWaveRecPoints); }
int16_t RecordType(const char* rec) { return Load<int16_t>(rec + kWaveRecType); }

int Wave::Type() const { return RecordType(*handle); }
CountInt Wave::Points() const { return RecordPoints(*handle); }

std::array<CountInt, 4> Wave::DimSizes() const
{
    std::array<CountInt, 4> d{};
    std::memcpy(d.data(), *handle + kWaveRecDimSizes, sizeof d);
    return d;
}

int Wave::Dimensions() const
{
    int n = 0;
    for (CountInt s : DimSizes()) {
        if (s == 0) break;
        ++n;
    }
    return n;
}

bool Wave::Direct() const { return Load<int16_t>(*handle + kWaveRecDirect) == 1; }
char* Wave::Data() const { return *handle + kWaveRecData; }
std::size_t Wave::DataBytes() const { return WaveElementSize(Type()) * static_cast<std::size_t>(Points()); }

std::vector<double> Wave::Values() const
{
    const int type = Type();
    const std::size_t el = WaveElementSize(type);
    std::vector<double> out;
    if (el == 0) return out;
    const CountInt n = Points();
    out.reserve(static_cast<std::size_t>(n));
    const char* p = Data();
    for (CountInt i = 0; i < n; ++i, p += el) {
        double v = 0;
        switch (type & ~kWaveComplex) {
        case kWaveFloat32: v = Load<float>(p); break;
        case kWaveFloat64: v = Load<double>(p); break;
        case kWaveInt8: v = Load<int8_t>(p); break;
        case kWaveInt16: v = Load<int16_t>(p); break;
        case kWaveInt32: v = Load<int32_t>(p); break;
        case kWaveInt8 | kWaveUnsigned: v = Load<uint8_t>(p); break;
        case kWaveInt16 | kWaveUnsigned: v = Load<uint16_t>(p); break;
        case kWaveInt32 | kWaveUnsigned: v = Load<uint32_t>(p); break;
        default: break;
        }
        out.push_back(v);
    }
    return out;
}

}  // namespace kavhost
