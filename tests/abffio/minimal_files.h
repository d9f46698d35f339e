// Minimal ABF1 and ABF2 writers for the library's tests: just the fields the library
// needs to open and read a recording, at the places the formats define.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "abffio/format/abf_format.h"

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

struct MinimalFile {
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
    int16_t triggerSource = 0;     // nTriggerSource as stored (ABF1 only)
};

namespace detail {

template <class T>
void Put(std::vector<uint8_t>& b, size_t off, T v)
{
    if (b.size() < off + sizeof v) b.resize(off + sizeof v, 0);
    memcpy(b.data() + off, &v, sizeof v);
}

template <class T>
struct Same {
    using Type = T;
};
// Element i of a named field of the structure at `base`.
template <class T>
void Put(std::vector<uint8_t>& b, size_t base, const abfformat::Field<T>& f, typename Same<T>::Type v, uint32_t i = 0)
{
    Put<T>(b, base + f.At(i), v);
}

inline void PutText(std::vector<uint8_t>& b, size_t off, const std::string& s, size_t width)
{
    if (b.size() < off + width) b.resize(off + width, 0);
    memset(b.data() + off, ' ', width);
    memcpy(b.data() + off, s.data(), std::min(width, s.size()));
}

// Pads to the next block; returns the number of blocks so far.
inline size_t Pad(std::vector<uint8_t>& b)
{
    const size_t blocks = (b.size() + abfformat::kBlockBytes - 1) / abfformat::kBlockBytes;
    b.resize(blocks * abfformat::kBlockBytes, 0);
    return blocks;
}

inline void AppendData(std::vector<uint8_t>& b, const MinimalFile& r)
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

inline void AppendTags(std::vector<uint8_t>& b, const MinimalFile& r)
{
    namespace tag = abfformat::tag;
    for (const TagEntry& t : r.tags) {
        const size_t at = b.size();
        Put(b, at, tag::lTagTime, t.time);
        PutText(b, at + tag::sComment.offset, t.comment, tag::sComment.width);
        Put(b, at, tag::nTagType, t.type);
        Put(b, at, tag::nVoiceTagNumber, int16_t(0));
    }
}

inline void AppendSynch(std::vector<uint8_t>& b, const MinimalFile& r)
{
    for (const SynchEntry& e : r.synch) {
        const size_t at = b.size();
        Put(b, at, abfformat::synch_entry::lStart, e.start);
        Put(b, at, abfformat::synch_entry::lLength, e.length);
    }
}

inline size_t SampleCount(const MinimalFile& r) { return r.floatData ? r.rawFloat.size() : r.raw.size(); }

}  // namespace detail

inline std::vector<uint8_t> WriteAbf1(const MinimalFile& r)
{
    using namespace detail;
    namespace v1 = abfformat::abf1;
    const bool old = r.abf1Version < v1::kFirstFullHeaderVersion;
    std::vector<uint8_t> b(old ? v1::kOldHeaderBytes : v1::kExtent, 0);
    memcpy(b.data(), abfformat::kAbf1Signature, 4);
    const int16_t nch = static_cast<int16_t>(r.channels.size());
    Put(b, 0, v1::fFileVersionNumber, r.abf1Version);
    Put(b, 0, v1::nOperationMode, r.mode);
    Put(b, 0, v1::lActualAcqLength, static_cast<int32_t>(SampleCount(r)));
    Put(b, 0, v1::lActualEpisodes, r.episodes);
    Put(b, 0, v1::lFileStartDate, 20240131);
    Put(b, 0, v1::nFileType, int16_t(1));
    Put(b, 0, v1::nDataFormat, int16_t(r.floatData ? 1 : 0));
    Put(b, 0, v1::nSimultaneousScan, r.simultaneousScan);
    Put(b, 0, v1::nTriggerSource, r.triggerSource);
    Put(b, 0, v1::nADCNumChannels, nch);
    Put(b, 0, v1::fADCSampleInterval, r.sequenceInterval / static_cast<float>(nch));
    Put(b, 0, v1::fSynchTimeUnit, r.synchTimeUnit);
    Put(b, 0, v1::lNumSamplesPerEpisode, r.samplesPerEpisode);
    Put(b, 0, v1::fADCRange, 10.0f);
    Put(b, 0, v1::fDACRange, 10.0f);
    Put(b, 0, v1::lADCResolution, 32768);
    Put(b, 0, v1::lDACResolution, 32768);
    for (uint32_t i = 0; i < v1::nADCSamplingSeq.count; ++i) {
        Put(b, 0, v1::nADCSamplingSeq, i < uint32_t(nch) ? r.channels[i] : int16_t(-1), i);
        Put(b, 0, v1::fADCProgrammableGain, 1.0f, i);
        Put(b, 0, v1::fInstrumentScaleFactor, r.instrumentScale, i);
        Put(b, 0, v1::fSignalGain, 1.0f, i);
        PutText(b, v1::sADCChannelName.At(i), "IN " + std::to_string(i), v1::sADCChannelName.width);
        PutText(b, v1::sADCUnits.At(i), "mV", v1::sADCUnits.width);
    }
    Pad(b);
    Put(b, 0, v1::lDataSectionPtr, static_cast<int32_t>(b.size() / abfformat::kBlockBytes));
    AppendData(b, r);
    if (!r.synch.empty()) {
        Put(b, 0, v1::lSynchArrayPtr, static_cast<int32_t>(Pad(b)));
        Put(b, 0, v1::lSynchArraySize, static_cast<int32_t>(r.synch.size()));
        AppendSynch(b, r);
    }
    if (!r.tags.empty()) {
        Put(b, 0, v1::lTagSectionPtr, static_cast<int32_t>(Pad(b)));
        Put(b, 0, v1::lNumTagEntries, static_cast<int32_t>(r.tags.size()));
        AppendTags(b, r);
    }
    return b;
}

inline std::vector<uint8_t> WriteAbf2(const MinimalFile& r)
{
    using namespace detail;
    namespace v2 = abfformat::abf2;
    std::vector<uint8_t> b(v2::kFileInfoBytes, 0);
    memcpy(b.data(), abfformat::kAbf2Signature, 4);
    Put(b, 0, v2::fileinfo::uFileVersionMinor, r.abf2Minor);
    Put(b, 0, v2::fileinfo::uFileVersionMajor, v2::kMajorVersion);
    Put(b, 0, v2::fileinfo::uFileInfoSize, v2::kFileInfoBytes);
    Put(b, 0, v2::fileinfo::uActualEpisodes, static_cast<uint32_t>(r.episodes));
    Put(b, 0, v2::fileinfo::uFileStartDate, 20240131u);
    Put(b, 0, v2::fileinfo::nFileType, int16_t(1));
    Put(b, 0, v2::fileinfo::nDataFormat, int16_t(r.floatData ? 1 : 0));
    Put(b, 0, v2::fileinfo::nSimultaneousScan, r.simultaneousScan);
    Put(b, 0, v2::fileinfo::uCreatorNameIndex, 1u);  // creator: string 1
    auto section = [&](v2::Section i, size_t at, uint32_t bytes, int64_t count) {
        const size_t entry = v2::SectionEntryOffset(i);
        Put(b, entry, v2::section::uBlockIndex, static_cast<uint32_t>(at / abfformat::kBlockBytes));
        Put(b, entry, v2::section::uBytes, bytes);
        Put(b, entry, v2::section::llNumEntries, count);
    };
    const int16_t nch = static_cast<int16_t>(r.channels.size());

    // Protocol
    size_t at = b.size();
    section(v2::kProtocol, at, v2::kProtocolBytes, 1);
    b.resize(at + v2::kProtocolBytes, 0);
    Put(b, at, v2::protocol::nOperationMode, r.mode);
    Put(b, at, v2::protocol::fADCSequenceInterval, r.sequenceInterval);
    Put(b, at, v2::protocol::fSynchTimeUnit, r.synchTimeUnit);
    Put(b, at, v2::protocol::lNumSamplesPerEpisode, r.samplesPerEpisode);
    Put(b, at, v2::protocol::lEpisodesPerRun, r.episodes);
    Put(b, at, v2::protocol::fADCRange, 10.0f);
    Put(b, at, v2::protocol::fDACRange, 10.0f);
    Put(b, at, v2::protocol::lADCResolution, 32768);
    Put(b, at, v2::protocol::lDACResolution, 32768);

    // Strings: 1 creator, then name and unit of each channel.
    std::vector<std::string> strings{"TestWriter"};
    for (int16_t ch : r.channels) {
        strings.push_back("IN " + std::to_string(ch));
        strings.push_back("pA");
    }

    // ADC entries
    at = Pad(b) * abfformat::kBlockBytes;
    section(v2::kADC, at, v2::kADCEntryBytes, nch);
    b.resize(at + v2::kADCEntryBytes * static_cast<size_t>(nch), 0);
    for (int i = 0; i < nch; ++i) {
        const size_t e = at + v2::kADCEntryBytes * static_cast<size_t>(i);
        Put(b, e, v2::adc::nADCNum, r.channels[static_cast<size_t>(i)]);
        Put(b, e, v2::adc::fTelegraphAdditGain, 1.0f);
        Put(b, e, v2::adc::fADCProgrammableGain, 1.0f);
        Put(b, e, v2::adc::fADCDisplayAmplification, 1.0f);
        Put(b, e, v2::adc::fInstrumentScaleFactor, r.instrumentScale);
        Put(b, e, v2::adc::fSignalGain, 1.0f);
        Put(b, e, v2::adc::lADCChannelNameIndex, 2 + 2 * i);
        Put(b, e, v2::adc::lADCUnitsIndex, 3 + 2 * i);
    }

    // Strings section
    at = Pad(b) * abfformat::kBlockBytes;
    std::string area;
    for (const std::string& s : strings) area += s + '\0';
    const uint32_t header = v2::strings::kExtent;
    section(v2::kStrings, at, static_cast<uint32_t>(header + area.size()), static_cast<int64_t>(strings.size()));
    b.resize(at + header + area.size(), 0);
    memcpy(b.data() + at, v2::kStringsSignature, 4);
    Put(b, at, v2::strings::uVersion, 1u);
    Put(b, at, v2::strings::uNumStrings, static_cast<uint32_t>(strings.size()));
    Put(b, at, v2::strings::lTotalBytes, static_cast<int32_t>(area.size()));
    memcpy(b.data() + at + header, area.data(), area.size());

    // Data
    at = Pad(b) * abfformat::kBlockBytes;
    section(v2::kData, at, r.floatData ? 4 : 2, static_cast<int64_t>(SampleCount(r)));
    AppendData(b, r);

    if (!r.synch.empty()) {
        at = Pad(b) * abfformat::kBlockBytes;
        section(v2::kSynchArray, at, abfformat::synch_entry::kExtent, static_cast<int64_t>(r.synch.size()));
        AppendSynch(b, r);
    }
    if (!r.tags.empty()) {
        at = Pad(b) * abfformat::kBlockBytes;
        section(v2::kTag, at, abfformat::tag::kExtent, static_cast<int64_t>(r.tags.size()));
        AppendTags(b, r);
    }
    Pad(b);
    return b;
}

inline std::vector<uint8_t> Write(const MinimalFile& r) { return r.abfMajor == 1 ? WriteAbf1(r) : WriteAbf2(r); }

// A ramp of raw values: sample j of the multiplexed stream is (j * 7 + 3) mod 20011 - 10000.
inline int16_t RawAt(size_t j) { return static_cast<int16_t>(static_cast<int>((j * 7 + 3) % 20011) - 10000); }

}  // namespace abftest
