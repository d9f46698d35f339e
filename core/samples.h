// Samples on their way from the ABF library (single-precision floats) into a
// destination array: the aligned scratch buffer a read goes through and the
// storing into single- or double-precision storage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/host_abi.h"

// One 16-byte-aligned array of `samples` floats (at least one), or null when it
// cannot be had. Released with FreeScratch.
float* AllocScratch(uint32_t samples);
void FreeScratch(float* buffer);

// Double-precision waves from this size up are written past the caches (see
// StoreSamples): far more than the caches of a desktop machine hold.
inline constexpr uint64_t kStreamedWaveBytes = 32u << 20;

// Whether a whole recording read into a wave of `points` points of `type` is to be
// written past the caches: a double-precision wave of kStreamedWaveBytes or more.
// (Single-precision waves are block copies, which gain nothing from it.)
bool StreamedWave(int32_t type, std::size_t points);

// Copies `count` samples into `destination` from point `at` (a point of a wave in
// memory: a size_t, so past 2^32 points in the 64-bit builds): as they are when the
// destination type is kWaveFloat32, widened to double for any other type (the
// readers only ever pass kWaveFloat32 or kWaveFloat64). `streamed` (StreamedWave):
// the widened points go out with non-temporal stores, which spare the memory the
// reading of every line before it is written; the values are the same.
void StoreSamples(void* destination, int32_t destinationType, std::size_t at, const float* samples, uint32_t count,
                  bool streamed = false);
