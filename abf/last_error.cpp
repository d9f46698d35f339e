// The last-error state and its two external functions.
#include "last_error.h"

#include <cstdio>
#include <cstring>

#include "abf_library.h"
#include "interface/host_abi.h"
#include "frame/host_services.h"

int32_t lastErrorNumber = 0;
char lastErrorText[kLastErrorTextSize] = {0};

int RecordAbfError(const char* fileName, int32_t errorNumber)
{
    char text[kAbfErrorTextBufferSize];
    std::memset(text, 0, sizeof text);
    if (AbfBuildErrorText(errorNumber, fileName, text, kAbfErrorTextBufferSize)) {
        // The library terminates its text; a text that fills the whole buffer is cut
        // rather than read past.
        text[kAbfErrorTextBufferSize - 1] = '\0';
    } else {
        std::snprintf(text, sizeof text, "Unknown error number: %d", static_cast<int>(errorNumber));
    }
    std::size_t length = std::strlen(text);
    std::memset(lastErrorText, 0, sizeof lastErrorText);
    std::memcpy(lastErrorText, text, length);
    lastErrorText[kLastErrorTextSize - 1] = '\0';
    lastErrorNumber = errorNumber;
    return 0;
}

#if KAV_WIN32
#pragma pack(push, 2)
#endif
struct LastErrParams {
    double result;
};
struct LastErrStrParams {
    Handle result;
};
#if KAV_WIN32
#pragma pack(pop)
#endif

int kav_AbfLastErr(void* params)
{
    auto* p = static_cast<LastErrParams*>(params);
    p->result = static_cast<double>(lastErrorNumber);
    return kStatusOk;
}

int kav_AbfLastErrStr(void* params)
{
    auto* p = static_cast<LastErrStrParams*>(params);
    p->result = nullptr;
    std::size_t length = 0;
    while (length < sizeof lastErrorText && lastErrorText[length] != '\0') ++length;
    return NewStringHandle(lastErrorText, length, &p->result);
}

bool AbfOpenRecorded(Handle fileName, AbfHeaderBlock* block, int32_t* file, uint32_t* sampleLimit, uint32_t* episodes)
{
    int32_t error = 0;
    if (AbfOpenPrepared(*fileName, file, block, sampleLimit, episodes, &error)) return true;
    RecordAbfError(*fileName, error);
    return false;
}

void AbfCloseRecorded(Handle fileName, int32_t file)
{
    int32_t error = 0;
    if (!AbfClose(file, &error)) RecordAbfError(*fileName, error);
}
