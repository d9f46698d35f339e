// Minimal ABF1 and ABF2 writers for the tests and the benchmark: just the fields the
// library needs to open and read a recording, at the places the formats define.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace abftest {

struct SynchEntry {
    int32_t start;   // synch-time counts
    int32_t length;  // multiplexed samples
};

struct TagEntry {
    int32_t time;
    std::string comment;
    int16_t type;
};

struct Recording {
    int abfMajor = 2;                  // 1 or 2
    float abf1Version = 1.83f;         // ABF1 only
    uint8_t abf2Minor = 6;             // ABF2 only: 2.0x
    int16_t mode = 5;                  // nOperationMode
    std::vector<int16_t> channels{0};  // physical channels in sampling order
    bool floatData = false;
    float sequenceInterval = 100.0f;  // microseconds per channel sample
    float synchTimeUnit = 0.0f;
    int32_t samplesPerEpisode = 0;  // multiplexed, for episodic files
    int32_t episodes = 0;           // lActualEpisodes on disk
    int16_t simultaneousScan = 1;
    std::vector<int16_t> raw;     // multiplexed int16 samples
    std::vector<float> rawFloat;  // multiplexed float samples
    std::vector<SynchEntry> synch;
    std::vector<TagEntry> tags;
    float instrumentScale = 1.0f;  // for every channel
};

namespace detail {

template <class T>
void Put(std::vector<uint8_t>& b, size_t off, T v)
{
    if (b.size() < off + sizeof v) b.resize(off + sizeof v, 0);
    memcpy(b.data() + off, &v, sizeof v);
}

inline void PutText(std::vector<uint8_t>& b, size_t off, const std::string& s, size_t width)
{
    if (b.size() < off + width) b.resize(off + width, 0);
    memset(b.data() + off, ' ', width);
    memcpy(b.data() + off, s.data(), std::min(width, s.size()));
}

inline size_t Pad(std::vector<uint8_t>& b)
{
    const size_t blocks = (b.size() + 511) / 512;
    b.resize(blocks * 512, 0);
    return blocks;
}

inline void AppendData(std::vector<uint8_t>& b, const Recording& r)
{
    if (r.floatData) {
        const size_t at = b.size();
        b.resize(at + r.rawFloat.size() * 4);
        if (!r.rawFloat.empty()) memcpy(b.data() + at, r.rawFloat.data(), r.rawFloat.size() * 4);
    } else {
        const size_t at = b.size();
        b.resize(at + r.raw.size() * 2);
        if (!r.raw.empty()) memcpy(b.data() + at, r.raw.data(), r.raw.size() * 2);
    }
}

inline void AppendTags(std::vector<uint8_t>& b, const Recording& r)
{
    for (const TagEntry& t : r.tags) {
        const size_t at = b.size();
        Put<int32_t>(b, at, t.time);
        PutText(b, at + 4, t.comment, 56);
        Put<int16_t>(b, at + 60, t.type);
        Put<int16_t>(b, at + 62, 0);
    }
}

inline size_t SampleCount(const Recording& r) { return r.floatData ? r.rawFloat.size() : r.raw.size(); }

}  // namespace detail

inline std::vector<uint8_t> WriteAbf1(const Recording& r)
{
    using namespace detail;
    const bool old = r.abf1Version < 1.6f;
    std::vector<uint8_t> b(old ? 2048 : 6144, 0);
    memcpy(b.data(), "ABF ", 4);
    const int16_t nch = static_cast<int16_t>(r.channels.size());
    Put<float>(b, 4, r.abf1Version);
    Put<int16_t>(b, 8, r.mode);
    Put<int32_t>(b, 10, static_cast<int32_t>(SampleCount(r)));
    Put<int32_t>(b, 16, r.episodes);
    Put<int32_t>(b, 20, 20240131);
    Put<int16_t>(b, 36, 1);
    Put<int16_t>(b, 100, r.floatData ? 1 : 0);
    Put<int16_t>(b, 102, r.simultaneousScan);
    Put<int16_t>(b, 120, nch);
    Put<float>(b, 122, r.sequenceInterval / static_cast<float>(nch));
    Put<float>(b, 130, r.synchTimeUnit);
    Put<int32_t>(b, 138, r.samplesPerEpisode);
    Put<float>(b, 244, 10.0f);
    Put<float>(b, 248, 10.0f);
    Put<int32_t>(b, 252, 32768);
    Put<int32_t>(b, 256, 32768);
    for (int i = 0; i < 16; ++i) {
        Put<int16_t>(b, 410 + 2 * i, i < nch ? r.channels[static_cast<size_t>(i)] : int16_t(-1));
        Put<float>(b, 730 + 4 * i, 1.0f);
        Put<float>(b, 922 + 4 * i, r.instrumentScale);
        Put<float>(b, 1050 + 4 * i, 1.0f);
        PutText(b, 442 + 10 * i, "IN " + std::to_string(i), 10);
        PutText(b, 602 + 8 * i, "mV", 8);
    }
    Pad(b);
    Put<int32_t>(b, 40, static_cast<int32_t>(b.size() / 512));
    AppendData(b, r);
    if (!r.synch.empty()) {
        const size_t block = Pad(b);
        Put<int32_t>(b, 92, static_cast<int32_t>(block));
        Put<int32_t>(b, 96, static_cast<int32_t>(r.synch.size()));
        for (const SynchEntry& s : r.synch) {
            const size_t at = b.size();
            Put<int32_t>(b, at, s.start);
            Put<int32_t>(b, at + 4, s.length);
        }
    }
    if (!r.tags.empty()) {
        const size_t block = Pad(b);
        Put<int32_t>(b, 44, static_cast<int32_t>(block));
        Put<int32_t>(b, 48, static_cast<int32_t>(r.tags.size()));
        AppendTags(b, r);
    }
    return b;
}

inline std::vector<uint8_t> WriteAbf2(const Recording& r)
{
    using namespace detail;
    std::vector<uint8_t> b(512, 0);
    memcpy(b.data(), "ABF2", 4);
    b[6] = r.abf2Minor;
    b[7] = 2;
    Put<uint32_t>(b, 8, 512);
    Put<uint32_t>(b, 12, static_cast<uint32_t>(r.episodes));
    Put<uint32_t>(b, 16, 20240131);
    Put<int16_t>(b, 28, 1);
    Put<int16_t>(b, 30, r.floatData ? 1 : 0);
    Put<int16_t>(b, 32, r.simultaneousScan);
    Put<uint32_t>(b, 60, 1);  // creator: string 1
    auto section = [&](int i, uint32_t block, uint32_t bytes, int64_t count) {
        Put<uint32_t>(b, 76 + 16 * i, block);
        Put<uint32_t>(b, 80 + 16 * i, bytes);
        Put<int64_t>(b, 84 + 16 * i, count);
    };
    const int16_t nch = static_cast<int16_t>(r.channels.size());

    // Protocol
    size_t at = b.size();
    section(0, static_cast<uint32_t>(at / 512), 512, 1);
    b.resize(at + 512, 0);
    Put<int16_t>(b, at + 0, r.mode);
    Put<float>(b, at + 2, r.sequenceInterval);
    Put<float>(b, at + 14, r.synchTimeUnit);
    Put<int32_t>(b, at + 22, r.samplesPerEpisode);
    Put<int32_t>(b, at + 30, r.episodes);
    Put<float>(b, at + 110, 10.0f);
    Put<float>(b, at + 114, 10.0f);
    Put<int32_t>(b, at + 118, 32768);
    Put<int32_t>(b, at + 122, 32768);

    // Strings: 1 creator, then name and unit of each channel.
    std::vector<std::string> strings{"TestWriter"};
    for (int16_t ch : r.channels) {
        strings.push_back("IN " + std::to_string(ch));
        strings.push_back("pA");
    }

    // ADC entries
    at = Pad(b) * 512;
    section(1, static_cast<uint32_t>(at / 512), 128, nch);
    b.resize(at + 128 * static_cast<size_t>(nch), 0);
    for (int i = 0; i < nch; ++i) {
        const size_t e = at + 128 * static_cast<size_t>(i);
        Put<int16_t>(b, e + 0, r.channels[static_cast<size_t>(i)]);
        Put<float>(b, e + 6, 1.0f);
        Put<float>(b, e + 28, 1.0f);
        Put<float>(b, e + 32, 1.0f);
        Put<float>(b, e + 40, r.instrumentScale);
        Put<float>(b, e + 48, 1.0f);
        Put<int32_t>(b, e + 74, 2 + 2 * i);
        Put<int32_t>(b, e + 78, 3 + 2 * i);
    }

    // Strings section
    at = Pad(b) * 512;
    std::string area;
    for (const std::string& s : strings) area += s + '\0';
    section(9, static_cast<uint32_t>(at / 512), static_cast<uint32_t>(44 + area.size()),
            static_cast<int64_t>(strings.size()));
    b.resize(at + 44 + area.size(), 0);
    memcpy(b.data() + at, "SSCH", 4);
    Put<uint32_t>(b, at + 4, 1);
    Put<uint32_t>(b, at + 8, static_cast<uint32_t>(strings.size()));
    Put<int32_t>(b, at + 16, static_cast<int32_t>(area.size()));
    memcpy(b.data() + at + 44, area.data(), area.size());

    // Data
    at = Pad(b) * 512;
    section(10, static_cast<uint32_t>(at / 512), r.floatData ? 4 : 2, static_cast<int64_t>(SampleCount(r)));
    AppendData(b, r);

    if (!r.synch.empty()) {
        at = Pad(b) * 512;
        section(15, static_cast<uint32_t>(at / 512), 8, static_cast<int64_t>(r.synch.size()));
        for (const SynchEntry& s : r.synch) {
            const size_t p = b.size();
            Put<int32_t>(b, p, s.start);
            Put<int32_t>(b, p + 4, s.length);
        }
    }
    if (!r.tags.empty()) {
        at = Pad(b) * 512;
        section(11, static_cast<uint32_t>(at / 512), 64, static_cast<int64_t>(r.tags.size()));
        AppendTags(b, r);
    }
    Pad(b);
    return b;
}

inline std::vector<uint8_t> Write(const Recording& r) { return r.abfMajor == 1 ? WriteAbf1(r) : WriteAbf2(r); }

// A ramp of raw values: sample j of the multiplexed stream is (j * 7 + 3) mod 20011 - 10000.
inline int16_t RawAt(size_t j) { return static_cast<int16_t>(static_cast<int>((j * 7 + 3) % 20011) - 10000); }

}  // namespace abftest
