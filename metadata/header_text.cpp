// The history listing and the key=value string of the header catalogue.
//
// Every text is composed in a buffer sized for the item's extreme values (a float
// list of sixteen single-precision extremes needs some 800 characters), so no value
// is ever cut.
#include "header_text.h"

#include <cstring>

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

bool IsFloat(AbfFieldKind kind) { return kind == AbfFieldKind::kF32; }

// One value of a list in its "%d" or "%f" form, followed by `separator`.
void AppendListValue(TextBuffer* out, const ABFFileHeader* header, const HeaderItem& item, int i, char separator)
{
    if (item.kind == kItemFloatList)
        TextAppend(out, "%f%c", HeaderListFloat(header, item, i), separator);
    else
        TextAppend(out, "%d%c", HeaderListInteger(header, item, i), separator);
}

void AppendBlockKey(TextBuffer* out, const HeaderBlockKey& key, const ABFFileHeader* header, const char* equals,
                    char end)
{
    if (IsFloat(key.kind))
        TextAppend(out, "%s%s%f%c", key.key, equals, HeaderFloat(header, key.offset), end);
    else
        TextAppend(out, "%s%s%d%c", key.key, equals, HeaderInteger(header, key.offset, key.kind), end);
}

}  // namespace

// ---- Listing ---------------------------------------------------------------------

void PrintFormatted(ListingSink sink, const HeaderBlockKey* keys, int keyCount, const ABFFileHeader* header)
{
    char text[kListingBufferSize];
    TextBuffer out;
    TextBufferInit(&out, text, sizeof text);
    for (int k = 0; k < keyCount; ++k) AppendBlockKey(&out, keys[k], header, " = ", '\r');
    sink(text);
}

void PrintTextField(ListingSink sink, const char* key, const char* field, int width)
{
    char value[kMaxTextWidth + 1];
    TrimTextEnd(field, width, value);
    char text[kListingBufferSize];
    TextBuffer out;
    TextBufferInit(&out, text, sizeof text);
    TextAppend(&out, "%s = %s\r", key, value);
    sink(text);
}

namespace {

// Lists share one pattern: the key part, then each value with `separator`, the last
// with `last`.
void PrintList(ListingSink sink, const char* keyFormat, const char* key, const ABFFileHeader* header,
               const HeaderItem& item, char separator, char last)
{
    char text[kListingBufferSize];
    TextBuffer out;
    TextBufferInit(&out, text, sizeof text);
    TextAppend(&out, keyFormat, key);
    for (int i = 0; i < item.count; ++i) AppendListValue(&out, header, item, i, i == item.count - 1 ? last : separator);
    sink(text);
}

}  // namespace

void PrintShortList(ListingSink sink, const char* key, const ABFFileHeader* header, const HeaderItem& item)
{
    PrintList(sink, "%s = ", key, header, item, ',', ';');
}

void PrintFloatList(ListingSink sink, const char* key, const ABFFileHeader* header, const HeaderItem& item)
{
    PrintList(sink, "%s=", key, header, item, ',', ';');
}

void PrintLongList(ListingSink sink, const char* key, const ABFFileHeader* header, const HeaderItem& item)
{
    PrintList(sink, "%s = ", key, header, item, ';', '\r');
}

void PrintByteList(ListingSink sink, const char* key, const ABFFileHeader* header, const HeaderItem& item)
{
    PrintList(sink, "%s=", key, header, item, ',', ';');
}

void PrintTextList(ListingSink sink, const char* key, const char* first, int count, int width)
{
    char text[kListingBufferSize];
    TextBuffer out;
    TextBufferInit(&out, text, sizeof text);
    TextAppend(&out, "%s = ", key);
    sink(text);
    char element[kMaxTextWidth + 1];
    for (int k = 0; k < count; ++k) {
        std::memcpy(element, first + static_cast<std::size_t>(k) * width, static_cast<std::size_t>(width));
        element[width] = '\0';
        TextBufferInit(&out, text, sizeof text);
        TextAppend(&out, "%s%c", element, k == count - 1 ? '\r' : ';');
        sink(text);
    }
}

void PrintHeaderListing(ListingSink sink, const ABFFileHeader* header)
{
    for (const HeaderItem& item : kHeaderCatalogue) {
        switch (item.kind) {
        case kItemBlock: PrintFormatted(sink, item.keys, item.keyCount, header); break;
        case kItemTextField: PrintTextField(sink, item.key, HeaderText(header, item, 0), item.width); break;
        case kItemShortList: PrintShortList(sink, item.key, header, item); break;
        case kItemFloatList: PrintFloatList(sink, item.key, header, item); break;
        case kItemLongList: PrintLongList(sink, item.key, header, item); break;
        case kItemTextList: PrintTextList(sink, item.key, HeaderText(header, item, 0), item.count, item.width); break;
        case kItemByteList: PrintByteList(sink, item.key, header, item); break;
        }
    }
}

// ---- Key=value string ----------------------------------------------------------------

std::size_t AppendBlock(TextBuffer* out, const HeaderBlockKey* keys, int keyCount, const ABFFileHeader* header)
{
    const std::size_t start = out->length;
    for (int k = 0; k < keyCount; ++k) AppendBlockKey(out, keys[k], header, "=", ';');
    return out->length - start;
}

std::size_t AppendTextField(TextBuffer* out, const char* key, const char* field, int width)
{
    char value[kMaxTextWidth + 1];
    return TextAppend(out, "%s=%s;", key, TrimTextBoth(field, width, value));
}

std::size_t AppendList(TextBuffer* out, const char* key, const ABFFileHeader* header, const HeaderItem& item)
{
    const std::size_t start = out->length;
    TextAppend(out, "%s=", key);
    for (int i = 0; i < item.count; ++i) AppendListValue(out, header, item, i, i == item.count - 1 ? ';' : ',');
    return out->length - start;
}

std::size_t AppendTextList(TextBuffer* out, const char* key, const char* first, int count, int width)
{
    const std::size_t start = out->length;
    TextAppend(out, "%s=", key);
    char element[kMaxTextWidth + 1];
    for (int k = 0; k < count; ++k) {
        const char* value = TrimTextBoth(first + static_cast<std::size_t>(k) * width, width, element);
        TextAppend(out, "%s%c", value, k == count - 1 ? ';' : ',');
    }
    return out->length - start;
}

std::size_t BuildHeaderString(char* text, std::size_t capacity, const ABFFileHeader* header)
{
    TextBuffer out;
    TextBufferInit(&out, text, capacity);
    for (const HeaderItem& item : kHeaderCatalogue) {
        switch (item.kind) {
        case kItemBlock: AppendBlock(&out, item.keys, item.keyCount, header); break;
        case kItemTextField: AppendTextField(&out, item.key, HeaderText(header, item, 0), item.width); break;
        case kItemTextList: AppendTextList(&out, item.key, HeaderText(header, item, 0), item.count, item.width); break;
        default: AppendList(&out, item.key, header, item); break;
        }
    }
    return out.length;
}
