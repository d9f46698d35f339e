// Our ABF file library: the entry points of ABFFIO.dll that the plug-in imports
// by ordinal, with the vendor library's arguments and conventions.
//
// Every function but ABF_HasData returns non-zero on success and reports its error
// number through the last argument. On Win32 the library is ABFFIO.dll with
// ordinal-only exports (abffio.def) and the __stdcall convention (Win64 has only one
// convention, and the same ordinals); natively it is
// libabffio.so with the same functions and signatures.
#pragma once

#include <cstdint>

#include "interface/abf_record.h"

#if defined(_WIN32)
#define ABF_API __stdcall
#define ABF_EXPORT extern "C"
#else
#define ABF_API
#define ABF_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The test controls below are exported by the project's test builds only: the
// library's release builds leave them out (natively hidden here; on Windows the
// release build's module-definition file has no ordinals from 900 up).
#if defined(ABFFIO_HIDE_TEST_CONTROLS) && !defined(_WIN32)
#define ABF_TEST_EXPORT extern "C"
#else
#define ABF_TEST_EXPORT ABF_EXPORT
#endif

typedef int32_t ABFBOOL;

// Sample limit the caller hands to the open (most samples one read delivers).
inline constexpr uint32_t kAbfSampleLimit = 16384;

// One tag record as ordinal 270 delivers it: 64 bytes.
#pragma pack(push, 1)
struct ABFTag {
    int32_t lTagTime;   // in synch-time units
    char sComment[56];  // not NUL-terminated
    int16_t nTagType;   // 0 time, 1 comment, 2 external, 3 voice, 4 new file, 5 annotation
    int16_t nVoiceTagNumberOrAnnotationIndex;
};
#pragma pack(pop)
static_assert(sizeof(ABFTag) == 64, "ABFTag size");

enum AbfTagType : int16_t {
    kAbfTimeTag = 0,
    kAbfCommentTag = 1,
    kAbfExternalTag = 2,
    kAbfVoiceTag = 3,
    kAbfNewFileTag = 4,
    kAbfAnnotationTag = 5,
};

// The header's nOperationMode: how the recording was acquired.
enum AbfOperationMode : int16_t {
    kAbfVariableLengthEvents = 1,   // event-driven, one synch entry per event
    kAbfFixedLengthEvents = 2,      // event-driven, one synch entry per sweep; sweeps may overlap
    kAbfGapFree = 3,                // one continuous record
    kAbfHighSpeedOscilloscope = 4,  // one synch entry per sweep
    kAbfEpisodic = 5,               // episodic stimulation: sweeps with a stimulus waveform
};

// Error numbers, the same as the vendor library's for the same conditions.
enum AbfError : int {
    ABF_SUCCESS = 0,
    ABF_EUNKNOWNFILETYPE = 1001,
    ABF_EBADFILEINDEX = 1002,
    ABF_TOOMANYFILESOPEN = 1003,
    ABF_EOPENFILE = 1004,
    ABF_EINVALIDFILE = 1005,
    ABF_EREADDATA = 1006,
    ABF_OUTOFMEMORY = 1008,
    ABF_EREADSYNCH = 1009,
    ABF_EBADSYNCH = 1010,
    ABF_EEPISODERANGE = 1011,
    ABF_EINVALIDCHANNEL = 1012,
    ABF_EEPISODESIZE = 1013,
    ABF_ENOTAGS = 1016,
    ABF_EREADTAG = 1017,
    ABF_ENOSYNCHPRESENT = 1018,
    ABF_EREADDACEPISODE = 1019,
    ABF_ENOWAVEFORM = 1020,
    ABF_EBADWAVEFORM = 1021,
};

// ordinal 110
ABF_EXPORT ABFBOOL ABF_API ABF_ReadOpen(const char* fileName, int32_t* file, uint32_t flags, ABFFileHeader* header,
                                        uint32_t* maxSamples, uint32_t* maxEpisodes, int32_t* error);
// ordinal 140
ABF_EXPORT ABFBOOL ABF_API ABF_IsABFFile(const char* fileName, int32_t* dataFormat, int32_t* error);
// ordinal 150
ABF_EXPORT ABFBOOL ABF_API ABF_HasData(int32_t file, const ABFFileHeader* header);
// ordinal 160
ABF_EXPORT ABFBOOL ABF_API ABF_Close(int32_t file, int32_t* error);
// ordinal 210
ABF_EXPORT ABFBOOL ABF_API ABF_ReadChannel(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode,
                                           float* buffer, uint32_t* numSamples, int32_t* error);
// ordinal 250
ABF_EXPORT ABFBOOL ABF_API ABF_GetWaveform(int32_t file, const ABFFileHeader* header, int32_t channel, uint32_t episode,
                                           float* buffer, int32_t* error);
// ordinal 270
ABF_EXPORT ABFBOOL ABF_API ABF_ReadTags(int32_t file, const ABFFileHeader* header, uint32_t firstTag, ABFTag* tags,
                                        uint32_t numTags, int32_t* error);
// ordinal 340
ABF_EXPORT ABFBOOL ABF_API ABF_GetNumSamples(int32_t file, const ABFFileHeader* header, uint32_t episode,
                                             uint32_t* numSamples, int32_t* error);
// ordinal 350
ABF_EXPORT ABFBOOL ABF_API ABF_GetStartTime(int32_t file, const ABFFileHeader* header, int32_t channel,
                                            uint32_t episode, double* startTime, int32_t* error);
// ordinal 360
ABF_EXPORT ABFBOOL ABF_API ABF_GetEpisodeDuration(int32_t file, const ABFFileHeader* header, uint32_t episode,
                                                  double* duration, int32_t* error);
// ordinal 470
ABF_EXPORT ABFBOOL ABF_API ABF_BuildErrorText(int32_t errorNumber, const char* fileName, char* text,
                                              uint32_t maxLength);

// Test control, for the project's own tests only (ordinal 901; nothing calls it in
// normal use, and until it is called the library behaves as shipped).
// Makes call number `afterCalls` + 1 (counting from now) of `ordinal` fail with
// `errorNumber`, once. ordinal 0 clears every pending fault.
ABF_TEST_EXPORT void ABF_API ABFTest_InjectFault(int32_t ordinal, int32_t errorNumber, int32_t afterCalls);
// Test control (ordinal 902): when `on` is non-zero the open writes the library's own
// 30023-byte record layout whatever lHeaderSize says, as the vendor library 2.2.0.1
// does, so callers can be tested against that overwrite.
ABF_TEST_EXPORT void ABF_API ABFTest_WriteLibraryRecord(int32_t on);

// Test control (ordinal 903): the file layer fails, for the project's own tests only.
// Read number `afterReads` + 1 (counting from now the reads of opened files, the
// open's own included) meets the fault `kind`, once; kAbfReadFaultNone clears what is
// pending or in effect. Returns the number of file reads made since the library was
// loaded, so a test can count the reads of a call. Until called, the library behaves
// as shipped.
enum AbfReadFault : int32_t {
    kAbfReadFaultNone = 0,
    kAbfReadFaultIoError = 1,  // the system reports a read error after `bytes` bytes (a share gone away)
    kAbfReadFaultShort = 2,    // the read delivers `bytes` bytes and then the file ends
    kAbfReadFaultShrink = 3,   // from this read on the file ends at byte `bytes` (truncated under the reader)
    kAbfReadFaultGrow = 4,     // from this read on the file is `bytes` longer and its first block rewritten
                               // (a recording still running)
};
ABF_TEST_EXPORT int32_t ABF_API ABFTest_InjectReadFault(int32_t kind, int32_t afterReads, int32_t bytes);
