// The file queries: nine external functions that open an ABF file, ask the
// library one question, and close it again. Nothing is cached between calls.
#pragma once

int kav_AbfIsAbfFile(void* params);         // (file name) -> library's answer
int kav_AbfHasData(void* params);           // (file name) -> library's answer
int kav_AbfOperationMode(void* params);     // (file name, &mode) -> 1/0
int kav_AbfChannelCount(void* params);      // (file name, &count) -> 1/0
int kav_AbfEpisodeCount(void* params);      // (file name, &count) -> 1/0
int kav_AbfSampleCount(void* params);       // (file name, episode, &count) -> 1/0
int kav_AbfTotalSampleCount(void* params);  // (file name, &count) -> 1/0
int kav_AbfStartTime(void* params);         // (file name, channel, episode, &time) -> 1/0
int kav_AbfADCSamplingSeq(void* params);    // (file name, &text) -> 1/0
