// The binding to the ABF library (ABFFIO.dll, imported by ordinal): the prepared
// open, one thin wrapper per ordinal, and the automation
// conversions the readers apply to channel and episode numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/header_block.h"
#include "interface/abffio.h"

// Prepares the block and the two limits (sample limit 16384, episode limit 0) and
// opens the file for reading (ordinal 110). On success *maxSamples is the most
// samples one read delivers and *maxEpisodes the number of episodes.
ABFBOOL AbfOpenPrepared(const char* fileName, int32_t* file, AbfHeaderBlock* block, uint32_t* maxSamples,
                        uint32_t* maxEpisodes, int32_t* error);

// One wrapper per ordinal, with the library's arguments.
ABFBOOL AbfReadOpen(const char* fileName, int32_t* file, uint32_t flags, ABFFileHeader* header, uint32_t* maxSamples,
                    uint32_t* maxEpisodes, int32_t* error);                       // 110
ABFBOOL AbfIsAbfFile(const char* fileName, int32_t* dataFormat, int32_t* error);  // 140
ABFBOOL AbfHasData(int32_t file, const ABFFileHeader* header);                    // 150
ABFBOOL AbfClose(int32_t file, int32_t* error);                                   // 160
ABFBOOL AbfReadChannel(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, float* buffer,
                       uint32_t* numSamples, int32_t* error);  // 210
ABFBOOL AbfGetWaveform(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, float* buffer,
                       int32_t* error);  // 250
ABFBOOL AbfReadTags(int32_t file, const ABFFileHeader* header, uint32_t firstTag, ABFTag* tags, uint32_t numTags,
                    int32_t* error);  // 270
ABFBOOL AbfGetNumSamples(int32_t file, const ABFFileHeader* header, uint32_t episode, uint32_t* numSamples,
                         int32_t* error);  // 340
ABFBOOL AbfGetStartTime(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, double* startTime,
                        int32_t* error);  // 350
ABFBOOL AbfGetEpisodeDuration(int32_t file, const ABFFileHeader* header, uint32_t episode, double* duration,
                              int32_t* error);  // 360
ABFBOOL AbfBuildErrorText(int32_t errorNumber, const char* fileName, char* text,
                          uint32_t maxLength);  // 470

// Automation conversions of a host number: round to nearest, halves to even.
// Return true with *out set, or false (out-of-range, infinite or NaN; *out untouched).
bool AbfNumberToInt32(double value, int32_t* out);
bool AbfNumberToUInt32(double value, uint32_t* out);

// A caller's logical channel: the host number converted as above and lying in
// 0..15 (a position in nADCSamplingSeq). False otherwise (*out then meaningless).
bool AbfLogicalChannel(double value, int32_t* out);
