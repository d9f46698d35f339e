// A deliberately small, independent decoder of ABF files for the writer's tests:
// it reads the bytes back by the documented offsets, without the writer's code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "abffio/format/abf_format.h"

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
// Element i of a named field of the structure at `base`.
template <typename T>
T Get(const std::vector<uint8_t>& b, size_t base, const abfformat::Field<T>& f, uint32_t i = 0)
{
    return Get<T>(b, base + f.At(i));
}
inline std::string Text(const std::vector<uint8_t>& b, size_t off, size_t width);
inline std::string Text(const std::vector<uint8_t>& b, size_t base, const abfformat::Field<char>& f, uint32_t i = 0)
{
    return Text(b, base + f.At(i), f.width);
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
    MapEntry map[abfformat::abf2::kSections];
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
        if (dataFormat == 1) return Get<float>(bytes, size_t(dataOffset + int64_t(sizeof(float)) * j));
        return Get<int16_t>(bytes, size_t(dataOffset + int64_t(sizeof(int16_t)) * j));
    }
};

inline ParsedTag ReadTag(const std::vector<uint8_t>& d, size_t at)
{
    namespace tag = abfformat::tag;
    return ParsedTag{Get(d, at, tag::lTagTime), Text(d, at, tag::sComment), Get(d, at, tag::nTagType),
                     Get(d, at, tag::nVoiceTagNumber)};
}

inline ParsedFile ParseAbf2(std::vector<uint8_t> b)
{
    namespace v2 = abfformat::abf2;
    ParsedFile f;
    f.bytes = std::move(b);
    const std::vector<uint8_t>& d = f.bytes;
    if (d.size() < v2::kFileInfoBytes || std::memcmp(d.data(), abfformat::kAbf2Signature, 4) != 0) {
        f.error = "not ABF2";
        return f;
    }
    for (int i = 0; i < v2::kSections; ++i) {
        const size_t e = v2::SectionEntryOffset(i);
        f.map[i] = {Get(d, e, v2::section::uBlockIndex), Get(d, e, v2::section::uBytes),
                    Get(d, e, v2::section::llNumEntries)};
    }
    auto start = [&](v2::Section i, int64_t entry) {
        return size_t(f.map[i].block) * abfformat::kBlockBytes + size_t(entry) * f.map[i].bytes;
    };
    f.episodes = Get(d, 0, v2::fileinfo::uActualEpisodes);
    f.date = Get(d, 0, v2::fileinfo::uFileStartDate);
    f.timeMS = Get(d, 0, v2::fileinfo::uFileStartTimeMS);
    f.dataFormat = Get(d, 0, v2::fileinfo::nDataFormat);
    // Strings.
    const size_t s = start(v2::kStrings, 0);
    if (f.map[v2::kStrings].block && s + v2::strings::kExtent <= d.size() &&
        std::memcmp(&d[s], v2::kStringsSignature, 4) == 0) {
        const uint32_t n = Get(d, s, v2::strings::uNumStrings);
        size_t at = s + v2::strings::sStrings.offset;
        for (uint32_t k = 0; k < n && at < d.size(); ++k) {
            std::string str;
            while (at < d.size() && d[at]) str += char(d[at++]);
            ++at;
            f.strings.push_back(str);
        }
    }
    f.creator = f.String(Get(d, 0, v2::fileinfo::uCreatorNameIndex));
    f.protocolPath = f.String(Get(d, 0, v2::fileinfo::uProtocolPathIndex));
    namespace pr = v2::protocol;
    const size_t p = start(v2::kProtocol, 0);
    f.mode = Get(d, p, pr::nOperationMode);
    f.sequenceInterval = Get(d, p, pr::fADCSequenceInterval);
    f.synchUnit = Get(d, p, pr::fSynchTimeUnit);
    f.samplesPerEpisode = Get(d, p, pr::lNumSamplesPerEpisode);
    f.adcRange = Get(d, p, pr::fADCRange);
    f.adcResolution = Get(d, p, pr::lADCResolution);
    f.comment = f.String(uint32_t(Get(d, p, pr::lFileCommentIndex)));
    for (int64_t i = 0; i < f.map[v2::kADC].count && i < 16; ++i) {
        namespace adc = v2::adc;
        const size_t a = start(v2::kADC, i);
        ParsedChannel c;
        c.physical = Get(d, a, adc::nADCNum);
        c.telegraph = Get(d, a, adc::nTelegraphEnable);
        c.telegraphGain = Get(d, a, adc::fTelegraphAdditGain);
        c.gain = Get(d, a, adc::fADCProgrammableGain);
        c.scale = Get(d, a, adc::fInstrumentScaleFactor);
        c.offset = Get(d, a, adc::fInstrumentOffset);
        c.name = f.String(uint32_t(Get(d, a, adc::lADCChannelNameIndex)));
        c.units = f.String(uint32_t(Get(d, a, adc::lADCUnitsIndex)));
        f.channels.push_back(c);
    }
    for (int64_t i = 0; i < f.map[v2::kDAC].count && i < 8; ++i) {
        const size_t a = start(v2::kDAC, i);
        f.holding.push_back(Get(d, a, v2::dac::fDACHoldingLevel));
        f.dacNames.push_back(f.String(uint32_t(Get(d, a, v2::dac::lDACChannelNameIndex))));
        f.dacUnits.push_back(f.String(uint32_t(Get(d, a, v2::dac::lDACChannelUnitsIndex))));
    }
    for (int64_t i = 0; i < f.map[v2::kEpochPerDAC].count && i < 1000; ++i) {
        namespace ep = v2::epoch_per_dac;
        const size_t a = start(v2::kEpochPerDAC, i);
        f.epochs.push_back(ParsedEpoch{Get(d, a, ep::nEpochNum), Get(d, a, ep::nDACNum), Get(d, a, ep::nEpochType),
                                       Get(d, a, ep::fEpochInitLevel), Get(d, a, ep::fEpochLevelInc),
                                       Get(d, a, ep::lEpochInitDuration), Get(d, a, ep::lEpochDurationInc),
                                       Get(d, a, ep::lEpochPulsePeriod), Get(d, a, ep::lEpochPulseWidth)});
    }
    f.dataOffset = int64_t(start(v2::kData, 0));
    f.muxSamples = f.map[v2::kData].count;
    for (int64_t i = 0; i < f.map[v2::kSynchArray].count && i < 1000000; ++i) {
        const size_t a =
            size_t(f.map[v2::kSynchArray].block) * abfformat::kBlockBytes + size_t(i) * abfformat::synch_entry::kExtent;
        f.synch.emplace_back(Get(d, a, abfformat::synch_entry::lStart), Get(d, a, abfformat::synch_entry::lLength));
    }
    for (int64_t i = 0; i < f.map[v2::kTag].count && i < 1000000; ++i)
        f.tags.push_back(
            ReadTag(d, size_t(f.map[v2::kTag].block) * abfformat::kBlockBytes + size_t(i) * abfformat::tag::kExtent));
    f.ok = true;
    return f;
}

inline ParsedFile ParseAbf1(std::vector<uint8_t> b)
{
    namespace v1 = abfformat::abf1;
    ParsedFile f;
    f.bytes = std::move(b);
    f.abf1 = true;
    const std::vector<uint8_t>& d = f.bytes;
    if (d.size() < v1::kExtent || std::memcmp(d.data(), abfformat::kAbf1Signature, 4) != 0) {
        f.error = "not ABF1";
        return f;
    }
    f.mode = Get(d, 0, v1::nOperationMode);
    f.muxSamples = Get(d, 0, v1::lActualAcqLength);
    f.episodes = uint32_t(Get(d, 0, v1::lActualEpisodes));
    f.date = uint32_t(Get(d, 0, v1::lFileStartDate));
    f.timeMS = uint32_t(Get(d, 0, v1::lFileStartTime)) * 1000 + uint32_t(Get(d, 0, v1::nFileStartMillisecs));
    f.dataOffset = int64_t(Get(d, 0, v1::lDataSectionPtr)) * abfformat::kBlockBytes;
    f.dataFormat = Get(d, 0, v1::nDataFormat);
    const int16_t nch = Get(d, 0, v1::nADCNumChannels);
    f.sequenceInterval = Get(d, 0, v1::fADCSampleInterval) * float(nch);
    f.synchUnit = Get(d, 0, v1::fSynchTimeUnit);
    f.samplesPerEpisode = Get(d, 0, v1::lNumSamplesPerEpisode);
    f.adcRange = Get(d, 0, v1::fADCRange);
    f.adcResolution = Get(d, 0, v1::lADCResolution);
    f.creator = Text(d, 0, v1::sCreatorInfo);
    f.protocolPath = Text(d, 0, v1::sProtocolPath);
    f.comment = Text(d, 0, v1::sFileComment);
    for (int i = 0; i < nch && i < 16; ++i) {
        ParsedChannel c;
        c.physical = Get(d, 0, v1::nADCSamplingSeq, uint32_t(i));
        const uint32_t ch = uint32_t(c.physical < 0 ? 0 : c.physical);
        c.name = Text(d, 0, v1::sADCChannelName, ch);
        c.units = Text(d, 0, v1::sADCUnits, ch);
        c.gain = Get(d, 0, v1::fADCProgrammableGain, ch);
        c.scale = Get(d, 0, v1::fInstrumentScaleFactor, ch);
        c.offset = Get(d, 0, v1::fInstrumentOffset, ch);
        c.telegraph = Get(d, 0, v1::nTelegraphEnable, ch);
        c.telegraphGain = Get(d, 0, v1::fTelegraphAdditGain, ch);
        f.channels.push_back(c);
    }
    for (uint32_t k = 0; k < v1::sDACChannelName.count; ++k) {
        f.dacNames.push_back(Text(d, 0, v1::sDACChannelName, k));
        f.dacUnits.push_back(Text(d, 0, v1::sDACChannelUnits, k));
        f.holding.push_back(Get(d, 0, v1::fDACHoldingLevel, k));
    }
    for (int16_t dac = 0; dac < v1::kWaveformDacs; ++dac)
        for (int16_t e = 0; e < v1::kEpochsPerDac; ++e) {
            const uint32_t r = uint32_t(dac), c = uint32_t(e);
            const int16_t type = Get<int16_t>(d, v1::nEpochType.At(r, c));
            if (type == 0) continue;
            f.epochs.push_back(ParsedEpoch{
                e, dac, type, Get<float>(d, v1::fEpochInitLevel.At(r, c)), Get<float>(d, v1::fEpochLevelInc.At(r, c)),
                Get<int32_t>(d, v1::lEpochInitDuration.At(r, c)), Get<int32_t>(d, v1::lEpochDurationInc.At(r, c)),
                Get<int32_t>(d, v1::lEpochPulsePeriod.At(r, c)), Get<int32_t>(d, v1::lEpochPulseWidth.At(r, c))});
        }
    const int64_t synch = int64_t(Get(d, 0, v1::lSynchArrayPtr)) * abfformat::kBlockBytes;
    for (int64_t i = 0; i < Get(d, 0, v1::lSynchArraySize) && i < 1000000; ++i) {
        const size_t a = size_t(synch + i * abfformat::synch_entry::kExtent);
        f.synch.emplace_back(Get(d, a, abfformat::synch_entry::lStart), Get(d, a, abfformat::synch_entry::lLength));
    }
    const int64_t tags = int64_t(Get(d, 0, v1::lTagSectionPtr)) * abfformat::kBlockBytes;
    for (int64_t i = 0; i < Get(d, 0, v1::lNumTagEntries) && i < 1000000; ++i)
        f.tags.push_back(ReadTag(d, size_t(tags + i * abfformat::tag::kExtent)));
    f.ok = true;
    return f;
}

inline ParsedFile ParseFile(const std::string& path)
{
    std::vector<uint8_t> b = ReadFileBytes(path);
    if (b.size() >= 4 && std::memcmp(b.data(), abfformat::kAbf1Signature, 4) == 0) return ParseAbf1(std::move(b));
    return ParseAbf2(std::move(b));
}

// A scratch file name inside the test's working directory.
inline std::string ScratchPath(const std::string& name) { return "abfgen_test_" + name + ".abf"; }

}  // namespace abftest
