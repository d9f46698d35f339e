// The conversions of the host's numbers that name a channel or an episode: the
// automation conversions (OLEAUT32's VarI4FromR8 and VarUI4FromR8: round to
// nearest, halves to even), which need the platform. (The arguments that are
// truncated instead are converted by the pure core: core/numbers.h.)
#pragma once

#include <cstdint>

// Automation conversions of a host number: round to nearest, halves to even.
// Return true with *out set, or false (out-of-range, infinite or NaN; *out untouched).
bool RoundToInt32(double value, int32_t* out);
bool RoundToUInt32(double value, uint32_t* out);

// A caller's logical channel: the host number converted as above and lying in
// 0..15, a position in the sampling sequence (kAbfSamplingSeqLength of them,
// core/header_values.h). False otherwise (*out then meaningless).
bool LogicalChannelOf(double value, int32_t* out);
