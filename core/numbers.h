// Host numbers truncated toward zero, for the arguments that are not converted
// with the automation conversions (those need the platform: abfcalls/arguments.h).
#pragma once

#include <cstdint>

// The episode of kav_AbfSampleCount: truncated toward zero, its low 32 bits
// passed on unchecked for the library to judge. A number with no integer value
// (NaN, infinite, beyond 64 bits) becomes 0, which names no episode.
uint32_t TruncatedEpisode(double episode);

// The mode of the file-open dialog: truncated toward zero to 32 bits. NaN and
// values outside the 32-bit range give INT32_MIN, as the processor's conversion
// does.
int32_t TruncateMode(double mode);
