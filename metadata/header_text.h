// The two renderings of the header catalogue: the history listing (one message per
// block, text field and list, one more per text-list element) and the key=value
// string (every item as "key=value;" pieces, nothing between them).
#pragma once

#include <cstddef>

#include "header_catalogue.h"

// Where the listing's messages go: the history in the plug-in (HistoryPrint).
typedef void (*ListingSink)(const char* text);

// ---- Listing ---------------------------------------------------------------------
// Block: "key = value\r" for each of its fields, one message.
void PrintFormatted(ListingSink sink, const HeaderBlockKey* keys, int keyCount, const ABFFileHeader* header);
// "key = text\r", the text without trailing blanks and NULs.
void PrintTextField(ListingSink sink, const char* key, const char* field, int width);
// "key = v0,v1,...,vn;" ("%d").
void PrintShortList(ListingSink sink, const char* key, const ABFFileHeader* header, const HeaderItem& item);
// "key=v0,v1,...,vn;" ("%f").
void PrintFloatList(ListingSink sink, const char* key, const ABFFileHeader* header, const HeaderItem& item);
// "key = v0;v1;...;v7\r".
void PrintLongList(ListingSink sink, const char* key, const ABFFileHeader* header, const HeaderItem& item);
// "key = ", then one message per element: its text untrimmed up to its first NUL,
// and ";" (a carriage return after the last).
void PrintTextList(ListingSink sink, const char* key, const char* first, int count, int width);
// "key=b0,b1,...,b15;" (signed bytes).
void PrintByteList(ListingSink sink, const char* key, const ABFFileHeader* header, const HeaderItem& item);

// All 90 items in order.
void PrintHeaderListing(ListingSink sink, const ABFFileHeader* header);

// ---- Key=value string ----------------------------------------------------------------
// Each appender writes one item's piece at the buffer's end and returns the number of
// characters written.
std::size_t AppendBlock(TextBuffer* out, const HeaderBlockKey* keys, int keyCount, const ABFFileHeader* header);
std::size_t AppendTextField(TextBuffer* out, const char* key, const char* field, int width);
// 16-bit, float, 32-bit and byte lists: "key=v0,v1,...;".
std::size_t AppendList(TextBuffer* out, const char* key, const ABFFileHeader* header, const HeaderItem& item);
std::size_t AppendTextList(TextBuffer* out, const char* key, const char* first, int count, int width);

// Writes all 90 items from the start of `text` (capacity characters, NUL included)
// and returns the length. A capacity of kHeaderStringBufferSize holds any header.
std::size_t BuildHeaderString(char* text, std::size_t capacity, const ABFFileHeader* header);
