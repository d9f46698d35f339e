// The answers the file queries compute from an opened file's header, kept apart
// from the host and the library so they can be checked on any header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abf_record.h"

// Entries of nADCSamplingSeq that a header's channel count covers: the count,
// limited to 0..16 (the sequence has 16 entries).
int AbfSamplingSeqEntries(const ABFFileHeader& header);

// Room for the longest sequence text: 16 entries of "-32768" joined by ";", and
// the NUL.
inline constexpr std::size_t kAbfSamplingSeqTextSize = 16 * 6 + 15 + 1;

// The sampling sequence as text, entries joined by ";" ("0;1;3"), empty without
// channels. Writes a NUL-terminated text into `text` (at least
// kAbfSamplingSeqTextSize bytes) and returns its length.
std::size_t AbfSamplingSeqText(const ABFFileHeader& header, char* text);

// Samples per channel: lActualAcqLength / nADCNumChannels, truncated toward zero.
// False when the header has no channels (there is no answer then).
bool AbfSamplesPerChannel(const ABFFileHeader& header, double* samples);
