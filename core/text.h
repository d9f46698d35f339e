// Composing texts into fixed buffers, and the header's fixed-width texts. Every
// text the core writes (the header's two renderings, the wave note, the
// sampling-sequence text) is composed with these.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Appends that give exactly the text of printf's "%s", "%c", "%d" and "%f" (the
// header's renderings use nothing else) without going through printf: the header
// string and listing hold some six hundred numbers, and these are several times
// faster. They cut and count as TextAppend does.
void TextAppendText(TextBuffer* buffer, const char* text);
void TextAppendChars(TextBuffer* buffer, const char* text, std::size_t count);
void TextAppendChar(TextBuffer* buffer, char c);
void TextAppendInt(TextBuffer* buffer, int32_t value);
void TextAppendFixed(TextBuffer* buffer, double value);

// printf's "%d" of `value` into `out` (kIntTextMax bytes or more, not NUL-terminated);
// returns the length.
inline constexpr std::size_t kIntTextMax = 11;
std::size_t FormatInt(int32_t value, char* out);
// printf's "%f" of `value` (six decimals, rounded to the nearest, ties to even digit;
// "inf", "nan" with their sign as glibc writes them) into `out` (kFixedTextMax bytes or
// more, not NUL-terminated); returns the length. The same text in every build: it does
// not depend on the C library.
inline constexpr std::size_t kFixedTextMax = 320;
std::size_t FormatFixed(double value, char* out);

// Copies a fixed-width header text of `width` bytes into `out` (width + 1 bytes),
// NUL-terminates it and turns trailing blanks into NULs, passing over NULs, up to
// the first other character. The value is `out` up to its first NUL: text after a
// NUL inside the field is not part of it, leading blanks stay, and a field of
// blanks and NULs is the empty text.
void AbfTrimHeaderText(const char* field, std::size_t width, char* out);
// The same, then skips leading blanks: returns the start of the value within out.
const char* AbfTrimHeaderTextBoth(const char* field, std::size_t width, char* out);
