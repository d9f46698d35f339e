// What the channel, episode and tag readers derive from an opened file's header,
// kept apart from the host and the library so it can be checked on any header:
// header texts, the per-channel table entries, the X step, the wave note and the
// tag time scale.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/abf_record.h"

// Widths of the fixed-width header texts the readers use.
inline constexpr std::size_t kAbfUnitsWidth = 8;
inline constexpr std::size_t kAbfChannelNameWidth = 10;
inline constexpr std::size_t kAbfCreatorWidth = 16;
inline constexpr std::size_t kAbfProtocolPathWidth = 256;

// Copies a fixed-width header text of `width` bytes into `out` (width + 1 bytes),
// NUL-terminates it and removes trailing blanks (NULs are passed over, leading
// blanks stay). A field of blanks and NULs becomes the empty text.
void AbfTrimHeaderText(const char* field, std::size_t width, char* out);

// Entries of the per-channel tables: sADCUnits, sADCChannelName, fTelegraphFilter
// and fTelegraphMembraneCap have 16 (by physical ADC channel), sDACChannelUnits 8
// (by DAC channel). A channel outside a table has no entry there: the texts are
// empty and the numbers 0.
void AbfAdcUnits(const ABFFileHeader& header, int32_t physical, char out[kAbfUnitsWidth + 1]);
void AbfDacUnits(const ABFFileHeader& header, int32_t physical, char out[kAbfUnitsWidth + 1]);
void AbfAdcChannelName(const ABFFileHeader& header, int32_t physical, char out[kAbfChannelNameWidth + 1]);
double AbfTelegraphFilter(const ABFFileHeader& header, int32_t physical);
double AbfTelegraphMembraneCap(const ABFFileHeader& header, int32_t physical);

// The physical channel at a logical position (0..15) of nADCSamplingSeq.
int32_t AbfPhysicalChannel(const ABFFileHeader& header, int32_t logical);

// The X step in seconds: fADCSequenceInterval (µs) widened and scaled by 1e-6.
double AbfXStep(const ABFFileHeader& header);

// Points of one channel of a gap-free recording: lActualAcqLength /
// nADCNumChannels, truncated toward zero. False for a header without a positive
// channel count (no length can match then).
bool AbfChannelPoints(const ABFFileHeader& header, int64_t* points);

// What the wave note says beyond the header.
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

// Seconds per tag-time unit. Tag times count synch units: fSynchTimeUnit µs when
// it is positive, otherwise multiplexed samples, fADCSequenceInterval µs divided
// among the channels (a channel count below 2 divides by nothing).
double AbfTagTimeScale(const ABFFileHeader& header);

inline constexpr uint64_t kAbfTagRecordBytes = 64;

// Bytes of a buffer of `count` 64-byte tag records; false when it does not fit a
// 32-bit process (above 2147483647 bytes) or the count is not positive.
bool AbfTagBufferBytes(int32_t count, std::size_t* bytes);
