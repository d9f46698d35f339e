// Reading the catalogue's fields from the header record, trimming its texts, and the
// bounded buffer both syntaxes compose in.
#include "header_catalogue.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr bool CatalogueKeysUnique()
{
    const char* keys[400] = {};
    int n = 0;
    for (const HeaderItem& item : kHeaderCatalogue) {
        if (item.kind == kItemBlock) {
            for (int k = 0; k < item.keyCount; ++k) keys[n++] = item.keys[k].key;
        } else {
            keys[n++] = item.key;
        }
    }
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            if (HeaderSameName(keys[i], keys[j])) return false;
    return true;
}
static_assert(CatalogueKeysUnique(), "a key occurs twice in the header catalogue");
static_assert(kListingBufferSize >= 512 && kHeaderStringBufferSize >= 20480, "buffer sizes");

template <typename T>
T ReadAt(const ABFFileHeader* header, std::size_t offset)
{
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(header) + offset, sizeof value);
    return value;
}

std::size_t ElementSize(AbfFieldKind kind)
{
    switch (kind) {
    case AbfFieldKind::kI8:
    case AbfFieldKind::kU8:
    case AbfFieldKind::kChar: return 1;
    case AbfFieldKind::kI16:
    case AbfFieldKind::kU16: return 2;
    default: return 4;
    }
}

AbfFieldKind ListElementKind(HeaderItemKind kind)
{
    switch (kind) {
    case kItemShortList: return AbfFieldKind::kI16;
    case kItemFloatList: return AbfFieldKind::kF32;
    case kItemLongList: return AbfFieldKind::kI32;
    case kItemByteList: return AbfFieldKind::kI8;
    default: return AbfFieldKind::kChar;
    }
}

}  // namespace

int32_t HeaderInteger(const ABFFileHeader* header, uint32_t offset, AbfFieldKind kind)
{
    switch (kind) {
    case AbfFieldKind::kI8: return ReadAt<int8_t>(header, offset);
    case AbfFieldKind::kU8: return ReadAt<uint8_t>(header, offset);
    case AbfFieldKind::kI16: return ReadAt<int16_t>(header, offset);
    case AbfFieldKind::kU16: return ReadAt<uint16_t>(header, offset);
    case AbfFieldKind::kI32: return ReadAt<int32_t>(header, offset);
    case AbfFieldKind::kU32: return static_cast<int32_t>(ReadAt<uint32_t>(header, offset));
    case AbfFieldKind::kF32: return static_cast<int32_t>(ReadAt<float>(header, offset));
    case AbfFieldKind::kChar: return ReadAt<char>(header, offset);
    }
    return 0;
}

double HeaderFloat(const ABFFileHeader* header, uint32_t offset)
{
    return static_cast<double>(ReadAt<float>(header, offset));
}

int32_t HeaderListInteger(const ABFFileHeader* header, const HeaderItem& item, int i)
{
    const AbfFieldKind kind = ListElementKind(item.kind);
    return HeaderInteger(header, item.offset + static_cast<uint32_t>(i * ElementSize(kind)), kind);
}

double HeaderListFloat(const ABFFileHeader* header, const HeaderItem& item, int i)
{
    return HeaderFloat(header, item.offset + static_cast<uint32_t>(i * 4));
}

const char* HeaderText(const ABFFileHeader* header, const HeaderItem& item, int k)
{
    return reinterpret_cast<const char*>(header) + item.offset + static_cast<std::size_t>(k) * item.width;
}

void TrimTextEnd(const char* field, int width, char* out)
{
    std::memcpy(out, field, static_cast<std::size_t>(width));
    out[width] = '\0';
    for (int i = width; i >= 0; --i) {
        if (out[i] == '\0') continue;
        if (out[i] != ' ') break;
        out[i] = '\0';
    }
}

const char* TrimTextBoth(const char* field, int width, char* out)
{
    TrimTextEnd(field, width, out);
    const char* p = out;
    while (*p == ' ') ++p;
    return p;
}

void TextBufferInit(TextBuffer* buffer, char* data, std::size_t capacity)
{
    buffer->data = data;
    buffer->capacity = capacity;
    buffer->length = 0;
    buffer->cut = false;
    if (capacity) data[0] = '\0';
}

std::size_t TextAppend(TextBuffer* buffer, const char* format, ...)
{
    if (buffer->capacity == 0) {
        buffer->cut = true;
        return 0;
    }
    char* at = buffer->data + buffer->length;
    const std::size_t room = buffer->capacity - buffer->length;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(at, room, format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) >= room) {
        *at = '\0';  // nothing half-written
        buffer->cut = true;
        return 0;
    }
    buffer->length += static_cast<std::size_t>(n);
    return static_cast<std::size_t>(n);
}
