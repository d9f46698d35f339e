// Small text helpers the subcommands share.
#pragma once

#include <cstdint>
#include <string>

namespace sorvan {

// ABF texts are single-byte (Windows ANSI); JSON wants UTF-8. Every byte from
// 0x80 up becomes the code point of the same value, so no byte is lost.
std::string Latin1ToUtf8(const std::string& text);

// "2024-03-15" and "10:00:00.000" from the header's date (yyyymmdd) and time (ms).
std::string DateText(uint32_t yyyymmdd);
std::string TimeText(uint32_t ms);

}  // namespace sorvan
