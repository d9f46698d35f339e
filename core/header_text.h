// The two renderings of the header catalogue: the history listing (one message per
// block, text field and list, one more per text-list element) and the key=value
// string (every item as "key=value;" pieces, nothing between them).
#pragma once

#include <cstddef>

#include "header_catalogue.h"

// Where the listing's messages go (the plug-in prints them into the history), with
// the context the caller gave.
typedef void (*ListingSink)(void* context, const char* text);

// All 90 items in order, each message NUL-terminated:
// - block: "key = value\r" for each of its fields, one message;
// - text field: "key = text\r", the text without trailing blanks and NULs;
// - 16-bit list: "key = v0,v1,...,vn;" ("%d"); float list: "key=v0,...,vn;" ("%f");
//   32-bit list: "key = v0;v1;...;v7\r"; byte list: "key=b0,...,b15;" (signed);
// - text list: "key = ", then one message per element: its text untrimmed up to its
//   first NUL, and ";" (a carriage return after the last).
void PrintHeaderListing(ListingSink sink, void* context, const ABFFileHeader* header);

// Writes all 90 items from the start of `text` (capacity characters, NUL included)
// and returns the length. A capacity of kHeaderStringBufferSize holds any header.
// Text fields and text-list elements lose their blanks at both ends.
std::size_t BuildHeaderString(char* text, std::size_t capacity, const ABFFileHeader* header);

// Calls `visit` once for every key of the key=value string, in its order, with the
// key and the value exactly as the string holds it between "key=" and ";" (a block
// gives one call per field, of kind kItemBlock; lists and text lists have their
// elements joined by commas). The key=value string is these pieces, one after the
// other. A value that holds ";" or "=" is still one value here.
typedef void (*HeaderPieceVisitor)(void* context, const char* key, const char* value, HeaderItemKind kind);
void VisitHeaderPieces(const ABFFileHeader* header, HeaderPieceVisitor visit, void* context);
