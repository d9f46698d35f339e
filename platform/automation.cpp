// Stand-ins for the automation conversions VarI4FromR8 and VarUI4FromR8:
// round to nearest with halves to even; values whose rounded result does not fit,
// infinities and NaN are refused with DISP_E_OVERFLOW and *out is left untouched.
#include <cmath>

#include "win32_api.h"

namespace {
// Round half to even, independent of the floating-point rounding mode.
double RoundHalfEven(double v)
{
    double floor = std::floor(v);
    double diff = v - floor;
    if (diff > 0.5) return floor + 1.0;
    if (diff < 0.5) return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}
}  // namespace

HRESULT VarI4FromR8(double value, LONG* out)
{
    // Accepted: [-2147483648.5, 2147483647.5); NaN fails both comparisons.
    if (!(value >= -2147483648.5 && value < 2147483647.5)) return DISP_E_OVERFLOW;
    double r = RoundHalfEven(value);
    if (out) *out = static_cast<LONG>(r);
    return S_OK;
}

HRESULT VarUI4FromR8(double value, ULONG* out)
{
    // Accepted: [-0.5, 4294967295.5).
    if (!(value >= -0.5 && value < 4294967295.5)) return DISP_E_OVERFLOW;
    double r = RoundHalfEven(value);
    if (out) *out = static_cast<ULONG>(r);
    return S_OK;
}
