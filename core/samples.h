// Samples on their way from the ABF library (single-precision floats) into a
// destination array: the aligned scratch buffer a read goes through and the
// storing into single- or double-precision storage.
#pragma once

#include <cstdint>

#include "interface/host_abi.h"

// One 16-byte-aligned array of `samples` floats (at least one), or null when it
// cannot be had. Released with FreeScratch.
float* AllocScratch(uint32_t samples);
void FreeScratch(float* buffer);

// Copies `count` samples into `destination` from point `at`: as they are when the
// destination type is kWaveFloat32, widened to double for any other type (the
// readers only ever pass kWaveFloat32 or kWaveFloat64).
void StoreSamples(void* destination, int32_t destinationType, uint32_t at, const float* samples, uint32_t count);
