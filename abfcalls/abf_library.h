// The binding to the ABF library (ABFFIO.dll, imported by ordinal): the prepared
// open and one thin wrapper per ordinal. Every call that touches a file is one of
// these, and every one of them is named Lib...; the Abf... functions of
// core/header_values.h only read a header the open filled.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/header_block.h"
#include "interface/abffio.h"

// Prepares the block and the two limits (sample limit 16384, episode limit 0) and
// opens the file for reading (ordinal 110). On success *maxSamples is the most
// samples one read delivers and *maxEpisodes the number of episodes.
ABFBOOL LibOpenPrepared(const char* fileName, int32_t* file, AbfHeaderBlock* block, uint32_t* maxSamples,
                        uint32_t* maxEpisodes, int32_t* error);

// One wrapper per ordinal, with the library's arguments.
ABFBOOL LibReadOpen(const char* fileName, int32_t* file, uint32_t flags, ABFFileHeader* header, uint32_t* maxSamples,
                    uint32_t* maxEpisodes, int32_t* error);                       // 110
ABFBOOL LibIsAbfFile(const char* fileName, int32_t* dataFormat, int32_t* error);  // 140
ABFBOOL LibHasData(int32_t file, const ABFFileHeader* header);                    // 150
ABFBOOL LibClose(int32_t file, int32_t* error);                                   // 160
ABFBOOL LibReadChannel(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, float* buffer,
                       uint32_t* numSamples, int32_t* error);  // 210
ABFBOOL LibGetWaveform(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, float* buffer,
                       int32_t* error);  // 250
ABFBOOL LibReadTags(int32_t file, const ABFFileHeader* header, uint32_t firstTag, ABFTag* tags, uint32_t numTags,
                    int32_t* error);  // 270
ABFBOOL LibGetNumSamples(int32_t file, const ABFFileHeader* header, uint32_t episode, uint32_t* numSamples,
                         int32_t* error);  // 340
ABFBOOL LibGetStartTime(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, double* startTime,
                        int32_t* error);  // 350
ABFBOOL LibGetEpisodeDuration(int32_t file, const ABFFileHeader* header, uint32_t episode, double* duration,
                              int32_t* error);  // 360
ABFBOOL LibBuildErrorText(int32_t errorNumber, const char* fileName, char* text,
                          uint32_t maxLength);  // 470
