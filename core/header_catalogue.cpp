// Reading the catalogue's fields from the header record.
#include "header_catalogue.h"

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
