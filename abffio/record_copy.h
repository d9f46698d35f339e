// Table-driven copies of file fields into the library's header record: the part of
// decoding that is the same for every field a format stores as the record holds it.
// The tables are generated from abffio/format/abf_file_layout.csv.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "interface/abf_record.h"

namespace abffio {

// How the record element that receives a copy is chosen.
enum class CopyIndex : uint8_t {
    kNone,  // the field's own place: element [0] onwards
    kKey,   // element [key1] of a list, or row [key1] of a [DAC][epoch] table
    kKeys,  // element [key1][key2] of a [DAC][epoch] table
};

struct RecordCopy {
    uint32_t from;  // byte offset in the file structure
    AbfFieldKind fromKind;
    uint16_t fromWidth;   // bytes per element (characters per text)
    uint16_t fromCols;    // elements per row in the file
    uint16_t rows, cols;  // elements copied
    uint32_t to;          // byte offset of the record field
    AbfFieldKind toKind;
    uint16_t toWidth, toRows, toCols;
    CopyIndex index;
    bool viaString;  // the file holds a strings-section index; the record gets the text
};

// Fills `width` characters with `text`, blank-padded and unterminated; a text longer
// than the field leaves it blank (the vendor library's copy fails there).
void SetText(char* dst, size_t width, const char* text);

// What the copies need besides the structure's bytes.
struct CopyContext {
    int key1 = 0, key2 = 0;                             // the entry's keys (see CopyIndex)
    const std::vector<std::string>* strings = nullptr;  // 1-based: index k is strings[k - 1]
};

// Copies every row of `table` whose source lies within the `size` bytes at `src`
// into `rec`. Numbers are converted to the record field's type where the two differ;
// texts shorter than the record's are blank-padded. Rows whose key is outside the
// record field are skipped.
template <size_t N>
void CopyIntoRecord(const RecordCopy (&table)[N], const uint8_t* src, size_t size, const CopyContext& ctx,
                    ABFLibraryHeader& rec);
void CopyIntoRecord(const RecordCopy* table, size_t rows, const uint8_t* src, size_t size, const CopyContext& ctx,
                    ABFLibraryHeader& rec);

template <size_t N>
void CopyIntoRecord(const RecordCopy (&table)[N], const uint8_t* src, size_t size, const CopyContext& ctx,
                    ABFLibraryHeader& rec)
{
    CopyIntoRecord(table, N, src, size, ctx, rec);
}

}  // namespace abffio
