// Bounded text composition and header-text trimming.
#include "text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void TextBufferInit(TextBuffer* buffer, char* data, std::size_t capacity)
{
    buffer->data = data;
    buffer->capacity = capacity;
    buffer->length = 0;
    if (capacity) data[0] = '\0';
}

void TextAppend(TextBuffer* buffer, const char* format, ...)
{
    // Once the text is cut, later appends only count: vsnprintf with no room.
    const bool room = buffer->length < buffer->capacity;
    char* at = room ? buffer->data + buffer->length : nullptr;
    const std::size_t size = room ? buffer->capacity - buffer->length : 0;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(at, size, format, args);
    va_end(args);
    if (n > 0) buffer->length += static_cast<std::size_t>(n);
}

void AbfTrimHeaderText(const char* field, std::size_t width, char* out)
{
    std::memcpy(out, field, width);
    out[width] = '\0';
    for (std::size_t i = width + 1; i-- > 0;) {
        if (out[i] == '\0') continue;
        if (out[i] != ' ') break;
        out[i] = '\0';
    }
}

const char* AbfTrimHeaderTextBoth(const char* field, std::size_t width, char* out)
{
    AbfTrimHeaderText(field, width, out);
    const char* p = out;
    while (*p == ' ') ++p;
    return p;
}
