// The answers the file queries compute from an opened file's header, kept apart
// from the host and the library so they can be checked on any header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/abf_record.h"

// Room for the longest sequence text: 16 entries of "-32768" joined by ";", and
// the NUL.
inline constexpr std::size_t kAbfSamplingSeqTextSize = 16 * 6 + 15 + 1;

// Entries of the sampling sequence in use: the header's channel count, limited to
// the sequence's 16 entries, 0 for a count below 1.
int AbfSamplingSeqEntries(const ABFFileHeader& header);

// The sampling sequence as text, entries joined by ";" ("0;1;3"): as many entries
// as the header's channel count, limited to the sequence's 16, none for a count
// below 1. Writes a NUL-terminated text into `text` (at least
// kAbfSamplingSeqTextSize bytes) and returns its length.
std::size_t AbfSamplingSeqText(const ABFFileHeader& header, char* text);

// Samples per channel: lActualAcqLength / nADCNumChannels, truncated toward zero.
// False when the header has no channels (there is no answer then).
bool AbfSamplesPerChannel(const ABFFileHeader& header, double* samples);
