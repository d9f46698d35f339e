// A deliberately small, independent decoder of ABF files for the writer's tests:
// it reads the bytes back by the documented offsets, without the writer's code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace abftest {

inline std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::vector<uint8_t> b;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return b;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

template <typename T>
T Get(const std::vector<uint8_t>& b, size_t off)
{
    T v{};
    if (off + sizeof(T) <= b.size()) std::memcpy(&v, &b[off], sizeof(T));
    return v;
}

inline std::string Text(const std::vector<uint8_t>& b, size_t off, size_t width)
{
    std::string s;
    for (size_t i = 0; i < width && off + i < b.size(); ++i) s += char(b[off + i]);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

struct MapEntry {
    uint32_t block = 0, bytes = 0;
    int64_t count = 0;
};

struct ParsedChannel {
    int16_t physical = -1;
    std::string name, units;
    float scale = 0, gain = 0, offset = 0, telegraphGain = 0;
    int16_t telegraph = 0;
};

struct ParsedTag {
    int32_t time;
    std::string comment;
    int16_t type, number;
};

struct ParsedEpoch {
    int16_t epoch, dac, type;
    float level, levelInc;
    int32_t duration, durationInc, period, width;
};

struct ParsedFile {
    bool ok = false;
    bool abf1 = false;
    std::string error;
    std::vector<uint8_t> bytes;
    MapEntry map[18];
    std::vector<std::string> strings;  // 1-based index k -> strings[k-1]
    std::string creator, protocolPath, comment;
    int16_t mode = 0, dataFormat = 0;
    float sequenceInterval = 0, synchUnit = 0, adcRange = 0;
    int32_t adcResolution = 0, samplesPerEpisode = 0;
    uint32_t date = 0, timeMS = 0, episodes = 0;
    std::vector<ParsedChannel> channels;  // sampling order
    std::vector<std::string> dacNames, dacUnits;
    std::vector<float> holding;
    std::vector<ParsedEpoch> epochs;
    int64_t dataOffset = 0, muxSamples = 0;
    std::vector<std::pair<int32_t, int32_t>> synch;
    std::vector<ParsedTag> tags;

    std::string String(uint32_t k) const { return k >= 1 && k <= strings.size() ? strings[k - 1] : ""; }
    // Raw stored sample j (mux index) as a double: int16 or float32.
    double Sample(int64_t j) const
    {
        if (dataFormat == 1) return Get<float>(bytes, size_t(dataOffset + 4 * j));
        return Get<int16_t>(bytes, size_t(dataOffset + 2 * j));
    }
};

inline ParsedFile ParseAbf2(std::vector<uint8_t> b)
{
    ParsedFile f;
    f.bytes = std::move(b);
    const std::vector<uint8_t>& d = f.bytes;
    if (d.size() < 512 || std::memcmp(d.data(), "ABF2", 4) != 0) {
        f.error = "not ABF2";
        return f;
    }
    for (int i = 0; i < 18; ++i) {
        f.map[i].block = Get<uint32_t>(d, size_t(76 + 16 * i));
        f.map[i].bytes = Get<uint32_t>(d, size_t(80 + 16 * i));
        f.map[i].count = Get<int64_t>(d, size_t(84 + 16 * i));
    }
    f.episodes = Get<uint32_t>(d, 12);
    f.date = Get<uint32_t>(d, 16);
    f.timeMS = Get<uint32_t>(d, 20);
    f.dataFormat = Get<int16_t>(d, 30);
    // Strings.
    const size_t s = size_t(f.map[9].block) * 512;
    if (f.map[9].block && s + 44 <= d.size() && std::memcmp(&d[s], "SSCH", 4) == 0) {
        const uint32_t n = Get<uint32_t>(d, s + 8);
        size_t at = s + 44;
        for (uint32_t k = 0; k < n && at < d.size(); ++k) {
            std::string str;
            while (at < d.size() && d[at]) str += char(d[at++]);
            ++at;
            f.strings.push_back(str);
        }
    }
    f.creator = f.String(Get<uint32_t>(d, 60));
    f.protocolPath = f.String(Get<uint32_t>(d, 72));
    const size_t p = size_t(f.map[0].block) * 512;
    f.mode = Get<int16_t>(d, p + 0);
    f.sequenceInterval = Get<float>(d, p + 2);
    f.synchUnit = Get<float>(d, p + 14);
    f.samplesPerEpisode = Get<int32_t>(d, p + 22);
    f.adcRange = Get<float>(d, p + 110);
    f.adcResolution = Get<int32_t>(d, p + 118);
    f.comment = f.String(Get<uint32_t>(d, p + 132));
    for (int64_t i = 0; i < f.map[1].count && i < 16; ++i) {
        const size_t a = size_t(f.map[1].block) * 512 + size_t(i) * f.map[1].bytes;
        ParsedChannel c;
        c.physical = Get<int16_t>(d, a);
        c.telegraph = Get<int16_t>(d, a + 2);
        c.telegraphGain = Get<float>(d, a + 6);
        c.gain = Get<float>(d, a + 28);
        c.scale = Get<float>(d, a + 40);
        c.offset = Get<float>(d, a + 44);
        c.name = f.String(Get<uint32_t>(d, a + 74));
        c.units = f.String(Get<uint32_t>(d, a + 78));
        f.channels.push_back(c);
    }
    for (int64_t i = 0; i < f.map[2].count && i < 8; ++i) {
        const size_t a = size_t(f.map[2].block) * 512 + size_t(i) * f.map[2].bytes;
        f.holding.push_back(Get<float>(d, a + 12));
        f.dacNames.push_back(f.String(Get<uint32_t>(d, a + 24)));
        f.dacUnits.push_back(f.String(Get<uint32_t>(d, a + 28)));
    }
    for (int64_t i = 0; i < f.map[5].count && i < 1000; ++i) {
        const size_t a = size_t(f.map[5].block) * 512 + size_t(i) * f.map[5].bytes;
        f.epochs.push_back(ParsedEpoch{Get<int16_t>(d, a), Get<int16_t>(d, a + 2), Get<int16_t>(d, a + 4),
                                       Get<float>(d, a + 6), Get<float>(d, a + 10), Get<int32_t>(d, a + 14),
                                       Get<int32_t>(d, a + 18), Get<int32_t>(d, a + 22), Get<int32_t>(d, a + 26)});
    }
    f.dataOffset = int64_t(f.map[10].block) * 512;
    f.muxSamples = f.map[10].count;
    for (int64_t i = 0; i < f.map[15].count && i < 1000000; ++i) {
        const size_t a = size_t(f.map[15].block) * 512 + size_t(i) * 8;
        f.synch.emplace_back(Get<int32_t>(d, a), Get<int32_t>(d, a + 4));
    }
    for (int64_t i = 0; i < f.map[11].count && i < 1000000; ++i) {
        const size_t a = size_t(f.map[11].block) * 512 + size_t(i) * 64;
        f.tags.push_back(
            ParsedTag{Get<int32_t>(d, a), Text(d, a + 4, 56), Get<int16_t>(d, a + 60), Get<int16_t>(d, a + 62)});
    }
    f.ok = true;
    return f;
}

inline ParsedFile ParseAbf1(std::vector<uint8_t> b)
{
    ParsedFile f;
    f.bytes = std::move(b);
    f.abf1 = true;
    const std::vector<uint8_t>& d = f.bytes;
    if (d.size() < 6144 || std::memcmp(d.data(), "ABF ", 4) != 0) {
        f.error = "not ABF1";
        return f;
    }
    f.mode = Get<int16_t>(d, 8);
    f.muxSamples = Get<int32_t>(d, 10);
    f.episodes = Get<uint32_t>(d, 16);
    f.date = Get<uint32_t>(d, 20);
    f.timeMS = Get<uint32_t>(d, 24) * 1000 + uint32_t(Get<int16_t>(d, 366));
    f.dataOffset = int64_t(Get<int32_t>(d, 40)) * 512;
    f.dataFormat = Get<int16_t>(d, 100);
    const int16_t nch = Get<int16_t>(d, 120);
    f.sequenceInterval = Get<float>(d, 122) * float(nch);
    f.synchUnit = Get<float>(d, 130);
    f.samplesPerEpisode = Get<int32_t>(d, 138);
    f.adcRange = Get<float>(d, 244);
    f.adcResolution = Get<int32_t>(d, 252);
    f.creator = Text(d, 294, 16);
    f.protocolPath = Text(d, 4898, 256);
    f.comment = Text(d, 5154, 128);
    for (int i = 0; i < nch && i < 16; ++i) {
        ParsedChannel c;
        c.physical = Get<int16_t>(d, size_t(410 + 2 * i));
        const size_t ch = size_t(c.physical < 0 ? 0 : c.physical);
        c.name = Text(d, 442 + 10 * ch, 10);
        c.units = Text(d, 602 + 8 * ch, 8);
        c.gain = Get<float>(d, 730 + 4 * ch);
        c.scale = Get<float>(d, 922 + 4 * ch);
        c.offset = Get<float>(d, 986 + 4 * ch);
        c.telegraph = Get<int16_t>(d, 4512 + 2 * ch);
        c.telegraphGain = Get<float>(d, 4576 + 4 * ch);
        f.channels.push_back(c);
    }
    for (size_t k = 0; k < 4; ++k) {
        f.dacNames.push_back(Text(d, 1306 + 10 * k, 10));
        f.dacUnits.push_back(Text(d, 1346 + 8 * k, 8));
        f.holding.push_back(Get<float>(d, 1394 + 4 * k));
    }
    for (int16_t dac = 0; dac < 2; ++dac)
        for (int16_t e = 0; e < 10; ++e) {
            const size_t k = size_t(dac * 10 + e);
            const int16_t type = Get<int16_t>(d, 2308 + 2 * k);
            if (type == 0) continue;
            f.epochs.push_back(ParsedEpoch{e, dac, type, Get<float>(d, 2348 + 4 * k), Get<float>(d, 2428 + 4 * k),
                                           Get<int32_t>(d, 2508 + 4 * k), Get<int32_t>(d, 2588 + 4 * k),
                                           Get<int32_t>(d, 2136 + 4 * k), Get<int32_t>(d, 2216 + 4 * k)});
        }
    const int64_t synchBlock = Get<int32_t>(d, 92), synchCount = Get<int32_t>(d, 96);
    for (int64_t i = 0; i < synchCount && i < 1000000; ++i)
        f.synch.emplace_back(Get<int32_t>(d, size_t(synchBlock * 512 + 8 * i)),
                             Get<int32_t>(d, size_t(synchBlock * 512 + 8 * i + 4)));
    const int64_t tagBlock = Get<int32_t>(d, 44), tagCount = Get<int32_t>(d, 48);
    for (int64_t i = 0; i < tagCount && i < 1000000; ++i) {
        const size_t a = size_t(tagBlock * 512 + 64 * i);
        f.tags.push_back(
            ParsedTag{Get<int32_t>(d, a), Text(d, a + 4, 56), Get<int16_t>(d, a + 60), Get<int16_t>(d, a + 62)});
    }
    f.ok = true;
    return f;
}

inline ParsedFile ParseFile(const std::string& path)
{
    std::vector<uint8_t> b = ReadFileBytes(path);
    if (b.size() >= 4 && std::memcmp(b.data(), "ABF ", 4) == 0) return ParseAbf1(std::move(b));
    return ParseAbf2(std::move(b));
}

// A scratch file name inside the test's working directory.
inline std::string ScratchPath(const std::string& name) { return "abfgen_test_" + name + ".abf"; }

}  // namespace abftest
