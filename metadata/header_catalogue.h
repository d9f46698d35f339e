// The header catalogue: the 90 items of the ABF file header that the history
// listing and the key=value string show, in the order both show them. Each item
// names a field of the header record; the two syntaxes are two sets of printers
// over the same items (header_text.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/abf_record.h"

enum HeaderItemKind : uint8_t {
    kItemBlock,      // several scalar fields, one "key = value" per field
    kItemTextField,  // one fixed-width text
    kItemShortList,  // 16-bit signed values
    kItemFloatList,  // single-precision values
    kItemLongList,   // eight 32-bit signed values
    kItemTextList,   // fixed-width texts one after the other
    kItemByteList,   // sixteen 8-bit signed values
};

// One scalar field of a block: its key (the field's name), where it sits in the
// record and how it is stored (which decides "%f" or "%d").
struct HeaderBlockKey {
    const char* key;
    uint32_t offset;
    AbfFieldKind kind;
};

struct HeaderItem {
    HeaderItemKind kind;
    const char* key;             // the field's name (null for blocks)
    uint32_t offset;             // the field's offset in ABFFileHeader
    uint16_t count;              // values of a list, elements of a text list, 1 otherwise
    uint16_t width;              // characters of a text field or text-list element
    const HeaderBlockKey* keys;  // blocks: their fields in order
    uint16_t keyCount;
};

inline constexpr int kHeaderItemCount = 90;

#include "header_catalogue_data.h"  // kHeaderCatalogue[kHeaderItemCount]

// ---- Values -------------------------------------------------------------------
// Integer fields widen to 32-bit signed: signed types with their sign, the 8- and
// 16-bit unsigned types without it; 32-bit unsigned fields read as signed.
int32_t HeaderInteger(const ABFFileHeader* header, uint32_t offset, AbfFieldKind kind);
// A single-precision field, widened to double.
double HeaderFloat(const ABFFileHeader* header, uint32_t offset);
// Element i of a list item, by the list's element type.
int32_t HeaderListInteger(const ABFFileHeader* header, const HeaderItem& item, int i);
double HeaderListFloat(const ABFFileHeader* header, const HeaderItem& item, int i);
// Start of a text field or of text-list element k.
const char* HeaderText(const ABFFileHeader* header, const HeaderItem& item, int k);

// ---- Texts --------------------------------------------------------------------
// Copies `width` characters into out (width + 1 characters) with a NUL after them,
// then turns trailing blanks into NULs, passing over NULs, up to the first other
// character. The value is out up to its first NUL; leading blanks stay.
void TrimTextEnd(const char* field, int width, char* out);
// The same, then skips leading blanks: returns the start of the value within out.
const char* TrimTextBoth(const char* field, int width, char* out);

// A bounded text under composition. Appends never write past `capacity` (the
// last byte is kept for the NUL); an append that does not fit in full sets `cut`
// and writes nothing.
struct TextBuffer {
    char* data;
    std::size_t capacity;
    std::size_t length;
    bool cut;
};
void TextBufferInit(TextBuffer* buffer, char* data, std::size_t capacity);
// printf-style append; returns the number of characters written.
std::size_t TextAppend(TextBuffer* buffer, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// ---- Sizes ----------------------------------------------------------------------
// The longest texts any value gives: "%f" of a single-precision extreme
// ("-340282346638528859811704183484516925440.000000") and "%d" of a 32-bit one.
inline constexpr std::size_t kMaxFloatText = 47;
inline constexpr std::size_t kMaxIntegerText = 11;

constexpr std::size_t HeaderKeyLength(const char* key)
{
    std::size_t n = 0;
    while (key[n]) ++n;
    return n;
}
constexpr std::size_t HeaderValueBound(AbfFieldKind kind)
{
    return kind == AbfFieldKind::kF32 ? kMaxFloatText : kMaxIntegerText;
}

// The longest message one listing item sends, NUL included ("key = value\r" per block
// field; "key = " or "key=" and count values with their separators; one text element).
constexpr std::size_t ListingMessageBound(const HeaderItem& item)
{
    switch (item.kind) {
    case kItemBlock: {
        std::size_t n = 1;
        for (int k = 0; k < item.keyCount; ++k)
            n += HeaderKeyLength(item.keys[k].key) + 3 + HeaderValueBound(item.keys[k].kind) + 1;
        return n;
    }
    case kItemTextField: return HeaderKeyLength(item.key) + 3 + item.width + 1 + 1;
    case kItemTextList: {
        std::size_t head = HeaderKeyLength(item.key) + 3 + 1;
        std::size_t element = std::size_t{item.width} + 1 + 1;
        return head > element ? head : element;
    }
    case kItemFloatList: return HeaderKeyLength(item.key) + 3 + item.count * (kMaxFloatText + 1) + 1;
    default: return HeaderKeyLength(item.key) + 3 + item.count * (kMaxIntegerText + 1) + 1;
    }
}

// The longest key=value piece one item adds, without NUL.
constexpr std::size_t StringPieceBound(const HeaderItem& item)
{
    switch (item.kind) {
    case kItemBlock: {
        std::size_t n = 0;
        for (int k = 0; k < item.keyCount; ++k)
            n += HeaderKeyLength(item.keys[k].key) + 1 + HeaderValueBound(item.keys[k].kind) + 1;
        return n;
    }
    case kItemTextField: return HeaderKeyLength(item.key) + 1 + item.width + 1;
    case kItemTextList: return HeaderKeyLength(item.key) + 1 + item.count * (std::size_t{item.width} + 1);
    case kItemFloatList: return HeaderKeyLength(item.key) + 1 + item.count * (kMaxFloatText + 1);
    default: return HeaderKeyLength(item.key) + 1 + item.count * (kMaxIntegerText + 1);
    }
}

constexpr std::size_t ListingBufferSize()
{
    std::size_t n = 512;
    for (const HeaderItem& item : kHeaderCatalogue)
        if (ListingMessageBound(item) > n) n = ListingMessageBound(item);
    return n;
}

// The key=value text of any header fits, with its NUL.
constexpr std::size_t HeaderStringBound()
{
    std::size_t n = 1;
    for (const HeaderItem& item : kHeaderCatalogue) n += StringPieceBound(item);
    return n;
}

// Every listing message is composed in a buffer of this size: at least 512, and
// large enough for the longest item of extreme values.
inline constexpr std::size_t kListingBufferSize = ListingBufferSize();
// The key=value text is composed in a buffer of at least 20480 characters that
// holds the text of any header, extremes included.
inline constexpr std::size_t kHeaderStringBufferSize = HeaderStringBound() > 20480 ? HeaderStringBound() : 20480;
