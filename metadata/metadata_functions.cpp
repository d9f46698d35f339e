// kav_AbfPrintMetaData and kav_AbfMetaData: open the file, render its header, close.
#include <cstring>

#include "abf/abf_library.h"
#include "header_text.h"
#include "frame/host_services.h"
#include "abf/last_error.h"
#include "metadata.h"
#include "frame/xop.h"

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
    if (AbfOpenRecorded(fileName, &block, &file, &maxSamples, &maxEpisodes)) {
        PrintHeaderListing(SendToHistory, &block.header);
        params->result = 1;
        AbfCloseRecorded(fileName, file);
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
    int status = kStatusOk;
    if (AbfOpenRecorded(fileName, &block, &file, &maxSamples, &maxEpisodes)) {
        std::memset(headerString, 0, sizeof headerString);
        const std::size_t length = BuildHeaderString(headerString, sizeof headerString, &block.header);
        // Without memory for the text the caller's variable keeps what it held.
        status = SetStringVariable(params->text, headerString, length);
        if (status == kStatusOk) params->result = 1;
        AbfCloseRecorded(fileName, file);
    }
    DisposeHandle(fileName);
    return status;
}
