// Copying file fields into the header record by the generated tables.
#include "record_copy.h"

#include <cstring>

namespace abffio {
namespace {

template <class T>
T Load(const uint8_t* p)
{
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void Store(uint8_t* p, T v)
{
    memcpy(p, &v, sizeof v);
}

int64_t LoadInteger(const uint8_t* p, AbfFieldKind k)
{
    switch (k) {
    case AbfFieldKind::kI8: return Load<int8_t>(p);
    case AbfFieldKind::kU8: return Load<uint8_t>(p);
    case AbfFieldKind::kI16: return Load<int16_t>(p);
    case AbfFieldKind::kU16: return Load<uint16_t>(p);
    case AbfFieldKind::kI32: return Load<int32_t>(p);
    case AbfFieldKind::kU32: return Load<uint32_t>(p);
    case AbfFieldKind::kF32:
    case AbfFieldKind::kChar: break;
    }
    return 0;
}

// Stores an integer in a field of another width (two's complement wrap, as a C cast).
void StoreInteger(uint8_t* p, AbfFieldKind k, int64_t v)
{
    switch (k) {
    case AbfFieldKind::kI8: Store(p, static_cast<int8_t>(v)); break;
    case AbfFieldKind::kU8: Store(p, static_cast<uint8_t>(v)); break;
    case AbfFieldKind::kI16: Store(p, static_cast<int16_t>(v)); break;
    case AbfFieldKind::kU16: Store(p, static_cast<uint16_t>(v)); break;
    case AbfFieldKind::kI32: Store(p, static_cast<int32_t>(v)); break;
    case AbfFieldKind::kU32: Store(p, static_cast<uint32_t>(v)); break;
    case AbfFieldKind::kF32:
    case AbfFieldKind::kChar: break;
    }
}

void CopyElement(const RecordCopy& c, const uint8_t* from, uint8_t* to, const CopyContext& ctx)
{
    if (c.viaString) {
        const int64_t k = LoadInteger(from, c.fromKind);
        const bool valid = ctx.strings && k >= 1 && static_cast<uint64_t>(k) <= ctx.strings->size();
        SetText(reinterpret_cast<char*>(to), c.toWidth,
                valid ? (*ctx.strings)[static_cast<size_t>(k - 1)].c_str() : "");
    } else if (c.fromKind == c.toKind && c.fromWidth == c.toWidth) {
        memcpy(to, from, c.fromWidth);
    } else if (c.fromKind == AbfFieldKind::kChar) {
        memcpy(to, from, c.fromWidth);  // the generator allows only shorter texts into longer ones
        memset(to + c.fromWidth, ' ', static_cast<size_t>(c.toWidth - c.fromWidth));
    } else {
        // Integers of another width (the generator allows no other conversion).
        StoreInteger(to, c.toKind, LoadInteger(from, c.fromKind));
    }
}

// First record element a row copies to, or -1 when its key lies outside the field.
long FirstElement(const RecordCopy& c, const CopyContext& ctx)
{
    switch (c.index) {
    case CopyIndex::kNone: return 0;
    case CopyIndex::kKey:
        if (c.toRows > 1) return ctx.key1 >= 0 && ctx.key1 < c.toRows ? static_cast<long>(ctx.key1) * c.toCols : -1;
        return ctx.key1 >= 0 && ctx.key1 < c.toCols ? ctx.key1 : -1;
    case CopyIndex::kKeys:
        if (ctx.key1 < 0 || ctx.key1 >= c.toRows || ctx.key2 < 0 || ctx.key2 >= c.toCols) return -1;
        return static_cast<long>(ctx.key1) * c.toCols + ctx.key2;
    }
    return -1;
}

}  // namespace

void SetText(char* dst, size_t width, const char* text)
{
    memset(dst, ' ', width);
    const size_t n = strlen(text);
    if (n <= width) memcpy(dst, text, n);
}

void CopyIntoRecord(const RecordCopy* table, size_t count, const uint8_t* src, size_t size, const CopyContext& ctx,
                    ABFLibraryHeader& rec)
{
    uint8_t* base = reinterpret_cast<uint8_t*>(&rec);
    for (size_t i = 0; i < count; ++i) {
        const RecordCopy& c = table[i];
        const size_t extent = c.from + (static_cast<size_t>(c.rows - 1) * c.fromCols + c.cols) * c.fromWidth;
        const long first = FirstElement(c, ctx);
        if (extent > size || first < 0) continue;
        // A row of elements stored as the record holds them is one block in both.
        const bool asIs = !c.viaString && c.fromKind == c.toKind && c.fromWidth == c.toWidth;
        for (size_t r = 0; r < c.rows; ++r) {
            if (asIs) {
                memcpy(base + c.to + (static_cast<size_t>(first) + r * c.toCols) * c.toWidth,
                       src + c.from + r * c.fromCols * c.fromWidth, static_cast<size_t>(c.cols) * c.fromWidth);
                continue;
            }
            for (size_t col = 0; col < c.cols; ++col) {
                const uint8_t* from = src + c.from + (r * c.fromCols + col) * c.fromWidth;
                uint8_t* to = base + c.to + (static_cast<size_t>(first) + r * c.toCols + col) * c.toWidth;
                CopyElement(c, from, to, ctx);
            }
        }
    }
}

}  // namespace abffio
