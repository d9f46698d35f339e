// kav_AbfPrintMetaData and kav_AbfMetaData: open the file, render its header, close.
#include <cstring>

#include "abf_library.h"
#include "header_text.h"
#include "host_services.h"
#include "last_error.h"
#include "metadata.h"
#include "xop.h"

namespace {

#if KAV_WIN32
#pragma pack(push, 2)
#endif
// Parameters in reverse table order, then the result.
struct PrintMetaDataParams {
    Handle fileName;
    double result;
};
struct MetaDataParams {
    Handle* text;  // the caller's string variable
    Handle fileName;
    double result;
};
#if KAV_WIN32
#pragma pack(pop)
#endif

void SendToHistory(const char* text) { HistoryPrint(text); }

// The key=value text is composed here: room for the text of any header.
char headerString[kHeaderStringBufferSize];

// Makes the file name NUL-terminated; when the handle cannot be grown it is released
// and the out-of-memory status comes back.
int PrepareFileName(Handle fileName)
{
    if (TerminateStringHandle(fileName) == kStatusOk) return kStatusOk;
    DisposeHandle(fileName);
    return kStatusOutOfMemory;
}

void CloseFile(int32_t file, Handle fileName)
{
    int32_t error = 0;
    if (!AbfClose(file, &error)) RecordAbfError(*fileName, error);
}

}  // namespace

int kav_AbfPrintMetaData(void* p)
{
    PrintMetaDataParams* params = static_cast<PrintMetaDataParams*>(p);
    params->result = 0;
    Handle fileName = params->fileName;
    if (!fileName) return kErrNullString;
    if (int status = PrepareFileName(fileName)) return status;

    AbfHeaderBlock block;
    int32_t file = 0;
    uint32_t maxSamples = 0, maxEpisodes = 0;
    int32_t error = 0;
    if (AbfOpenPrepared(*fileName, &file, &block, &maxSamples, &maxEpisodes, &error)) {
        PrintHeaderListing(SendToHistory, &block.header);
        params->result = 1;
        CloseFile(file, fileName);
    } else {
        RecordAbfError(*fileName, error);
    }
    DisposeHandle(fileName);
    return kStatusOk;
}

int kav_AbfMetaData(void* p)
{
    MetaDataParams* params = static_cast<MetaDataParams*>(p);
    params->result = 0;
    Handle fileName = params->fileName;
    if (!fileName) return kErrNullString;
    if (int status = PrepareFileName(fileName)) return status;

    AbfHeaderBlock block;
    int32_t file = 0;
    uint32_t maxSamples = 0, maxEpisodes = 0;
    int32_t error = 0;
    int status = kStatusOk;
    if (AbfOpenPrepared(*fileName, &file, &block, &maxSamples, &maxEpisodes, &error)) {
        std::memset(headerString, 0, sizeof headerString);
        const std::size_t length = BuildHeaderString(headerString, sizeof headerString, &block.header);
        // Without memory for the text the caller's variable keeps what it held.
        status = SetStringVariable(params->text, headerString, length);
        if (status == kStatusOk) params->result = 1;
        CloseFile(file, fileName);
    } else {
        RecordAbfError(*fileName, error);
    }
    DisposeHandle(fileName);
    return status;
}
