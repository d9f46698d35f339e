// The automation conversions of channel and episode numbers.
#include "arguments.h"

#include "core/header_values.h"
#include "platform/win32_api.h"

#if defined(_WIN32)
// OLEAUT32's conversions, imported by ordinal (61 and 274) through
// oleaut32_ordinals.def: importing them by name would depend on link order.
extern "C" HRESULT __stdcall OrdVarI4FromR8(double value, LONG* out);
extern "C" HRESULT __stdcall OrdVarUI4FromR8(double value, ULONG* out);
#define KAV_VAR_I4_FROM_R8 OrdVarI4FromR8
#define KAV_VAR_UI4_FROM_R8 OrdVarUI4FromR8
#else
#define KAV_VAR_I4_FROM_R8 VarI4FromR8
#define KAV_VAR_UI4_FROM_R8 VarUI4FromR8
#endif

// NaN is refused before the conversion is asked: Windows refuses it, but some
// implementations of the conversion let it through with an arbitrary value.
bool RoundToInt32(double value, int32_t* out)
{
    if (value != value) return false;
    LONG v = 0;
    if (KAV_VAR_I4_FROM_R8(value, &v) != S_OK) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

bool LogicalChannelOf(double value, int32_t* out)
{
    return RoundToInt32(value, out) && *out >= 0 && *out < kAbfSamplingSeqLength;
}

bool RoundToUInt32(double value, uint32_t* out)
{
    if (value != value) return false;
    ULONG v = 0;
    if (KAV_VAR_UI4_FROM_R8(value, &v) != S_OK) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}
