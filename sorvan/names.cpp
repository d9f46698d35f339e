#include "sorvan/names.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace sorvan {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool ParseNumber(const std::string& text, uint32_t* out)
{
    if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno || v > UINT32_MAX) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

std::string WaveStem(const std::string& path, std::size_t room)
{
    // Both separators: a Windows path given to the Linux build still loses its folder.
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    std::string stem;
    for (char c : name) stem += IsLetter(c) || IsDigit(c) || c == '_' ? c : '_';
    if (stem.empty() || !IsLetter(stem[0])) stem.insert(0, "w");
    if (stem.size() > room) stem.resize(room);
    return stem;
}

std::size_t EpisodeDigits(uint32_t episodes)
{
    std::size_t digits = std::to_string(episodes).size();
    return digits < 3 ? 3 : digits;
}

std::string Padded(uint32_t number, std::size_t digits)
{
    std::string text = std::to_string(number);
    if (text.size() < digits) text.insert(0, digits - text.size(), '0');
    return text;
}

bool ParseList(const std::string& text, uint32_t lowest, std::vector<uint32_t>* out, std::string* error)
{
    out->clear();
    if (text == "all") return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string part = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t dash = part.find('-');
        uint32_t first = 0, last = 0;
        const bool ok = dash == std::string::npos
                            ? ParseNumber(part, &first) && (last = first, true)
                            : ParseNumber(part.substr(0, dash), &first) && ParseNumber(part.substr(dash + 1), &last);
        if (!ok || first > last) {
            *error = "\"" + part + "\" is not a number or a range A-B";
            return false;
        }
        if (first < lowest) {
            *error = std::to_string(first) + " is below " + std::to_string(lowest);
            return false;
        }
        // A range is expanded; bound it so a typo cannot ask for billions.
        if (last - first > 10000000u) {
            *error = "range " + part + " is too large";
            return false;
        }
        for (uint32_t v = first;; ++v) {
            out->push_back(v);
            if (v == last) break;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    // In order and once each: every number names files of its own.
    std::sort(out->begin(), out->end());
    out->erase(std::unique(out->begin(), out->end()), out->end());
    return true;
}

}  // namespace sorvan
