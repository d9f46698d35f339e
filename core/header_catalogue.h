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

#include "core/header_catalogue_rules.h"
// kHeaderCatalogue[kHeaderItemCount], generated from core/header_catalogue.csv.
#include "core/header_catalogue_data.h"

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

// The longest text one item gives in a syntax that joins key and value with
// `equals` characters, counting `nul` for the NUL of each message: the listing
// sends one message per item (a text list one more per element), the key=value
// string is one text. Per block field "key", equals, value and its end; per list
// the key, equals and `count` values with their separators.
constexpr std::size_t ItemTextBound(const HeaderItem& item, std::size_t equals, std::size_t nul)
{
    if (item.kind == kItemBlock) {
        std::size_t n = nul;
        for (int k = 0; k < item.keyCount; ++k)
            n += HeaderKeyLength(item.keys[k].key) + equals + HeaderValueBound(item.keys[k].kind) + 1;
        return n;
    }
    const std::size_t head = HeaderKeyLength(item.key) + equals;
    switch (item.kind) {
    case kItemTextField: return head + item.width + 1 + nul;
    case kItemTextList: {
        if (nul == 0) return head + item.count * (std::size_t{item.width} + 1);
        // The listing sends the key and each element as messages of their own.
        const std::size_t element = std::size_t{item.width} + 1 + nul;
        return head + nul > element ? head + nul : element;
    }
    case kItemFloatList: return head + item.count * (kMaxFloatText + 1) + nul;
    default: return head + item.count * (kMaxIntegerText + 1) + nul;
    }
}

// The longest message one listing item sends ("key = " for every item: the widest
// joint), NUL included, and the longest key=value piece, without NUL.
constexpr std::size_t ListingMessageBound(const HeaderItem& item) { return ItemTextBound(item, 3, 1); }
constexpr std::size_t StringPieceBound(const HeaderItem& item) { return ItemTextBound(item, 1, 0); }

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
// One value of the key=value string (the piece without its key, "=" and ";"), with
// its NUL.
constexpr std::size_t HeaderPieceBufferSize()
{
    std::size_t n = 1;
    for (const HeaderItem& item : kHeaderCatalogue)
        if (StringPieceBound(item) + 1 > n) n = StringPieceBound(item) + 1;
    return n;
}
inline constexpr std::size_t kHeaderPieceBufferSize = HeaderPieceBufferSize();
