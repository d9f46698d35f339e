// The history listing and the key=value string of the header catalogue.
//
// Every text is composed in a buffer sized for the item's extreme values (a float
// list of sixteen single-precision extremes needs some 800 characters), so no value
// is ever cut.
#include "header_text.h"

#include <cstring>

#include "text.h"

namespace {

// The widest text field or text-list element of the record.
constexpr int kMaxTextWidth = 256;

constexpr bool TextWidthsFit()
{
    for (const HeaderItem& item : kHeaderCatalogue)
        if ((item.kind == kItemTextField || item.kind == kItemTextList) && item.width > kMaxTextWidth) return false;
    return true;
}
static_assert(TextWidthsFit(), "a text of the catalogue is wider than the text buffers");

// One value of a list in its "%d" or "%f" form.
void AppendListValue(TextBuffer* out, const ABFFileHeader* header, const HeaderItem& item, int i)
{
    if (item.kind == kItemFloatList)
        TextAppendFixed(out, HeaderListFloat(header, item, i));
    else
        TextAppendInt(out, HeaderListInteger(header, item, i));
}

// The value of one field of a block, "%f" or "%d" by its type.
void AppendBlockValue(TextBuffer* out, const ABFFileHeader* header, const HeaderBlockKey& key)
{
    if (key.kind == AbfFieldKind::kF32)
        TextAppendFixed(out, HeaderFloat(header, key.offset));
    else
        TextAppendInt(out, HeaderInteger(header, key.offset, key.kind));
}

// Every field of a block as key, `equals`, value and `end`.
void AppendBlock(TextBuffer* out, const HeaderItem& item, const ABFFileHeader* header, const char* equals, char end)
{
    for (int k = 0; k < item.keyCount; ++k) {
        const HeaderBlockKey& key = item.keys[k];
        TextAppendText(out, key.key);
        TextAppendText(out, equals);
        AppendBlockValue(out, header, key);
        TextAppendChar(out, end);
    }
}

// The key and `equals`, then each value with `separator`, the last with `last`.
void AppendList(TextBuffer* out, const char* equals, const ABFFileHeader* header, const HeaderItem& item,
                char separator, char last)
{
    TextAppendText(out, item.key);
    TextAppendText(out, equals);
    for (int i = 0; i < item.count; ++i) {
        AppendListValue(out, header, item, i);
        TextAppendChar(out, i == item.count - 1 ? last : separator);
    }
}

// ---- Listing -----------------------------------------------------------------------

// "key = ", then each element as it stands up to its first NUL with ";", the last
// with a carriage return: one message each.
void PrintTextList(ListingSink sink, void* context, const ABFFileHeader* header, const HeaderItem& item)
{
    char text[kListingBufferSize];
    TextBuffer out;
    TextBufferInit(&out, text, sizeof text);
    TextAppendText(&out, item.key);
    TextAppendText(&out, " = ");
    sink(context, text);
    char element[kMaxTextWidth + 1];
    for (int k = 0; k < item.count; ++k) {
        std::memcpy(element, HeaderText(header, item, k), item.width);
        element[item.width] = '\0';
        TextBufferInit(&out, text, sizeof text);
        TextAppendText(&out, element);
        TextAppendChar(&out, k == item.count - 1 ? '\r' : ';');
        sink(context, text);
    }
}

// One message for every item but a text list.
void ComposeListingItem(TextBuffer* out, const ABFFileHeader* header, const HeaderItem& item)
{
    char value[kMaxTextWidth + 1];
    switch (item.kind) {
    case kItemBlock: AppendBlock(out, item, header, " = ", '\r'); break;
    case kItemTextField:
        AbfTrimHeaderText(HeaderText(header, item, 0), item.width, value);
        TextAppendText(out, item.key);
        TextAppendText(out, " = ");
        TextAppendText(out, value);
        TextAppendChar(out, '\r');
        break;
    case kItemShortList: AppendList(out, " = ", header, item, ',', ';'); break;
    case kItemLongList: AppendList(out, " = ", header, item, ';', '\r'); break;
    default: AppendList(out, "=", header, item, ',', ';'); break;  // float and byte lists
    }
}

// ---- Key=value string ------------------------------------------------------------------

// The value of a non-block item: a text trimmed at both ends, or the elements of a
// list or text list joined by commas.
void AppendItemValue(TextBuffer* out, const ABFFileHeader* header, const HeaderItem& item)
{
    char value[kMaxTextWidth + 1];
    switch (item.kind) {
    case kItemTextField:
        TextAppendText(out, AbfTrimHeaderTextBoth(HeaderText(header, item, 0), item.width, value));
        break;
    case kItemTextList:
        for (int k = 0; k < item.count; ++k) {
            if (k > 0) TextAppendChar(out, ',');
            TextAppendText(out, AbfTrimHeaderTextBoth(HeaderText(header, item, k), item.width, value));
        }
        break;
    default:
        for (int i = 0; i < item.count; ++i) {
            if (i > 0) TextAppendChar(out, ',');
            AppendListValue(out, header, item, i);
        }
        break;
    }
}

}  // namespace

void PrintHeaderListing(ListingSink sink, void* context, const ABFFileHeader* header)
{
    for (const HeaderItem& item : kHeaderCatalogue) {
        if (item.kind == kItemTextList) {
            PrintTextList(sink, context, header, item);
            continue;
        }
        char text[kListingBufferSize];
        TextBuffer out;
        TextBufferInit(&out, text, sizeof text);
        ComposeListingItem(&out, header, item);
        sink(context, text);
    }
}

void VisitHeaderPieces(const ABFFileHeader* header, HeaderPieceVisitor visit, void* context)
{
    char value[kHeaderPieceBufferSize];
    TextBuffer out;
    for (const HeaderItem& item : kHeaderCatalogue) {
        if (item.kind == kItemBlock) {
            for (int k = 0; k < item.keyCount; ++k) {
                TextBufferInit(&out, value, sizeof value);
                AppendBlockValue(&out, header, item.keys[k]);
                visit(context, item.keys[k].key, value, kItemBlock);
            }
            continue;
        }
        TextBufferInit(&out, value, sizeof value);
        AppendItemValue(&out, header, item);
        visit(context, item.key, value, item.kind);
    }
}

std::size_t BuildHeaderString(char* text, std::size_t capacity, const ABFFileHeader* header)
{
    // The pieces of VisitHeaderPieces, composed in place rather than each aside first.
    TextBuffer out;
    TextBufferInit(&out, text, capacity);
    for (const HeaderItem& item : kHeaderCatalogue) {
        if (item.kind == kItemBlock) {
            for (int k = 0; k < item.keyCount; ++k) {
                TextAppendText(&out, item.keys[k].key);
                TextAppendChar(&out, '=');
                AppendBlockValue(&out, header, item.keys[k]);
                TextAppendChar(&out, ';');
            }
            continue;
        }
        TextAppendText(&out, item.key);
        TextAppendChar(&out, '=');
        AppendItemValue(&out, header, item);
        TextAppendChar(&out, ';');
    }
    return out.length;
}
