// Stand-in until the last-error state lands in abf/ (removed with that merge): keeps
// the number only.
#include "last_error.h"

namespace {
int32_t interimErrorNumber = 0;
}

int RecordAbfError(const char*, int32_t errorNumber)
{
    interimErrorNumber = errorNumber;
    return 0;
}
