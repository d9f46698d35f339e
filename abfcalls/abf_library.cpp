// The ABF library binding.
#include "abf_library.h"

ABFBOOL LibOpenPrepared(const char* fileName, int32_t* file, AbfHeaderBlock* block, uint32_t* maxSamples,
                        uint32_t* maxEpisodes, int32_t* error)
{
    AbfPrepareHeader(block);
    *maxSamples = kAbfSampleLimit;
    *maxEpisodes = kAbfEpisodeLimit;
    return LibReadOpen(fileName, file, 0, &block->header, maxSamples, maxEpisodes, error);
}

ABFBOOL LibReadOpen(const char* fileName, int32_t* file, uint32_t flags, ABFFileHeader* header, uint32_t* maxSamples,
                    uint32_t* maxEpisodes, int32_t* error)
{
    return ABF_ReadOpen(fileName, file, flags, header, maxSamples, maxEpisodes, error);
}

ABFBOOL LibIsAbfFile(const char* fileName, int32_t* dataFormat, int32_t* error)
{
    return ABF_IsABFFile(fileName, dataFormat, error);
}

ABFBOOL LibHasData(int32_t file, const ABFFileHeader* header) { return ABF_HasData(file, header); }

ABFBOOL LibClose(int32_t file, int32_t* error) { return ABF_Close(file, error); }

ABFBOOL LibReadChannel(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, float* buffer,
                       uint32_t* numSamples, int32_t* error)
{
    return ABF_ReadChannel(file, header, channel, episode, buffer, numSamples, error);
}

ABFBOOL LibGetWaveform(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, float* buffer,
                       int32_t* error)
{
    return ABF_GetWaveform(file, header, channel, episode, buffer, error);
}

ABFBOOL LibReadTags(int32_t file, const ABFFileHeader* header, uint32_t firstTag, ABFTag* tags, uint32_t numTags,
                    int32_t* error)
{
    return ABF_ReadTags(file, header, firstTag, tags, numTags, error);
}

ABFBOOL LibGetNumSamples(int32_t file, const ABFFileHeader* header, uint32_t episode, uint32_t* numSamples,
                         int32_t* error)
{
    return ABF_GetNumSamples(file, header, episode, numSamples, error);
}

ABFBOOL LibGetStartTime(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, double* startTime,
                        int32_t* error)
{
    return ABF_GetStartTime(file, header, channel, episode, startTime, error);
}

ABFBOOL LibGetEpisodeDuration(int32_t file, const ABFFileHeader* header, uint32_t episode, double* duration,
                              int32_t* error)
{
    return ABF_GetEpisodeDuration(file, header, episode, duration, error);
}

ABFBOOL LibBuildErrorText(int32_t errorNumber, const char* fileName, char* text, uint32_t maxLength)
{
    return ABF_BuildErrorText(errorNumber, fileName, text, maxLength);
}
