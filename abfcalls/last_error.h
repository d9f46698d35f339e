// The last-error state: the number and text of the most recent ABF library
// failure, and the two external functions that report it (kav_AbfLastErr,
// kav_AbfLastErrStr). Nothing clears the state; only the next failure replaces it.
#pragma once

#include <cstdint>

// Size of the text buffer; its last byte is always 0.
inline constexpr int kLastErrorTextSize = 2048;
// Size of the buffer handed to the library's error-text builder (ordinal 470).
inline constexpr int kAbfErrorTextBufferSize = 1024;

// The state, for the life of the plug-in: 0 and empty at load.
extern int32_t lastErrorNumber;
extern char lastErrorText[kLastErrorTextSize];

// Records a library failure: asks the library for the text of `errorNumber` about
// `fileName` (NUL-terminated), falls back to "Unknown error number: %d" when the
// library has none, and replaces the state.
void RecordAbfError(const char* fileName, int32_t errorNumber);
