// Test helpers for the header listing and the key=value string: taking both apart
// into items, and checking values against a header record through the record's own
// field table (not through the catalogue the plug-in walks).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interface/abf_record.h"

namespace metatest {

struct Piece {
    std::string key;
    std::string value;  // the raw text after "=" / " = ", without the item's end
};

// The field of the record layout with this name, or null.
const AbfFieldInfo* FieldByName(const std::string& name);

// Splits a key=value string into its pieces: a piece starts at the beginning or after
// a ";" where a record field's name and "=" follow. Each piece's closing ";" is dropped.
std::vector<Piece> SplitHeaderString(const std::string& text);

// Splits the history listing the same way: lines end at carriage returns, items
// within a line start where a field name and "=" or " = " follow a ";". List
// endings (";" or the carriage return) are dropped.
std::vector<Piece> SplitListing(const std::string& history);

// The listing's value in the string's form: list elements joined by ",", texts and
// text elements trimmed at both ends.
std::string ListingValueAsString(const Piece& listed);

// A text field as the listing shows it: trailing blanks and NULs removed from the end
// (leading blanks kept), up to the first NUL.
std::string TrimmedEnd(const char* field, int width);
// A text-list element as the listing shows it: untrimmed, up to its first NUL.
std::string UpToNul(const char* field, int width);
// A text as the string shows it: `width` characters, trailing blanks and NULs
// removed from the end, leading blanks skipped, up to the first NUL.
std::string TrimmedBothEnds(const char* field, int width);

// Checks that every piece's value equals the record's field of that name (all
// elements shown, each equal). Returns an empty text when all match, else the
// differences, one per line.
std::string CompareWithRecord(const std::vector<Piece>& pieces, const ABFFileHeader& header);

// The same against the library's own, larger record layout, field by field by name
// (element i of a list against element i of the field).
std::string CompareWithLibraryRecord(const std::vector<Piece>& pieces, const ABFLibraryHeader& header);

// The vendor library's answers for a real file: the first 11335 bytes of what its
// open wrote (ord110.header_hex: the library writes its own 30023-byte layout, so
// beyond byte 2436 these are not the fields of the 11335-byte layout) and the whole
// record it wrote (ord110.library_record_hex). False when the reference has none.
bool LoadGoldenRecord(const std::string& jsonPath, ABFFileHeader* header, std::string* error);
bool LoadGoldenLibraryRecord(const std::string& jsonPath, ABFLibraryHeader* header, std::string* error);

std::vector<std::string> Split(const std::string& text, char separator);

}  // namespace metatest
