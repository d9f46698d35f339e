// The key=value note the sample readers attach to their destination wave: the
// file, its header's main fields, the channel's telegraph values, the sampling
// sequence and which channel the wave holds (with the episode's start time in the
// episode form). Host procedures parse it; so may any other program that exports
// the same waves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/abf_record.h"

// What the note says beyond the header.
struct AbfNoteInput {
    const char* fileName;  // as the caller gave it
    const ABFFileHeader* header;
    int32_t logical;
    int32_t physical;
    bool hasStartTime;  // the episode form carries dStartTime
    double startTime;
};

// Base size of the note handle; longer notes get a handle of their length.
inline constexpr std::size_t kAbfNoteHandleSize = 4096;

// Formats the wave note (both forms: with and without dStartTime) into `out`
// (`size` bytes, NUL-terminated when size > 0, cut when too small) and returns the
// full length of the text, as snprintf does.
std::size_t AbfFormatWaveNote(const AbfNoteInput& in, char* out, std::size_t size);
