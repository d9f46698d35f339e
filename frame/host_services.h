// What the plug-in asks of the host: one wrapper per host message, the wave
// record's direct-access path, and the string-handle conventions.
//
// Host string handles hold their characters without a NUL; the handle's size is
// the length.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/host_abi.h"

// ---- Waves -------------------------------------------------------------------
// Waves whose record says so (record version 1, the 16-bit word at
// kWaveRecDirect: byte 26 on Win32) are read from the record itself; the others
// are asked about with messages.
//
// The 64-bit Windows build always asks. Every 64-bit host answers messages 34,
// 35, 37 and 78 (the only way there is from Igor 7 on, whose records are version
// 2), and the direct path would save four messages a call at the risk of reading
// a record whose layout no 64-bit host we can run has ever shown us.
inline constexpr bool kReadWaveRecords = !KAV_WIN64;

// True when the wave's record allows direct reads (never on Win64).
bool WaveIsDirect(waveHndl wave);

// Numeric type code (2 single, 4 double, +1 complex, 0 text; message 34);
// -1 when the host could not be asked.
int32_t WaveType(waveHndl wave);

// Number of points (message 35): 64 bits on a 64-bit host; -1 when the host
// could not be asked.
CountInt WavePoints(waveHndl wave);

// Address of the wave's data (message 37); null when the host could not be asked.
void* WaveData(waveHndl wave);

// Number of dimensions (message 78) into *count; returns 0 or the host's error
// code, which callers pass on as their status (kStatusOutOfMemory when the host
// could not be asked). Directly: the number of leading non-zero dimension sizes.
int WaveDimensions(waveHndl wave, int32_t* count);

// Changes the wave's length and type (message 43); returns 0 or the host's code.
int ChangeWave(waveHndl wave, CountInt points, int32_t type);

// Sets the wave's x step and start (message 51).
void SetWaveScaling(waveHndl wave, double step, double start);

// Sets the wave's x units and data units, both NUL-terminated (message 53).
void SetWaveUnits(waveHndl wave, const char* xUnits, const char* dataUnits);

// Gives the wave a note (message 55); the handle (text without NUL) passes to the
// host, the caller must not use or release it afterwards.
void SetWaveNote(waveHndl wave, Handle note);

// Tells the host that the wave's data changed (message 1).
void WaveModified(waveHndl wave);

// ---- History and paths ---------------------------------------------------------

// Appends NUL-terminated text to the history; a carriage return starts a new line
// (message 8).
void HistoryPrint(const char* text);

// Grows the path handle by two bytes, both NUL, and has the host rewrite the text
// in place in native form (message 172). Returns 0, or kStatusOutOfMemory when the
// handle could not be grown (nothing is sent then).
int HostNativePath(Handle path);

// ---- String handles ------------------------------------------------------------

// Resizes a host handle and checks that it took (the host refuses by leaving the
// size as it was): false when it did not.
bool ResizeHandle(Handle h, std::size_t size);

// Length of a string handle's text (0 for null).
std::size_t StringHandleLength(Handle h);

// Makes the handle's text NUL-terminated in place: grows the handle by one byte
// and writes the NUL there. Returns 0, or kStatusOutOfMemory when the handle could
// not be grown (the handle is left as it was). The size then counts the NUL.
int TerminateStringHandle(Handle h);

// Stores `length` characters into a by-reference string variable: a variable
// holding null gets NewHandle(length), otherwise its handle is resized to length;
// the characters are copied without NUL. Returns 0, or kStatusOutOfMemory with the
// variable left as it was.
int SetStringVariable(Handle* variable, const char* text, std::size_t length);

// Copies the handle's text into buf (at most size - 1 characters, always
// NUL-terminated when size > 0). Returns the handle's full text length, so a
// result >= size means the text was cut.
std::size_t CopyStringHandle(Handle h, char* buf, std::size_t size);

// A new string handle holding `length` characters, made with PtrToHand; returns
// PtrToHand's code (0 on success). *result receives what PtrToHand left there.
int NewStringHandle(const char* text, std::size_t length, Handle* result);
