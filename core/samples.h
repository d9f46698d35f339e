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
// StoreSamples): more than the second-level cache of one core of a current processor
// holds (1-2 MiB), where every line an ordinary store writes would first be read from
// the next level or memory. A channel read of a real recording of 500 000 samples (a
// 4 MiB wave) took 0.67 of the bare limit's time with ordinary stores, 0.80 with these.
inline constexpr uint64_t kStreamedWaveBytes = 2u << 20;

// Whether a whole recording read into a wave of `points` points of `type` is to be
// written past the caches: a double-precision wave of kStreamedWaveBytes or more.
// (Single-precision waves are block copies out of a scratch block the cache holds;
// streamed, the real recording's read fell from 0.92 of the bare limit to 0.68.)
bool StreamedWave(int32_t type, std::size_t points);

// Copies `count` samples into `destination` from point `at` (a point of a wave in
// memory: a size_t, so past 2^32 points in the 64-bit builds): as they are when the
// destination type is kWaveFloat32, widened to double for any other type (the
// readers only ever pass kWaveFloat32 or kWaveFloat64). `streamed` (StreamedWave):
// the widened points go out with non-temporal stores, which spare the memory the
// reading of every line before it is written; the values are the same.
void StoreSamples(void* destination, int32_t destinationType, std::size_t at, const float* samples, uint32_t count,
                  bool streamed = false);
