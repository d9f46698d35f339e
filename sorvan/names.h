// Wave names Igor accepts without quoting, and the channel and episode lists of
// the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvan {

// Igor's limit for a wave name.
inline constexpr std::size_t kMaxWaveName = 31;

// The stem of a file's wave names: the file name without folder and extension,
// every character but letters, digits and "_" turned into "_", a "w" in front
// when it does not start with a letter, cut to `room` characters.
std::string WaveStem(const std::string& path, std::size_t room);

// Zero-padded episode numbers: as many digits as the largest needs, at least 3,
// so that the waves of one file sort in episode order.
std::size_t EpisodeDigits(uint32_t episodes);
std::string Padded(uint32_t number, std::size_t digits);

// "all", or numbers and ranges "1,3,5-9". False with a message for anything else;
// numbers below `lowest` are refused. The numbers come back sorted, each once;
// an empty result means "all".
bool ParseList(const std::string& text, uint32_t lowest, std::vector<uint32_t>* out, std::string* error);

}  // namespace sorvan
