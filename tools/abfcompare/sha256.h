// SHA-256 of a block of bytes, as lowercase hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace abfcompare {
std::string Sha256Hex(const void* data, size_t size);
}
