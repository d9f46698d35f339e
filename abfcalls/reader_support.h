// What the channel and episode readers share on the host's side: the
// destination-wave checks, the X scaling with units, and attaching the wave note.
#pragma once

#include <cstdint>

#include "core/wave_note.h"
#include "interface/host_abi.h"

// Whether a wave of this build's host can have `points` points: a point count is
// a CountInt, at most 2^31 - 1 on Win32 (more is status 10004). On Win64 and
// natively every count the library can give (an unsigned 32-bit one) fits.
inline bool WaveCanHold(uint64_t points) { return points <= static_cast<uint64_t>(INTPTR_MAX); }

// The destination checks: a numeric type of 2 or 4 (else 10002), then the
// dimension query (its non-zero code is the status) and one dimension (else
// 10006). Returns 0 when the wave is fit.
int CheckFloatWave(waveHndl wave);

// The readers' last checks before the file is opened: the wave exists (else 10005)
// and passes `check`; then the file name is made NUL-terminated. Returns the first
// failing status, 0 to go on; the name stays the caller's to release.
int CheckWaveAndName(waveHndl wave, int (*check)(waveHndl), Handle name);

// X step and start 0, X units "s" and the data units, and the data-changed notice.
void SetWaveAxes(waveHndl wave, double xStep, const char* dataUnits);

// Builds the note in a new host handle and attaches it to the wave. Returns false
// (nothing attached, nothing left allocated) when the handle cannot be had.
bool AttachWaveNote(waveHndl wave, const AbfNoteInput& note);
