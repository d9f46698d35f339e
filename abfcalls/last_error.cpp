// The last-error state and its two external functions.
#include "last_error.h"

#include <cstdio>
#include <cstring>

#include "abf_library.h"
#include "frame/boundary.h"

int32_t lastErrorNumber = 0;
char lastErrorText[kLastErrorTextSize] = {0};

void RecordAbfError(const char* fileName, int32_t errorNumber)
{
    char text[kAbfErrorTextBufferSize];
    std::memset(text, 0, sizeof text);
    if (LibBuildErrorText(errorNumber, fileName, text, kAbfErrorTextBufferSize)) {
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
}

int kav_AbfLastErr(void* params)
{
    auto* p = OpenBlock<LastErrParams>(params);
    p->result = static_cast<double>(lastErrorNumber);
    return kStatusOk;
}

int kav_AbfLastErrStr(void* params)
{
    auto* p = OpenBlock<LastErrStrParams>(params);
    std::size_t length = 0;
    while (length < sizeof lastErrorText && lastErrorText[length] != '\0') ++length;
    return NewStringHandle(lastErrorText, length, &p->result);
}
