// One field of an ABF file structure: where it lies in the structure and how it is
// laid out. The generated abf_file_layout.h declares one per field of the formats.
#pragma once

#include <cstdint>

namespace abfformat {

template <class T>
struct Field {
    using Type = T;
    uint32_t offset;  // bytes from the start of the structure
    uint32_t count;   // elements (texts for a char field)
    uint32_t cols;    // elements per row of a [DAC][epoch] table; count otherwise
    uint32_t width;   // bytes per element (characters per text)

    // Byte offset of element i (row-major for tables), or of element [row][col].
    constexpr uint32_t At(uint32_t i) const { return offset + i * width; }
    constexpr uint32_t At(uint32_t row, uint32_t col) const { return At(row * cols + col); }
    constexpr uint32_t Bytes() const { return count * width; }
    constexpr uint32_t End() const { return offset + Bytes(); }
};

}  // namespace abfformat
