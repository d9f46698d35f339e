// Composing texts into fixed buffers, and the header's fixed-width texts. Every
// text the core writes (the header's two renderings, the wave note, the
// sampling-sequence text) is composed with these.
#pragma once

#include <cstddef>

// A text under composition in `capacity` bytes. Appends write what fits and keep
// the text NUL-terminated (when capacity > 0); `length` counts the whole text as
// if nothing had been cut, as snprintf does, so the text is complete exactly when
// length < capacity and a caller can size a buffer from a first try.
struct TextBuffer {
    char* data;
    std::size_t capacity;
    std::size_t length;
};
void TextBufferInit(TextBuffer* buffer, char* data, std::size_t capacity);
// printf-style append.
void TextAppend(TextBuffer* buffer, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Copies a fixed-width header text of `width` bytes into `out` (width + 1 bytes),
// NUL-terminates it and turns trailing blanks into NULs, passing over NULs, up to
// the first other character. The value is `out` up to its first NUL: text after a
// NUL inside the field is not part of it, leading blanks stay, and a field of
// blanks and NULs is the empty text.
void AbfTrimHeaderText(const char* field, std::size_t width, char* out);
// The same, then skips leading blanks: returns the start of the value within out.
const char* AbfTrimHeaderTextBoth(const char* field, std::size_t width, char* out);
