#include "nwb/text.h"

#include <cstdio>
#include <random>

namespace nwb {

namespace {

// Code page 1252's characters for 0x80-0x9F; 0 marks the five it leaves undefined.
constexpr uint16_t kHigh1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string* out, uint32_t c)
{
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

std::string Cp1252ToUtf8(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        uint32_t c = b;
        if (b >= 0x80 && b < 0xA0 && kHigh1252[b - 0x80]) c = kHigh1252[b - 0x80];
        AppendUtf8(&out, c);
    }
    return out;
}

std::string Uuid4()
{
    static thread_local std::mt19937_64 random([] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }());
    uint8_t b[16];
    for (int i = 0; i < 16; i += 8) {
        const uint64_t r = random();
        for (int k = 0; k < 8; ++k) b[i + k] = static_cast<uint8_t>(r >> (8 * k));
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

bool StartFromHeader(uint32_t yyyymmdd, uint32_t ms, LocalTime* out)
{
    const int year = static_cast<int>(yyyymmdd / 10000);
    const int month = static_cast<int>(yyyymmdd / 100 % 100);
    const int day = static_cast<int>(yyyymmdd % 100);
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1900 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    if (day > kDays[month - 1] + (month == 2 && LeapYear(year) ? 1 : 0)) return false;
    if (ms >= 86400000u) return false;
    std::tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = static_cast<int>(ms / 3600000);
    t.tm_min = static_cast<int>(ms / 60000 % 60);
    t.tm_sec = static_cast<int>(ms / 1000 % 60);
    t.tm_isdst = -1;
    out->fields = t;
    out->ms = ms % 1000;
    return true;
}

int MachineOffset(const LocalTime& t, std::string* zone)
{
    // mktime reads the fields as the zone's wall-clock time, choosing summer or
    // winter time as that date had it (tm_isdst -1); the offset is then the
    // zone's at that instant.
    std::tm fields = t.fields;
    fields.tm_isdst = -1;
    const std::time_t instant = std::mktime(&fields);
    std::tm local = {};
    localtime_r(&instant, &local);
    if (zone) *zone = local.tm_zone ? local.tm_zone : "";
    return static_cast<int>(local.tm_gmtoff / 60);
}

int MachineOffsetAt(std::time_t instant)
{
    std::tm local = {};
    localtime_r(&instant, &local);
    return static_cast<int>(local.tm_gmtoff / 60);
}

LocalTime AtOffset(std::time_t instant, uint32_t ms, int offsetMinutes)
{
    const std::time_t shifted = instant + static_cast<std::time_t>(offsetMinutes) * 60;
    LocalTime t = {};
    gmtime_r(&shifted, &t.fields);
    t.ms = ms;
    return t;
}

std::string OffsetText(int offsetMinutes)
{
    const int a = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[8];
    std::snprintf(text, sizeof text, "%c%02d:%02d", offsetMinutes < 0 ? '-' : '+', a / 60 % 100, a % 60);
    return text;
}

std::string IsoTime(const LocalTime& t, int offsetMinutes)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03u", t.fields.tm_year + 1900, t.fields.tm_mon + 1,
                  t.fields.tm_mday, t.fields.tm_hour, t.fields.tm_min, t.fields.tm_sec,
                  static_cast<unsigned>(t.ms % 1000));
    return text + OffsetText(offsetMinutes);
}

}  // namespace nwb
