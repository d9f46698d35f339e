// Stand-in until the last-error state lands in abf/ (removed with that merge).
#pragma once

#include <cstdint>

int RecordAbfError(const char* fileName, int32_t errorNumber);
