// The ABF library binding.
#include "abf_library.h"

#include <cstring>

#include "platform/win32_api.h"

#if defined(_WIN32)
// OLEAUT32's conversions, imported by ordinal (61 and 274) through
// oleaut32_ordinals.def: importing them by name would depend on link order.
extern "C" HRESULT __stdcall OrdVarI4FromR8(double value, LONG* out);
extern "C" HRESULT __stdcall OrdVarUI4FromR8(double value, ULONG* out);
#define KAV_VAR_I4_FROM_R8 OrdVarI4FromR8
#define KAV_VAR_UI4_FROM_R8 OrdVarUI4FromR8
#else
#define KAV_VAR_I4_FROM_R8 VarI4FromR8
#define KAV_VAR_UI4_FROM_R8 VarUI4FromR8
#endif

ABFBOOL AbfOpenPrepared(const char* fileName, int32_t* file, AbfHeaderBlock* block, uint32_t* maxSamples,
                        uint32_t* maxEpisodes, int32_t* error)
{
    AbfPrepareHeader(block);
    *maxSamples = kAbfSampleLimit;
    *maxEpisodes = kAbfEpisodeLimit;
    return AbfReadOpen(fileName, file, 0, &block->header, maxSamples, maxEpisodes, error);
}

ABFBOOL AbfReadOpen(const char* fileName, int32_t* file, uint32_t flags, ABFFileHeader* header, uint32_t* maxSamples,
                    uint32_t* maxEpisodes, int32_t* error)
{
    return ABF_ReadOpen(fileName, file, flags, header, maxSamples, maxEpisodes, error);
}

ABFBOOL AbfIsAbfFile(const char* fileName, int32_t* dataFormat, int32_t* error)
{
    return ABF_IsABFFile(fileName, dataFormat, error);
}

ABFBOOL AbfHasData(int32_t file, const ABFFileHeader* header) { return ABF_HasData(file, header); }

ABFBOOL AbfClose(int32_t file, int32_t* error) { return ABF_Close(file, error); }

ABFBOOL AbfReadChannel(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, float* buffer,
                       uint32_t* numSamples, int32_t* error)
{
    return ABF_ReadChannel(file, header, channel, episode, buffer, numSamples, error);
}

ABFBOOL AbfGetWaveform(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, float* buffer,
                       int32_t* error)
{
    return ABF_GetWaveform(file, header, channel, episode, buffer, error);
}

ABFBOOL AbfReadTags(int32_t file, const ABFFileHeader* header, uint32_t firstTag, ABFTag* tags, uint32_t numTags,
                    int32_t* error)
{
    return ABF_ReadTags(file, header, firstTag, tags, numTags, error);
}

ABFBOOL AbfGetNumSamples(int32_t file, const ABFFileHeader* header, uint32_t episode, uint32_t* numSamples,
                         int32_t* error)
{
    return ABF_GetNumSamples(file, header, episode, numSamples, error);
}

ABFBOOL AbfGetStartTime(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode, double* startTime,
                        int32_t* error)
{
    return ABF_GetStartTime(file, header, channel, episode, startTime, error);
}

ABFBOOL AbfGetEpisodeDuration(int32_t file, const ABFFileHeader* header, uint32_t episode, double* duration,
                              int32_t* error)
{
    return ABF_GetEpisodeDuration(file, header, episode, duration, error);
}

ABFBOOL AbfBuildErrorText(int32_t errorNumber, const char* fileName, char* text, uint32_t maxLength)
{
    return ABF_BuildErrorText(errorNumber, fileName, text, maxLength);
}

// NaN is refused before the conversion is asked: Windows refuses it, but some
// implementations of the conversion let it through with an arbitrary value.
bool AbfNumberToInt32(double value, int32_t* out)
{
    if (value != value) return false;
    LONG v = 0;
    if (KAV_VAR_I4_FROM_R8(value, &v) != S_OK) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

bool AbfLogicalChannel(double value, int32_t* out) { return AbfNumberToInt32(value, out) && *out >= 0 && *out <= 15; }

bool AbfNumberToUInt32(double value, uint32_t* out)
{
    if (value != value) return false;
    ULONG v = 0;
    if (KAV_VAR_UI4_FROM_R8(value, &v) != S_OK) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}
