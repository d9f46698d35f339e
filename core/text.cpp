// Bounded text composition and header-text trimming.
#include "text.h"

#include <charconv>
#include <cmath>
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

void TextAppendChars(TextBuffer* buffer, const char* text, std::size_t count)
{
    // As vsnprintf would: what fits before the last byte, then the NUL.
    if (buffer->length < buffer->capacity) {
        const std::size_t room = buffer->capacity - buffer->length - 1;
        const std::size_t n = count < room ? count : room;
        std::memcpy(buffer->data + buffer->length, text, n);
        buffer->data[buffer->length + n] = '\0';
    }
    buffer->length += count;
}

void TextAppendText(TextBuffer* buffer, const char* text)
{
    // Copied as it is measured, in one pass (the texts are keys and header texts, a few
    // dozen characters: the C library's strlen and memcpy, called through the import
    // table in the Windows builds, cost more than the copy).
    std::size_t n = 0;
    if (buffer->length < buffer->capacity) {
        char* to = buffer->data + buffer->length;
        const std::size_t room = buffer->capacity - buffer->length - 1;
        for (; n < room && text[n] != '\0'; ++n) to[n] = text[n];
        to[n] = '\0';
    }
    while (text[n] != '\0') ++n;  // what did not fit still counts
    buffer->length += n;
}

void TextAppendChar(TextBuffer* buffer, char c)
{
    // (The commonest append, a separator, where it fits: no copy of one byte.)
    if (buffer->length + 1 < buffer->capacity) {
        buffer->data[buffer->length] = c;
        buffer->data[++buffer->length] = '\0';
        return;
    }
    TextAppendChars(buffer, &c, 1);
}

namespace {

// TextAppendChars for the short texts of numbers: a byte loop where the text fits.
void AppendShort(TextBuffer* buffer, const char* text, std::size_t count)
{
    if (count < 32 && buffer->length + count < buffer->capacity) {
        char* to = buffer->data + buffer->length;
        for (std::size_t i = 0; i < count; ++i) to[i] = text[i];
        to[count] = '\0';
        buffer->length += count;
        return;
    }
    TextAppendChars(buffer, text, count);
}

}  // namespace

void TextAppendInt(TextBuffer* buffer, int32_t value)
{
    char text[kIntTextMax];
    AppendShort(buffer, text, FormatInt(value, text));
}

void TextAppendFixed(TextBuffer* buffer, double value)
{
    char text[kFixedTextMax];
    AppendShort(buffer, text, FormatFixed(value, text));
}

namespace {

// The decimal digits of v, at least `minDigits` of them (leading zeros), at the end of
// the kDigitsMax bytes before `end`; returns where they start.
constexpr int kDigitsMax = 20;
char* Digits(uint64_t v, int minDigits, char* end)
{
    char* p = end;
    // (Nine digits at a time in 32 bits: a 64-bit division is a library call in the
    // 32-bit build.)
    while (v > UINT32_MAX) {
        uint32_t low = static_cast<uint32_t>(v % 1000000000);
        v /= 1000000000;
        for (int i = 0; i < 9; ++i, --minDigits) {
            *--p = static_cast<char>('0' + low % 10);
            low /= 10;
        }
    }
    uint32_t w = static_cast<uint32_t>(v);
    do {
        *--p = static_cast<char>('0' + w % 10);
        w /= 10;
        --minDigits;
    } while (w != 0 || minDigits > 0);
    return p;
}

}  // namespace

std::size_t FormatInt(int32_t value, char* out)
{
    char digits[kDigitsMax];
    char* end = digits + kDigitsMax;
    // (The magnitude as unsigned: -2147483648 has no positive int32_t.)
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(value)) : value;
    const char* p = Digits(magnitude, 1, end);
    std::size_t n = 0;
    if (value < 0) out[n++] = '-';
    std::memcpy(out + n, p, static_cast<std::size_t>(end - p));
    return n + static_cast<std::size_t>(end - p);
}

std::size_t FormatFixed(double value, char* out)
{
    const bool negative = std::signbit(value);
    std::size_t n = 0;
    if (negative) out[n++] = '-';
    const double a = std::fabs(value);
    if (std::isnan(value) || std::isinf(value)) {
        std::memcpy(out + n, std::isnan(value) ? "nan" : "inf", 3);
        return n + 3;
    }
    // The header's values are single-precision floats. For those, a * 10^6 is exact in
    // a double (24 significant bits times 2^6 * 15625, under 2^14: 44 bits), so
    // rounding it to an integer, ties to the even one, is printf's rounding of the
    // exact value; below 2^24 it also holds a fraction exactly, and from 2^24 on a
    // float is a whole number. Up to 10^12 the scaled value fits in 64 bits.
    const bool isFloat = static_cast<double>(static_cast<float>(a)) == a;
    if (isFloat && a < 2147483648.0) {
        // The commonest case in 32-bit arithmetic (64-bit integer conversions and
        // divisions are library calls in the 32-bit build): the whole part, and the
        // fraction, which a float holds in at most 24 bits, times 10^6, also exact.
        // The parity of the millionths is that of the scaled value (10^6 is even).
        uint32_t whole = static_cast<uint32_t>(static_cast<int32_t>(a));
        const double millionths = (a - static_cast<double>(whole)) * 1e6;
        uint32_t micro = static_cast<uint32_t>(static_cast<int32_t>(millionths));
        const double rest = millionths - static_cast<double>(micro);
        if (rest > 0.5 || (rest == 0.5 && (micro & 1) != 0)) ++micro;
        if (micro == 1000000) {
            micro = 0;
            ++whole;
        }
        char digits[kDigitsMax];
        char* end = digits + kDigitsMax;
        const char* p = Digits(whole, 1, end);
        std::memcpy(out + n, p, static_cast<std::size_t>(end - p));
        n += static_cast<std::size_t>(end - p);
        out[n++] = '.';
        p = Digits(micro, 6, end);
        std::memcpy(out + n, p, 6);
        return n + 6;
    }
    if (isFloat && a < 1e12) {
        // (The whole part by conversion, its remainder exact: below 2^53 both are, and
        // from there on the value has no fraction.)
        const double scaled = a * 1e6;
        uint64_t units = static_cast<uint64_t>(scaled);
        const double fraction = scaled - static_cast<double>(units);
        if (fraction > 0.5 || (fraction == 0.5 && (units & 1) != 0)) ++units;
        char digits[kDigitsMax];
        char* end = digits + kDigitsMax;
        // Seven digits at least: "0." and the six decimals.
        const char* p = Digits(units, 7, end);
        const std::size_t intDigits = static_cast<std::size_t>(end - p) - 6;
        std::memcpy(out + n, p, intDigits);
        n += intDigits;
        out[n++] = '.';
        std::memcpy(out + n, p + intDigits, 6);
        return n + 6;
    }
    // Anything else (larger, or not a float): the standard library's exact conversion,
    // which rounds as printf does.
    const std::to_chars_result r = std::to_chars(out + n, out + kFixedTextMax, a, std::chars_format::fixed, 6);
    return static_cast<std::size_t>(r.ptr - out);
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
