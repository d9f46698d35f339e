// The opening and closing steps of the external functions.
#include "boundary.h"

int TakeString(Handle text)
{
    if (int status = RequireString(text)) return status;
    return TerminateStringHandle(text);
}

int ReleaseString(Handle text, int status)
{
    if (text) DisposeHandle(text);
    return status;
}
