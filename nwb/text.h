// The texts of an NWB file that come from elsewhere than the samples: the ABF
// header's 8-bit texts in UTF-8, identifiers, and times in ISO 8601 with their
// offset from UTC.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace nwb {

// ABF texts are Windows text in code page 1252 (µ is 0xB5); NWB's are UTF-8.
// Every byte becomes one character: 0x80-0x9F as Windows maps them (0x80 the euro
// sign), the five bytes 1252 leaves undefined as the control characters of the
// same value, as Windows converts them.
std::string Cp1252ToUtf8(const std::string& text);

// A random UUID (version 4), lowercase 8-4-4-4-12.
std::string Uuid4();

// A wall-clock time: the calendar fields of a struct tm (tm_year from 1900,
// tm_mon from 0) and milliseconds.
struct LocalTime {
    std::tm fields;
    uint32_t ms;
};

// The header's start (yyyymmdd and milliseconds since midnight) as a wall-clock
// time; false when it is not a real date and time of day.
bool StartFromHeader(uint32_t yyyymmdd, uint32_t ms, LocalTime* out);

// The UTC offset in minutes that the machine's time zone (TZ) has at the
// wall-clock time `t` (so a summer date gets the summer offset), and the zone's
// abbreviation then.
int MachineOffset(const LocalTime& t, std::string* zone);

// An instant (seconds since the epoch) as wall-clock time at the given offset.
LocalTime AtOffset(std::time_t instant, uint32_t ms, int offsetMinutes);
// The machine's offset at an instant.
int MachineOffsetAt(std::time_t instant);

// "2024-03-05T10:20:30.123+01:00".
std::string IsoTime(const LocalTime& t, int offsetMinutes);
// "+01:00".
std::string OffsetText(int offsetMinutes);

}  // namespace nwb
