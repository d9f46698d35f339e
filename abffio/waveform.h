// The stimulus (DAC command) waveform of one episode, computed from the library's
// own header record: holding level, pre-episode holding, the epoch table with its
// per-episode increments, user lists, alternating outputs and DAC-file sweeps
// stored in the data file.
#pragma once

#include <cstdint>

#include "interface/abf_record.h"

// Access to the open data file, for waveforms whose sweeps are stored in it
// (nWaveformSource = 2). The caller that owns the file provides it.
struct AbfWaveformFileAccess {
    // Reads `count` little-endian int16 values starting at byte `byteOffset` of the
    // file into `out`. Returns false when the file cannot deliver all of them.
    bool (*readInt16)(void* context, uint64_t byteOffset, uint32_t count, int16_t* out);
    void* context;
};

// Fills `out` with the command waveform of `episode` (counting from 1) for the DAC
// selected by `channel` (the physical ADC channel the caller was given; it selects
// DAC `channel`). The waveform has lNumSamplesPerEpisode / nADCNumChannels values;
// `capacity` is how many floats `out` can hold (the episode's sample count).
// Returns 0, or an ABF error number (abffio.h) with `out` left untouched.
// `file` may be null; a DAC-file waveform then fails with ABF_EREADDACEPISODE.
int32_t AbfComputeWaveform(const ABFLibraryHeader& h, int32_t channel, uint32_t episode, float* out, uint32_t capacity,
                           const AbfWaveformFileAccess* file);

// Number of values the waveform of one episode has (0 when the record cannot
// hold a waveform: not episodic, no channels).
uint32_t AbfWaveformLength(const ABFLibraryHeader& h);
