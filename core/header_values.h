// What the file queries and the sample and tag readers derive from an opened
// file's header: the sampling sequence and its text, the per-channel table
// entries, the X step, the samples per channel and the tag time scale. Plain
// functions of the header, so they can be checked on any header, also ones a
// library should never deliver (no channels, more than the sequence holds).
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/abf_record.h"

// Widths of the fixed-width header texts the readers use.
inline constexpr std::size_t kAbfUnitsWidth = 8;
inline constexpr std::size_t kAbfChannelNameWidth = 10;
inline constexpr std::size_t kAbfCreatorWidth = 16;
inline constexpr std::size_t kAbfProtocolPathWidth = 256;

// ---- Sampling sequence ------------------------------------------------------------

// Positions of the sampling sequence, nADCSamplingSeq (16): a logical channel is one
// of 0 .. kAbfSamplingSeqLength - 1, whatever the header's channel count.
inline constexpr int kAbfSamplingSeqLength =
    static_cast<int>(sizeof(ABFFileHeader::nADCSamplingSeq) / sizeof(ABFFileHeader::nADCSamplingSeq[0]));

// Room for the longest sequence text: every entry as "-32768" (6 characters), a
// separator between two, and the NUL.
inline constexpr std::size_t kAbfSamplingSeqTextSize = kAbfSamplingSeqLength * 6 + (kAbfSamplingSeqLength - 1) + 1;

// Entries of the sampling sequence in use: the header's channel count, limited to
// the sequence's 16 entries, 0 for a count below 1.
int AbfSamplingSeqEntries(const ABFFileHeader& header);

// The entries in use as text, joined by `separator` ("0;1;3" for the query, "0,1,3"
// in the wave note). Writes a NUL-terminated text into `text` (at least
// kAbfSamplingSeqTextSize bytes) and returns its length.
std::size_t AbfSamplingSeqText(const ABFFileHeader& header, char separator, char* text);

// The physical channel at a logical position (0..15) of nADCSamplingSeq; -1 for a
// position outside the sequence.
int32_t AbfPhysicalChannel(const ABFFileHeader& header, int32_t logical);

// ---- Per-channel tables --------------------------------------------------------------
// sADCUnits, sADCChannelName, fTelegraphFilter and fTelegraphMembraneCap have 16
// entries (by physical ADC channel), sDACChannelUnits 8 (by DAC channel). A channel
// outside a table has no entry there: the texts are empty and the numbers 0.
void AbfAdcUnits(const ABFFileHeader& header, int32_t physical, char out[kAbfUnitsWidth + 1]);
void AbfDacUnits(const ABFFileHeader& header, int32_t physical, char out[kAbfUnitsWidth + 1]);
void AbfAdcChannelName(const ABFFileHeader& header, int32_t physical, char out[kAbfChannelNameWidth + 1]);
double AbfTelegraphFilter(const ABFFileHeader& header, int32_t physical);
double AbfTelegraphMembraneCap(const ABFFileHeader& header, int32_t physical);

// ---- Time and length -------------------------------------------------------------------

// The X step in seconds: fADCSequenceInterval (µs) widened and scaled by 1e-6.
double AbfXStep(const ABFFileHeader& header);

// Samples per channel: lActualAcqLength / nADCNumChannels, truncated toward zero,
// in 64 bits (the most negative length over -1 channels has no 32-bit quotient).
// False only when the header has no channels: a negative count divides like any
// other, and callers that cannot use a negative count refuse it themselves.
bool AbfSamplesPerChannel(const ABFFileHeader& header, int64_t* samples);

// Seconds per tag-time unit. Tag times count synch units: fSynchTimeUnit µs when
// it is positive, otherwise multiplexed samples, fADCSequenceInterval µs divided
// among the channels (a channel count below 2 divides by nothing).
double AbfTagTimeScale(const ABFFileHeader& header);

// Bytes of one tag record as the library delivers it (ABFTag).
inline constexpr uint64_t kAbfTagRecordBytes = 64;

// Bytes of a buffer of `count` tag records; false when it does not fit a 32-bit
// process (above 2147483647 bytes) or the count is not positive.
bool AbfTagBufferBytes(int32_t count, std::size_t* bytes);
