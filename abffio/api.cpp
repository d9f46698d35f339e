// Exported entry points. Not reading files yet: every call fails cleanly.
#include <cstdio>

#include "abffio.h"

namespace {
ABFBOOL Fail(int32_t* error, int32_t code)
{
    if (error) *error = code;
    return 0;
}
}  // namespace

ABFBOOL ABF_API ABF_ReadOpen(const char*, int32_t*, uint32_t, ABFFileHeader*, uint32_t*, uint32_t*,
                             int32_t* error) { return Fail(error, ABF_EOPENFILE); }
ABFBOOL ABF_API ABF_IsABFFile(const char*, int32_t*, int32_t* error) { return Fail(error, ABF_EOPENFILE); }
ABFBOOL ABF_API ABF_HasData(int32_t, const ABFFileHeader*) { return 0; }
ABFBOOL ABF_API ABF_Close(int32_t, int32_t* error) { return Fail(error, ABF_EBADFILEINDEX); }
ABFBOOL ABF_API ABF_ReadChannel(int32_t, const ABFFileHeader*, int32_t, uint32_t, float*, uint32_t*,
                                int32_t* error) { return Fail(error, ABF_EBADFILEINDEX); }
ABFBOOL ABF_API ABF_GetWaveform(int32_t, const ABFFileHeader*, int32_t, uint32_t, float*,
                                int32_t* error) { return Fail(error, ABF_EBADFILEINDEX); }
ABFBOOL ABF_API ABF_ReadTags(int32_t, const ABFFileHeader*, uint32_t, ABFTag*, uint32_t,
                             int32_t* error) { return Fail(error, ABF_EBADFILEINDEX); }
ABFBOOL ABF_API ABF_GetNumSamples(int32_t, const ABFFileHeader*, uint32_t, uint32_t*,
                                  int32_t* error) { return Fail(error, ABF_EBADFILEINDEX); }
ABFBOOL ABF_API ABF_GetStartTime(int32_t, const ABFFileHeader*, int32_t, uint32_t, double*,
                                 int32_t* error) { return Fail(error, ABF_EBADFILEINDEX); }
ABFBOOL ABF_API ABF_GetEpisodeDuration(int32_t, const ABFFileHeader*, uint32_t, double*,
                                       int32_t* error) { return Fail(error, ABF_EBADFILEINDEX); }
ABFBOOL ABF_API ABF_BuildErrorText(int32_t, const char*, char* text, uint32_t maxLength)
{
    if (text && maxLength) text[0] = '\0';
    return 0;
}
void ABF_API ABFTest_InjectFault(int32_t, int32_t, int32_t) {}
void ABF_API ABFTest_WriteLibraryRecord(int32_t) {}
