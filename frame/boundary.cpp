// The opening and closing steps of the external functions.
#include "boundary.h"

int TerminateOwnedString(Handle text)
{
    if (TerminateStringHandle(text) == kStatusOk) return kStatusOk;
    return ReleaseString(text, kStatusOutOfMemory);
}

int TakeString(Handle text)
{
    if (int status = RequireString(text)) return status;
    return TerminateOwnedString(text);
}

int ReleaseString(Handle text, int status)
{
    if (text) DisposeHandle(text);
    return status;
}

bool ResizeHandle(Handle h, std::size_t size)
{
    const BCInt wanted = static_cast<BCInt>(size);
    SetHandleSize(h, wanted);
    return GetHandleSize(h) == wanted;
}
