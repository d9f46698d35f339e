// The last-error state: the number and text of the most recent ABF library
// failure, and the two external functions that report it. Nothing clears the
// state; only the next failure replaces it.
#pragma once

#include <cstdint>

#include "abf_library.h"
#include "interface/host_abi.h"

// Size of the text buffer; its last byte is always 0.
inline constexpr int kLastErrorTextSize = 2048;
// Size of the buffer handed to the library's error-text builder (ordinal 470).
inline constexpr int kAbfErrorTextBufferSize = 1024;

// The state, for the life of the plug-in: 0 and empty at load.
extern int32_t lastErrorNumber;
extern char lastErrorText[kLastErrorTextSize];

// Records a library failure: asks the library for the text of `errorNumber` about
// `fileName` (NUL-terminated), falls back to "Unknown error number: %d" when the
// library has none, and replaces the state. Always returns 0.
int RecordAbfError(const char* fileName, int32_t errorNumber);

// Opens the file named by the NUL-terminated text of `fileName` with a freshly
// prepared header block (the library's open, ordinal 110). A failure is recorded
// and gives false; *file, *sampleLimit and *episodes are valid only on success.
bool AbfOpenRecorded(Handle fileName, AbfHeaderBlock* block, int32_t* file, uint32_t* sampleLimit, uint32_t* episodes);
// Closes a file opened with AbfOpenRecorded (ordinal 160); a failure is recorded.
void AbfCloseRecorded(Handle fileName, int32_t file);

// kav_AbfLastErr() -> number: the last error number.
int kav_AbfLastErr(void* params);
// kav_AbfLastErrStr() -> string: a copy of the last error text.
int kav_AbfLastErrStr(void* params);
