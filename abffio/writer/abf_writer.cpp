// ABF2 and ABF1 (1.83) file writing. The header sections are assembled in memory,
// the data section is streamed chunk by chunk, then tags and the synch array follow.
#include "abf_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>

namespace abfw {
namespace {

constexpr int64_t kBlock = 512;
constexpr int64_t kAbf1HeaderBytes = 6144;

int64_t Blocks(int64_t bytes) { return (bytes + kBlock - 1) / kBlock; }

// Little-endian byte buffer with fixed-offset stores.
struct Bytes {
    std::vector<uint8_t> b;
    explicit Bytes(size_t n = 0) : b(n, 0) {}
    void Grow(size_t end)
    {
        if (b.size() < end) b.resize(end, 0);
    }
    template <typename T>
    void Put(size_t off, T v)
    {
        static_assert(std::is_arithmetic<T>::value, "numbers only");
        Grow(off + sizeof(T));
        std::memcpy(&b[off], &v, sizeof(T));  // the targets are little-endian
    }
    // Fixed-width text, space padded, no terminator.
    void Text(size_t off, const std::string& s, size_t width)
    {
        Grow(off + width);
        for (size_t i = 0; i < width; ++i) b[off + i] = i < s.size() ? uint8_t(s[i]) : uint8_t(' ');
    }
    void Raw(size_t off, const void* p, size_t n)
    {
        Grow(off + n);
        std::memcpy(&b[off], p, n);
    }
};

std::string DacName(const Recording& rec, size_t d)
{
    if (d < rec.dacs.size() && !rec.dacs[d].name.empty()) return rec.dacs[d].name;
    return (d < 4 ? "Cmd " : "AO #") + std::to_string(d);
}
std::string DacUnits(const Recording& rec, size_t d) { return d < rec.dacs.size() ? rec.dacs[d].units : "mV"; }

bool Fail(std::string* error, const std::string& text)
{
    if (error) *error = text;
    return false;
}

int64_t MuxSamples(const Recording& rec)
{
    int64_t n = 0;
    for (int64_t len : SweepLengths(rec)) n += len;
    return n * int64_t(rec.channels.size());
}

bool HasSynch(const Recording& rec) { return rec.mode != Mode::GapFree && rec.writeSynchArray; }

// Per-channel samples of the protocol's sweep (lNumSamplesPerEpisode / nch).
int64_t ProtocolSweepSamples(const Recording& rec)
{
    if (rec.mode == Mode::GapFree) {
        if (rec.displaySamplesPerEpisode > 0) return rec.displaySamplesPerEpisode;
        return std::min<int64_t>(rec.samplesPerChannel, 8192);
    }
    if (rec.samplesPerEpisode > 0) return rec.samplesPerEpisode;
    int64_t m = 0;
    for (int64_t len : SweepLengths(rec)) m = std::max(m, len);
    return m;
}

bool AnyDigital(const Recording& rec)
{
    if (rec.activeDac < 0 || size_t(rec.activeDac) >= rec.dacs.size()) return false;
    for (const Epoch& e : rec.dacs[size_t(rec.activeDac)].epochs)
        if (e.type != kEpochDisabled && e.digitalValue != 0) return true;
    return false;
}

// ---------------------------------------------------------------- ABF2 pieces

struct Strings {
    std::vector<std::string> list;
    uint32_t Add(const std::string& s)
    {
        if (s.empty()) return 0;
        list.push_back(s);
        return uint32_t(list.size());
    }
    Bytes Section() const
    {
        Bytes out(44);
        out.Raw(0, "SSCH", 4);
        out.Put<uint32_t>(4, 1);
        out.Put<uint32_t>(8, uint32_t(list.size()));
        uint32_t longest = 0, total = 0;
        for (const std::string& s : list) {
            longest = std::max(longest, uint32_t(s.size()));
            out.Raw(44 + total, s.data(), s.size());
            out.Put<uint8_t>(44 + total + s.size(), 0);
            total += uint32_t(s.size()) + 1;
        }
        out.Put<uint32_t>(12, longest);
        out.Put<int32_t>(16, int32_t(total));
        return out;
    }
};

enum MapIndex {
    kMapProtocol = 0,
    kMapADC = 1,
    kMapDAC = 2,
    kMapEpoch = 3,
    kMapEpochPerDAC = 5,
    kMapStrings = 9,
    kMapData = 10,
    kMapTag = 11,
    kMapSynch = 15,
};

struct Abf2Plan {
    Bytes head;  // everything before the data section
    Layout layout;
    int64_t dataOffset = 0;
    Bytes tail;  // tags and synch array, from tailOffset
    int64_t tailOffset = 0;
};

void AddSection(Layout* l, const char* name, int64_t offset, uint32_t entryBytes, int64_t count)
{
    l->sections.push_back(SectionInfo{name, offset, entryBytes, count});
}

void MapEntry(Bytes* head, int index, int64_t offset, uint32_t entryBytes, int64_t count)
{
    const size_t at = size_t(76 + 16 * index);
    head->Put<uint32_t>(at, uint32_t(offset / kBlock));
    head->Put<uint32_t>(at + 4, entryBytes);
    head->Put<int64_t>(at + 8, count);
}

void PutTag(Bytes* out, size_t at, const Tag& t)
{
    out->Put<int32_t>(at, t.time);
    out->Text(at + 4, t.comment, kTagCommentWidth);
    out->Put<int16_t>(at + 60, t.type);
    out->Put<int16_t>(at + 62, t.number);
}

Bytes Tail(const Recording& rec, int64_t* tagOffset, int64_t* synchOffset, int64_t tailOffset)
{
    Bytes tail;
    int64_t pos = 0;
    *tagOffset = *synchOffset = 0;
    if (!rec.tags.empty()) {
        *tagOffset = tailOffset + pos;
        for (size_t i = 0; i < rec.tags.size(); ++i) PutTag(&tail, size_t(pos) + 64 * i, rec.tags[i]);
        pos += Blocks(int64_t(rec.tags.size()) * 64) * kBlock;
    }
    if (HasSynch(rec)) {
        const std::vector<int64_t> lengths = SweepLengths(rec);
        const std::vector<int64_t> starts = SweepStarts(rec);
        if (!lengths.empty()) {
            *synchOffset = tailOffset + pos;
            const int64_t nch = int64_t(rec.channels.size());
            for (size_t i = 0; i < lengths.size(); ++i) {
                tail.Put<int32_t>(size_t(pos) + 8 * i, int32_t(starts[i]));
                tail.Put<int32_t>(size_t(pos) + 8 * i + 4, int32_t(lengths[i] * nch));
            }
            pos += Blocks(int64_t(lengths.size()) * 8) * kBlock;
        }
    }
    tail.Grow(size_t(pos));
    return tail;
}

void PlanAbf2(const Recording& rec, Abf2Plan* plan)
{
    Bytes& h = plan->head;
    Layout& l = plan->layout;
    const size_t nch = rec.channels.size();
    const std::vector<int64_t> lengths = SweepLengths(rec);
    const int64_t mux = MuxSamples(rec);
    const size_t ndac = std::max<size_t>(size_t(kMaxDacs), rec.dacs.size());

    Strings strings;
    const uint32_t creatorIdx = strings.Add(rec.creator);
    const uint32_t protocolIdx = strings.Add(rec.protocolPath);
    const uint32_t commentIdx = strings.Add(rec.comment);
    std::vector<uint32_t> adcName(nch), adcUnits(nch), dacName(ndac), dacUnits(ndac);
    for (size_t p = 0; p < nch; ++p) {
        adcName[p] = strings.Add(rec.channels[p].name);
        adcUnits[p] = strings.Add(rec.channels[p].units);
    }
    for (size_t d = 0; d < ndac; ++d) {
        dacName[d] = strings.Add(DacName(rec, d));
        dacUnits[d] = strings.Add(DacUnits(rec, d));
    }

    // File info.
    h.Grow(512);
    h.Raw(0, "ABF2", 4);
    const uint8_t version[4] = {0, 0, rec.versionMinor, 2};
    h.Raw(4, version, 4);
    h.Put<uint32_t>(8, 512);
    h.Put<uint32_t>(12, rec.mode == Mode::GapFree ? 0u : uint32_t(lengths.size()));
    h.Put<uint32_t>(16, rec.startDate);
    h.Put<uint32_t>(20, rec.startTimeMS);
    h.Put<uint32_t>(24, rec.stopwatchS);
    h.Put<int16_t>(28, 1);
    h.Put<int16_t>(30, int16_t(rec.dataFormat));
    h.Put<int16_t>(32, rec.simultaneousScan ? 1 : 0);
    uint64_t g1 = rec.seed * 0x9E3779B97F4A7C15ull + 0x1234567ull, g2 = ~rec.seed * 0xC2B2AE3D27D4EB4Full;
    h.Put<uint64_t>(40, g1);
    h.Put<uint64_t>(48, g2);
    const uint8_t creatorVersion[4] = {rec.creatorVersion[3], rec.creatorVersion[2], rec.creatorVersion[1],
                                       rec.creatorVersion[0]};
    h.Raw(56, creatorVersion, 4);
    h.Put<uint32_t>(60, creatorIdx);
    h.Put<uint32_t>(72, protocolIdx);

    // Protocol.
    int64_t pos = kBlock;
    const size_t P = size_t(pos);
    double totalS = 0;
    for (int64_t len : lengths) totalS += double(len) * double(rec.sequenceIntervalUs) * 1e-6;
    h.Put<int16_t>(P + 0, int16_t(rec.mode));
    h.Put<float>(P + 2, rec.sequenceIntervalUs);
    h.Put<uint32_t>(P + 10, 1);
    h.Put<float>(P + 14, rec.synchTimeUnit);
    h.Put<float>(P + 18, float(totalS));
    h.Put<int32_t>(P + 22, int32_t(ProtocolSweepSamples(rec) * int64_t(nch)));
    h.Put<int32_t>(P + 26, int32_t(std::min<int64_t>(ProtocolSweepSamples(rec) * int64_t(nch) / 64, 512)));
    h.Put<int32_t>(P + 30, rec.mode == Mode::GapFree ? 1 : int32_t(lengths.size()));
    h.Put<int32_t>(P + 34, 1);
    h.Put<int32_t>(P + 38, 1);
    h.Put<int16_t>(P + 52, -3);
    h.Put<float>(P + 62, rec.episodeStartToStartS);
    h.Put<int32_t>(P + 70, 1);
    h.Put<int16_t>(P + 78, 1);
    h.Put<int32_t>(P + 86, int32_t(std::min<int64_t>(ProtocolSweepSamples(rec), 1 << 20)));
    h.Put<float>(P + 100, 1.0f);
    h.Put<int32_t>(P + 104, 5);
    h.Put<float>(P + 110, rec.adcRange);
    h.Put<float>(P + 114, rec.dacRange);
    h.Put<int32_t>(P + 118, rec.adcResolution);
    h.Put<int32_t>(P + 122, rec.dacResolution);
    h.Put<int16_t>(P + 126, rec.experimentType);
    h.Put<int16_t>(P + 128, 1);
    h.Put<int16_t>(P + 130, rec.comment.empty() ? 0 : 1);
    h.Put<int32_t>(P + 132, int32_t(commentIdx));
    h.Put<int16_t>(P + 136, 1);
    h.Put<int16_t>(P + 140, AnyDigital(rec) ? 1 : 0);
    h.Put<int16_t>(P + 142, rec.activeDac);
    h.Put<int16_t>(P + 148, rec.activeDac);
    h.Put<int16_t>(P + 150, 1);
    h.Put<int16_t>(P + 154, 1);
    h.Put<int16_t>(P + 156, 64);
    h.Put<int32_t>(P + 158, 1);
    bool external = false;
    for (const Tag& t : rec.tags) external = external || t.type == 2;
    h.Put<int16_t>(P + 162, external ? 1 : 0);
    h.Put<float>(P + 166, 0.1f);
    h.Put<int16_t>(P + 172, -1);
    h.Put<int16_t>(P + 176, 2);
    h.Put<int16_t>(P + 198, 16);
    h.Put<int16_t>(P + 200, 8);
    h.Put<int16_t>(P + 202, 16);
    h.Put<int16_t>(P + 204, 8);
    h.Put<int16_t>(P + 206, 6);
    MapEntry(&h, kMapProtocol, pos, 512, 1);
    AddSection(&l, "Protocol", pos, 512, 1);
    pos += kBlock;

    // ADC entries, in sampling order.
    for (size_t p = 0; p < nch; ++p) {
        const Channel& c = rec.channels[p];
        const size_t A = size_t(pos) + 128 * p;
        h.Put<int16_t>(A + 0, c.physical);
        h.Put<int16_t>(A + 2, c.telegraph ? 1 : 0);
        h.Put<float>(A + 6, c.telegraphGain);
        h.Put<int16_t>(A + 24, int16_t(p));
        h.Put<float>(A + 28, c.gain);
        h.Put<float>(A + 32, 1.0f);
        h.Put<float>(A + 40, c.scaleFactor);
        h.Put<float>(A + 44, c.offset);
        h.Put<float>(A + 48, 1.0f);
        h.Put<float>(A + 56, c.lowpass);
        h.Put<float>(A + 66, 100000.0f);
        h.Put<int16_t>(A + 72, 1);
        h.Put<int32_t>(A + 74, int32_t(adcName[p]));
        h.Put<int32_t>(A + 78, int32_t(adcUnits[p]));
    }
    MapEntry(&h, kMapADC, pos, 128, int64_t(nch));
    AddSection(&l, "ADC", pos, 128, int64_t(nch));
    pos += Blocks(int64_t(nch) * 128) * kBlock;

    // DAC entries.
    for (size_t d = 0; d < ndac; ++d) {
        const size_t D = size_t(pos) + 256 * d;
        const Dac def;
        const Dac& dac = d < rec.dacs.size() ? rec.dacs[d] : def;
        h.Put<int16_t>(D + 0, int16_t(d));
        h.Put<float>(D + 8, dac.scaleFactor);
        h.Put<float>(D + 12, dac.holding);
        h.Put<float>(D + 16, 1.0f);
        h.Put<int32_t>(D + 24, int32_t(dacName[d]));
        h.Put<int32_t>(D + 28, int32_t(dacUnits[d]));
        h.Put<int16_t>(D + 40, dac.waveformEnable ? 1 : 0);
        h.Put<int16_t>(D + 42, dac.waveformEnable ? 1 : 0);
        h.Put<int16_t>(D + 44, dac.interEpisodeLevel);
        h.Put<float>(D + 46, 1.0f);
        h.Put<int32_t>(D + 62, 1);
        h.Put<float>(D + 66, 1.0f);
        h.Put<float>(D + 74, 1.0f);
        h.Put<float>(D + 82, 10.0f);
        h.Put<int16_t>(D + 94, 1);
        h.Put<int16_t>(D + 104, 4);
        h.Put<float>(D + 122, 100.0f);
        h.Put<float>(D + 126, 100.0f);
    }
    MapEntry(&h, kMapDAC, pos, 256, int64_t(ndac));
    AddSection(&l, "DAC", pos, 256, int64_t(ndac));
    pos += Blocks(int64_t(ndac) * 256) * kBlock;

    // Analog epoch table: enabled epochs only, sorted by DAC then epoch.
    int64_t nEpd = 0;
    for (size_t d = 0; d < rec.dacs.size(); ++d)
        for (int e = 0; e < kEpochsPerDac; ++e) {
            const Epoch& ep = rec.dacs[d].epochs[e];
            if (ep.type == kEpochDisabled) continue;
            const size_t E = size_t(pos) + 48 * size_t(nEpd++);
            h.Put<int16_t>(E + 0, int16_t(e));
            h.Put<int16_t>(E + 2, int16_t(d));
            h.Put<int16_t>(E + 4, ep.type);
            h.Put<float>(E + 6, ep.initLevel);
            h.Put<float>(E + 10, ep.levelInc);
            h.Put<int32_t>(E + 14, ep.initDuration);
            h.Put<int32_t>(E + 18, ep.durationInc);
            h.Put<int32_t>(E + 22, ep.pulsePeriod);
            h.Put<int32_t>(E + 26, ep.pulseWidth);
        }
    if (nEpd > 0) {
        MapEntry(&h, kMapEpochPerDAC, pos, 48, nEpd);
        AddSection(&l, "EpochPerDAC", pos, 48, nEpd);
        pos += Blocks(nEpd * 48) * kBlock;
    }

    // Digital outputs per epoch of the active DAC.
    int64_t nEp = 0;
    if (rec.activeDac >= 0 && size_t(rec.activeDac) < rec.dacs.size()) {
        const Dac& dac = rec.dacs[size_t(rec.activeDac)];
        for (int e = 0; e < kEpochsPerDac; ++e) {
            if (dac.epochs[e].type == kEpochDisabled) continue;
            const size_t E = size_t(pos) + 32 * size_t(nEp++);
            h.Put<int16_t>(E + 0, int16_t(e));
            h.Put<int16_t>(E + 2, dac.epochs[e].digitalValue);
        }
    }
    if (nEp > 0) {
        MapEntry(&h, kMapEpoch, pos, 32, nEp);
        AddSection(&l, "Epoch", pos, 32, nEp);
        pos += Blocks(nEp * 32) * kBlock;
    }

    // Strings.
    const Bytes s = strings.Section();
    h.Raw(size_t(pos), s.b.data(), s.b.size());
    MapEntry(&h, kMapStrings, pos, uint32_t(s.b.size()), int64_t(strings.list.size()));
    AddSection(&l, "Strings", pos, uint32_t(s.b.size()), int64_t(strings.list.size()));
    pos += Blocks(int64_t(s.b.size())) * kBlock;
    h.Grow(size_t(pos));

    // Data.
    const uint32_t sampleBytes = rec.dataFormat == DataFormat::Float32 ? 4 : 2;
    plan->dataOffset = pos;
    MapEntry(&h, kMapData, pos, sampleBytes, mux);
    AddSection(&l, "Data", pos, sampleBytes, mux);
    pos += Blocks(mux * sampleBytes) * kBlock;

    // Tags and synch array.
    plan->tailOffset = pos;
    int64_t tagOffset, synchOffset;
    plan->tail = Tail(rec, &tagOffset, &synchOffset, pos);
    if (tagOffset) {
        MapEntry(&h, kMapTag, tagOffset, 64, int64_t(rec.tags.size()));
        AddSection(&l, "Tag", tagOffset, 64, int64_t(rec.tags.size()));
    }
    if (synchOffset) {
        MapEntry(&h, kMapSynch, synchOffset, 8, int64_t(lengths.size()));
        AddSection(&l, "SynchArray", synchOffset, 8, int64_t(lengths.size()));
    }
    l.fileSize = pos + int64_t(plan->tail.b.size());
    l.muxSamples = mux;
}

// ---------------------------------------------------------------- ABF1 header

void PlanAbf1(const Recording& rec, Abf2Plan* plan)
{
    Bytes& h = plan->head;
    Layout& l = plan->layout;
    h.Grow(size_t(kAbf1HeaderBytes));
    const size_t nch = rec.channels.size();
    const std::vector<int64_t> lengths = SweepLengths(rec);
    const int64_t mux = MuxSamples(rec);
    const uint32_t sampleBytes = rec.dataFormat == DataFormat::Float32 ? 4 : 2;

    plan->dataOffset = kAbf1HeaderBytes;
    plan->tailOffset = kAbf1HeaderBytes + Blocks(mux * sampleBytes) * kBlock;
    int64_t tagOffset, synchOffset;
    plan->tail = Tail(rec, &tagOffset, &synchOffset, plan->tailOffset);

    AddSection(&l, "Header", 0, uint32_t(kAbf1HeaderBytes), 1);
    AddSection(&l, "Data", plan->dataOffset, sampleBytes, mux);
    if (tagOffset) AddSection(&l, "Tag", tagOffset, 64, int64_t(rec.tags.size()));
    if (synchOffset) AddSection(&l, "SynchArray", synchOffset, 8, int64_t(lengths.size()));
    l.fileSize = plan->tailOffset + int64_t(plan->tail.b.size());
    l.muxSamples = mux;

    h.Raw(0, "ABF ", 4);
    h.Put<float>(4, rec.abf1Version);
    h.Put<int16_t>(8, int16_t(rec.mode));
    h.Put<int32_t>(10, int32_t(mux));
    h.Put<int32_t>(16, rec.mode == Mode::GapFree ? int32_t((lengths[0] + ProtocolSweepSamples(rec) - 1) /
                                                           std::max<int64_t>(1, ProtocolSweepSamples(rec)))
                                                 : int32_t(lengths.size()));
    h.Put<int32_t>(20, int32_t(rec.startDate));
    h.Put<int32_t>(24, int32_t(rec.startTimeMS / 1000));
    h.Put<int32_t>(28, int32_t(rec.stopwatchS));
    h.Put<float>(32, rec.abf1Version);
    h.Put<int16_t>(36, 1);
    h.Put<int32_t>(40, int32_t(plan->dataOffset / kBlock));
    h.Put<int32_t>(44, int32_t(tagOffset / kBlock));
    h.Put<int32_t>(48, int32_t(rec.tags.size()));
    h.Put<int32_t>(92, int32_t(synchOffset / kBlock));
    h.Put<int32_t>(96, synchOffset ? int32_t(lengths.size()) : 0);
    h.Put<int16_t>(100, int16_t(rec.dataFormat));
    h.Put<int16_t>(102, rec.simultaneousScan ? 1 : 0);
    h.Put<int16_t>(118, int16_t(nch));
    h.Put<int16_t>(120, int16_t(nch));
    h.Put<float>(122, rec.sequenceIntervalUs / float(nch));
    h.Put<float>(130, rec.synchTimeUnit);
    double totalS = 0;
    for (int64_t len : lengths) totalS += double(len) * double(rec.sequenceIntervalUs) * 1e-6;
    h.Put<float>(134, float(totalS));
    h.Put<int32_t>(138, int32_t(ProtocolSweepSamples(rec) * int64_t(nch)));
    h.Put<int32_t>(142, int32_t(std::min<int64_t>(ProtocolSweepSamples(rec) * int64_t(nch) / 64, 512)));
    h.Put<int32_t>(146, rec.mode == Mode::GapFree ? 1 : int32_t(lengths.size()));
    h.Put<int32_t>(150, 1);
    h.Put<int32_t>(154, 1);
    h.Put<int16_t>(168, -3);
    h.Put<float>(178, rec.episodeStartToStartS);
    h.Put<int32_t>(190, 1);
    h.Put<int16_t>(198, 1);
    h.Put<float>(244, rec.adcRange);
    h.Put<float>(248, rec.dacRange);
    h.Put<int32_t>(252, rec.adcResolution);
    h.Put<int32_t>(256, rec.dacResolution);
    h.Put<int16_t>(260, rec.experimentType);
    h.Put<int16_t>(280, 1);
    h.Text(294, rec.creator, kCreatorWidth);
    h.Text(310, rec.comment.substr(0, 56), 56);
    h.Put<int16_t>(366, int16_t(rec.startTimeMS % 1000));
    h.Put<int16_t>(368, rec.comment.empty() ? 0 : 1);
    for (int ch = 0; ch < kMaxChannels; ++ch) {
        h.Put<int16_t>(378 + 2 * size_t(ch), -1);  // nADCPtoLChannelMap
        h.Put<int16_t>(410 + 2 * size_t(ch), -1);  // nADCSamplingSeq
        h.Text(442 + 10 * size_t(ch), "", kChannelNameWidth);
        h.Text(602 + 8 * size_t(ch), "", kUnitsWidth);
        h.Put<float>(730 + 4 * size_t(ch), 1.0f);
        h.Put<float>(794 + 4 * size_t(ch), 1.0f);
        h.Put<float>(922 + 4 * size_t(ch), 1.0f);
        h.Put<float>(1050 + 4 * size_t(ch), 1.0f);
        h.Put<float>(1178 + 4 * size_t(ch), 100000.0f);
        h.Put<float>(4576 + 4 * size_t(ch), 1.0f);
        h.Put<float>(5934 + 4 * size_t(ch), 100000.0f);
    }
    for (size_t p = 0; p < nch; ++p) {
        const Channel& c = rec.channels[p];
        const size_t ch = size_t(c.physical);
        h.Put<int16_t>(378 + 2 * ch, int16_t(p));
        h.Put<int16_t>(410 + 2 * p, c.physical);
        h.Text(442 + 10 * ch, c.name, kChannelNameWidth);
        h.Text(602 + 8 * ch, c.units, kUnitsWidth);
        h.Put<float>(730 + 4 * ch, c.gain);
        h.Put<float>(922 + 4 * ch, c.scaleFactor);
        h.Put<float>(986 + 4 * ch, c.offset);
        h.Put<float>(1178 + 4 * ch, c.lowpass);
        h.Put<int16_t>(4512 + 2 * ch, c.telegraph ? 1 : 0);
        h.Put<float>(4576 + 4 * ch, c.telegraphGain);
        h.Put<int16_t>(5594 + 2 * ch, 1);
    }
    for (size_t d = 0; d < 4; ++d) {
        const Dac def;
        const Dac& dac = d < rec.dacs.size() ? rec.dacs[d] : def;
        h.Text(1306 + 10 * d, DacName(rec, d), kChannelNameWidth);
        h.Text(1346 + 8 * d, DacUnits(rec, d), kUnitsWidth);
        h.Put<float>(1378 + 4 * d, dac.scaleFactor);
        h.Put<float>(1394 + 4 * d, dac.holding);
        h.Put<float>(2074 + 4 * d, 1.0f);
    }
    h.Put<int16_t>(1436, AnyDigital(rec) ? 1 : 0);
    h.Put<int16_t>(1440, rec.activeDac);
    if (rec.activeDac >= 0 && size_t(rec.activeDac) < rec.dacs.size())
        for (size_t e = 0; e < size_t(kEpochsPerDac); ++e)
            h.Put<int16_t>(1588 + 2 * e, rec.dacs[size_t(rec.activeDac)].epochs[e].digitalValue);
    h.Put<int16_t>(1612, rec.activeDac);
    h.Put<int16_t>(1980, 64);
    h.Put<int32_t>(1982, 1);
    bool external = false;
    for (const Tag& t : rec.tags) external = external || t.type == 2;
    h.Put<int16_t>(1986, external ? 1 : 0);
    h.Put<float>(2022, 0.1f);
    h.Put<int16_t>(2028, -1);
    h.Put<int16_t>(2032, 2);
    h.Put<int32_t>(2034, int32_t(kAbf1HeaderBytes));
    h.Put<double>(2038, totalS);
    h.Text(1910, "+", 2);
    for (size_t d = 0; d < 2; ++d) {
        const Dac def;
        const Dac& dac = d < rec.dacs.size() ? rec.dacs[d] : def;
        h.Put<int16_t>(2296 + 2 * d, dac.waveformEnable ? 1 : 0);
        h.Put<int16_t>(2300 + 2 * d, 1);
        h.Put<int16_t>(2304 + 2 * d, dac.interEpisodeLevel);
        for (size_t e = 0; e < size_t(kEpochsPerDac); ++e) {
            const Epoch& ep = dac.epochs[e];
            const size_t k = d * 10 + e;
            h.Put<int32_t>(2136 + 4 * k, ep.pulsePeriod);
            h.Put<int32_t>(2216 + 4 * k, ep.pulseWidth);
            h.Put<int16_t>(2308 + 2 * k, ep.type);
            h.Put<float>(2348 + 4 * k, ep.initLevel);
            h.Put<float>(2428 + 4 * k, ep.levelInc);
            h.Put<int32_t>(2508 + 4 * k, ep.initDuration);
            h.Put<int32_t>(2588 + 4 * k, ep.durationInc);
        }
        h.Put<float>(2708 + 4 * d, 1.0f);
        h.Put<float>(3304 + 4 * d, 10.0f);
        h.Put<int16_t>(4460 + 2 * d, 1);
        h.Text(5836 + 10 * d, "IN #" + std::to_string(d), kChannelNameWidth);
    }
    h.Put<int16_t>(2688, 1);
    h.Put<int16_t>(4832, 1);
    h.Text(4898, rec.protocolPath, kProtocolPathWidth);
    h.Text(5154, rec.comment, kCommentWidth);
    uint64_t g1 = rec.seed * 0x9E3779B97F4A7C15ull + 0x1234567ull, g2 = ~rec.seed * 0xC2B2AE3D27D4EB4Full;
    h.Put<uint64_t>(5282, g1);
    h.Put<uint64_t>(5290, g2);
    h.Text(5318, "", kCreatorWidth);
    h.Put<int16_t>(5420, 1);
    for (size_t r = 0; r < 8; ++r) {
        h.Put<int16_t>(5530 + 2 * r, 10);
        h.Put<int16_t>(5546 + 2 * r, 90);
        h.Put<int16_t>(5562 + 2 * r, 10);
        h.Put<int16_t>(5578 + 2 * r, 90);
    }
    for (size_t i = 0; i < 4; ++i) h.Put<int16_t>(5798 + 2 * i, int16_t(rec.creatorVersion[i]));
}

bool Plan(const Recording& rec, Abf2Plan* plan, std::string* error)
{
    if (!Validate(rec, error)) return false;
    if (rec.format == Format::Abf2)
        PlanAbf2(rec, plan);
    else
        PlanAbf1(rec, plan);
    return true;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

bool WriteAll(FILE* f, const void* p, size_t n) { return n == 0 || std::fwrite(p, 1, n, f) == n; }

bool StreamData(const Recording& rec, FILE* f, std::string* error)
{
    const size_t nch = rec.channels.size();
    int64_t remaining = MuxSamples(rec) / int64_t(nch);
    const int64_t chunk = std::max<int64_t>(1, (int64_t(1) << 18) / int64_t(nch));
    std::vector<float> values(size_t(chunk) * nch);
    std::vector<uint8_t> bytes(values.size() * 4);
    std::vector<double> inverse(nch), offset(nch);
    for (size_t p = 0; p < nch; ++p) {
        inverse[p] = 1.0 / double(ScaleFactor(rec, rec.channels[p]));
        offset[p] = rec.channels[p].offset;
    }
    int64_t first = 0;
    int64_t written = 0;
    while (remaining > 0) {
        const int64_t n = std::min(chunk, remaining);
        if (!GenerateSamples(rec, first, n, values.data(), error)) return false;
        const size_t count = size_t(n) * nch;
        size_t nbytes;
        if (rec.dataFormat == DataFormat::Float32) {
            std::memcpy(bytes.data(), values.data(), count * 4);
            nbytes = count * 4;
        } else {
            for (size_t k = 0; k < count; k += nch)
                for (size_t p = 0; p < nch; ++p) {
                    const int16_t raw = QuantiseWith(values[k + p], inverse[p], offset[p]);
                    std::memcpy(&bytes[2 * (k + p)], &raw, 2);
                }
            nbytes = count * 2;
        }
        if (!WriteAll(f, bytes.data(), nbytes)) return Fail(error, "write error in the data section");
        written += int64_t(nbytes);
        first += n;
        remaining -= n;
    }
    static const uint8_t zeros[512] = {};
    const int64_t pad = Blocks(written) * kBlock - written;
    if (!WriteAll(f, zeros, size_t(pad))) return Fail(error, "write error in the data section");
    return true;
}

bool ApplyDamage(const Recording& rec, const Layout& layout, const std::string& path, std::string* error)
{
    const Damage& d = rec.damage;
    if (!d.patches.empty()) {
        std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "r+b"));
        if (!f) return Fail(error, "cannot reopen \"" + path + "\" to damage it");
        for (const Damage::Patch& p : d.patches) {
            const int64_t base = SectionOffset(layout, p.section);
            if (base < 0) return Fail(error, "damage names an absent section \"" + p.section + "\"");
            const int64_t at = base + p.offset;
            uint8_t b[8];
            for (int i = 0; i < 8; ++i) b[i] = uint8_t(p.value >> (8 * i));
#if defined(_WIN32)
            const int rc = _fseeki64(f.get(), at, SEEK_SET);
#else
            const int rc = fseeko(f.get(), off_t(at), SEEK_SET);
#endif
            if (at < 0 || at + p.width > layout.fileSize || rc != 0 || !WriteAll(f.get(), b, size_t(p.width)))
                return Fail(error, "cannot patch \"" + path + "\"");
        }
    }
    if (d.truncate) {
        const int64_t base = SectionOffset(layout, d.truncateSection);
        if (base < 0) return Fail(error, "damage names an absent section \"" + d.truncateSection + "\"");
        const int64_t size = std::max<int64_t>(0, std::min(layout.fileSize, base + d.truncateAt));
        std::error_code ec;
        std::filesystem::resize_file(std::filesystem::u8path(path), uint64_t(size), ec);
        if (ec) return Fail(error, "cannot truncate \"" + path + "\": " + ec.message());
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- public helpers

std::vector<int64_t> SweepLengths(const Recording& rec)
{
    if (rec.mode == Mode::GapFree) return {std::max<int64_t>(0, rec.samplesPerChannel)};
    if (!rec.episodeLengths.empty()) return std::vector<int64_t>(rec.episodeLengths.begin(), rec.episodeLengths.end());
    return std::vector<int64_t>(size_t(std::max(0, rec.episodes)), int64_t(std::max(0, rec.samplesPerEpisode)));
}

double SynchCountUs(const Recording& rec)
{
    if (rec.synchTimeUnit > 0) return rec.synchTimeUnit;
    return double(rec.sequenceIntervalUs) / double(std::max<size_t>(1, rec.channels.size()));
}

int32_t SecondsToCounts(const Recording& rec, double seconds)
{
    return int32_t(std::llround(seconds * 1e6 / SynchCountUs(rec)));
}

std::vector<int64_t> SweepStarts(const Recording& rec)
{
    if (rec.mode == Mode::GapFree) return {};
    const std::vector<int64_t> lengths = SweepLengths(rec);
    if (!rec.episodeStarts.empty()) return rec.episodeStarts;
    std::vector<int64_t> starts;
    const double unit = SynchCountUs(rec);
    double t = 0;  // µs
    for (size_t e = 0; e < lengths.size(); ++e) {
        starts.push_back(std::llround(t / unit));
        const double durUs = double(lengths[e]) * double(rec.sequenceIntervalUs);
        if (rec.mode == Mode::Episodic || rec.mode == Mode::Oscilloscope) {
            t += std::max(durUs, double(rec.episodeStartToStartS) * 1e6);
        } else {
            // Events arrive after a seeded pause of 10 to 110 % of the sweep's length.
            const uint64_t h = (rec.seed + 0x51ED27ull * (e + 1)) * 0x9E3779B97F4A7C15ull;
            t += durUs * (1.1 + double((h >> 40) % 1000) / 1000.0);
        }
    }
    return starts;
}

int64_t SectionOffset(const Layout& layout, const std::string& name)
{
    if (name.empty() || name == "file") return 0;
    if (name == "end") return layout.fileSize;
    for (const SectionInfo& s : layout.sections)
        if (s.name == name) return s.offset;
    return -1;
}

bool Validate(const Recording& rec, std::string* error)
{
    const size_t nch = rec.channels.size();
    if (nch < 1 || nch > size_t(kMaxChannels)) return Fail(error, "a recording has 1 to 16 channels");
    bool used[kMaxChannels] = {};
    for (const Channel& c : rec.channels) {
        if (c.physical < 0 || c.physical >= kMaxChannels)
            return Fail(error, "physical channel " + std::to_string(c.physical) + " is not 0 to 15");
        if (used[c.physical])
            return Fail(error, "physical channel " + std::to_string(c.physical) + " is sampled twice");
        used[c.physical] = true;
        if (c.name.size() > kChannelNameWidth)
            return Fail(error, "channel name \"" + c.name + "\" is longer than 10 characters");
        if (c.units.size() > kUnitsWidth) return Fail(error, "units \"" + c.units + "\" are longer than 8 characters");
        if (!(c.scaleFactor > 0) && rec.dataFormat == DataFormat::Int16 && c.scaleFactor != 0)
            return Fail(error, "channel \"" + c.name + "\": scale factor must be positive");
    }
    const int mode = int(rec.mode);
    if (mode < 1 || mode > 5) return Fail(error, "operation mode must be 1 to 5");
    if (!(rec.sequenceIntervalUs > 0)) return Fail(error, "the sampling interval must be positive");
    if (rec.synchTimeUnit < 0) return Fail(error, "the synch time unit must not be negative");
    if (rec.creator.size() > kCreatorWidth) return Fail(error, "creator text is longer than 16 characters");
    if (rec.protocolPath.size() > kProtocolPathWidth) return Fail(error, "protocol path is longer than 256 characters");
    if (rec.comment.size() > kCommentWidth) return Fail(error, "file comment is longer than 128 characters");
    if (rec.format == Format::Abf1 && !(rec.abf1Version >= 1.6f && rec.abf1Version < 2.0f))
        return Fail(error, "ABF1 files are written as version 1.6 to 1.99");
    if (rec.format == Format::Abf2 && rec.versionMinor > 99) return Fail(error, "ABF2 minor version above 99");
    if (!(rec.adcRange > 0) || rec.adcResolution <= 0) return Fail(error, "ADC range and resolution must be positive");
    if (rec.mode == Mode::GapFree) {
        if (rec.samplesPerChannel < 0) return Fail(error, "negative sample count");
    } else {
        if (rec.episodes < 0) return Fail(error, "negative episode count");
        if (rec.episodeLengths.empty() && rec.samplesPerEpisode <= 0 && rec.episodes > 0)
            return Fail(error, "sweeps need a positive number of samples");
        for (int32_t len : rec.episodeLengths)
            if (len <= 0) return Fail(error, "every sweep needs a positive number of samples");
        if (rec.mode != Mode::VariableEvents && !rec.episodeLengths.empty()) {
            for (int32_t len : rec.episodeLengths)
                if (len != rec.episodeLengths[0])
                    return Fail(error, "only variable-length event mode has sweeps of different lengths");
        }
    }
    const std::vector<int64_t> lengths = SweepLengths(rec);
    int64_t total = 0;
    for (int64_t len : lengths) {
        total += len;
        if (total * int64_t(nch) > std::numeric_limits<int32_t>::max())
            return Fail(error, "more than 2147483647 samples in all channels together");
    }
    const std::vector<int64_t> starts = SweepStarts(rec);
    if (rec.mode != Mode::GapFree) {
        if (starts.size() != lengths.size()) return Fail(error, "sweep starts and sweep lengths differ in number");
        for (int64_t s : starts)
            if (s < -1 || s > std::numeric_limits<int32_t>::max())
                return Fail(error, "a sweep start does not fit the synch array");
    }
    if (rec.dacs.size() > size_t(rec.format == Format::Abf1 ? 4 : kMaxDacs))
        return Fail(error, rec.format == Format::Abf1 ? "ABF1 files hold 4 DACs" : "at most 8 DACs");
    for (size_t d = 0; d < rec.dacs.size(); ++d) {
        const Dac& dac = rec.dacs[d];
        if (dac.name.size() > kChannelNameWidth)
            return Fail(error, "DAC name \"" + dac.name + "\" is longer than 10 characters");
        if (dac.units.size() > kUnitsWidth)
            return Fail(error, "DAC units \"" + dac.units + "\" are longer than 8 characters");
        for (const Epoch& e : dac.epochs) {
            if (e.type < 0 || e.type > 7) return Fail(error, "epoch type must be 0 to 7");
            if (rec.format == Format::Abf1 && d >= 2 && e.type != kEpochDisabled)
                return Fail(error, "ABF1 files hold epoch tables for DAC 0 and 1 only");
        }
    }
    if (rec.activeDac < 0 || rec.activeDac >= kMaxDacs) return Fail(error, "active DAC must be 0 to 7");
    for (const Tag& t : rec.tags)
        if (t.comment.size() > kTagCommentWidth)
            return Fail(error, "tag comment \"" + t.comment + "\" is longer than 56 characters");
    if (rec.source == SignalSource::Values && rec.values.size() < uint64_t(total) * nch)
        return Fail(error, "fewer sample values than the recording needs");
    if (rec.source == SignalSource::RawFile) {
        std::error_code ec;
        const uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(rec.rawPath), ec);
        if (ec) return Fail(error, "cannot read raw sample file \"" + rec.rawPath + "\"");
        if (size < uintmax_t(total) * nch * 4)
            return Fail(error, "raw sample file \"" + rec.rawPath + "\" holds fewer samples than the recording needs");
    }
    return true;
}

bool PlanLayout(const Recording& rec, Layout* layout, std::string* error)
{
    Abf2Plan plan;
    if (!Plan(rec, &plan, error)) return false;
    *layout = plan.layout;
    return true;
}

bool WriteAbf(const Recording& rec, const std::string& path, std::string* error, Layout* layout)
{
    Abf2Plan plan;
    if (!Plan(rec, &plan, error)) return false;
    {
        std::vector<char> buffer(1 << 20);  // outlives the stream that uses it
        std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
        if (!f) return Fail(error, "cannot create \"" + path + "\"");
        std::setvbuf(f.get(), buffer.data(), _IOFBF, buffer.size());
        plan.head.Grow(size_t(plan.dataOffset));
        bool ok = WriteAll(f.get(), plan.head.b.data(), size_t(plan.dataOffset));
        std::string streamError;
        ok = ok && StreamData(rec, f.get(), &streamError);
        ok = ok && WriteAll(f.get(), plan.tail.b.data(), plan.tail.b.size());
        ok = ok && std::fflush(f.get()) == 0;
        ok = std::fclose(f.release()) == 0 && ok;
        if (!ok) {
            // A half-written recording would pass for a damaged one: remove it.
            std::remove(path.c_str());
            return Fail(error, streamError.empty() ? "write error in \"" + path + "\"" : streamError);
        }
    }
    if (!ApplyDamage(rec, plan.layout, path, error)) return false;
    if (layout) *layout = plan.layout;
    return true;
}

}  // namespace abfw
