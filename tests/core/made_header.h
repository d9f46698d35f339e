// Made-up headers for the core's tests: a header all zero, and text put into a
// fixed-width field as the files hold it (space padded, no terminator).
#pragma once

#include <cstring>

#include "interface/abf_record.h"

inline ABFFileHeader BlankHeader()
{
    ABFFileHeader h;
    std::memset(&h, 0, sizeof h);
    return h;
}

inline void PutText(char* field, std::size_t width, const char* text)
{
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::strlen(text));
}
