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

namespace af = abfformat;
namespace v1 = abfformat::abf1;
namespace v2 = abfformat::abf2;

constexpr int64_t kBlock = af::kBlockBytes;

int64_t Blocks(int64_t bytes) { return (bytes + kBlock - 1) / kBlock; }

template <class T>
struct Same {
    using Type = T;
};

// Little-endian byte buffer with stores at fixed offsets or into the named fields of a
// structure that starts at `base`.
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
    // Element i of field f (the value has the field's own type).
    template <typename T>
    void Put(size_t base, const af::Field<T>& f, typename Same<T>::Type v, uint32_t i = 0)
    {
        Put<T>(base + f.At(i), v);
    }
    // Fixed-width text, space padded, no terminator.
    void Text(size_t off, const std::string& s, size_t width)
    {
        Grow(off + width);
        for (size_t i = 0; i < width; ++i) b[off + i] = i < s.size() ? uint8_t(s[i]) : uint8_t(' ');
    }
    void Text(size_t base, const af::Field<char>& f, const std::string& s, uint32_t i = 0)
    {
        Text(base + f.At(i), s, f.width);
    }
    void Raw(size_t off, const void* p, size_t n)
    {
        Grow(off + n);
        std::memcpy(&b[off], p, n);
    }
};

std::string DacName(const RecordingSpec& rec, size_t d)
{
    if (d < rec.dacs.size() && !rec.dacs[d].name.empty()) return rec.dacs[d].name;
    return (d < 4 ? "Cmd " : "AO #") + std::to_string(d);
}
std::string DacUnits(const RecordingSpec& rec, size_t d) { return d < rec.dacs.size() ? rec.dacs[d].units : "mV"; }
const Dac& DacOrDefault(const RecordingSpec& rec, size_t d)
{
    static const Dac none;
    return d < rec.dacs.size() ? rec.dacs[d] : none;
}

bool Fail(std::string* error, const std::string& text)
{
    if (error) *error = text;
    return false;
}

int64_t MuxSamples(const RecordingSpec& rec)
{
    int64_t n = 0;
    for (int64_t len : SweepLengths(rec)) n += len;
    return n * int64_t(rec.channels.size());
}

bool HasSynch(const RecordingSpec& rec) { return rec.mode != Mode::GapFree && rec.writeSynchArray; }

// Per-channel samples of the protocol's sweep (lNumSamplesPerEpisode / nch).
int64_t ProtocolSweepSamples(const RecordingSpec& rec)
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

bool AnyDigital(const RecordingSpec& rec)
{
    if (rec.activeDac < 0 || size_t(rec.activeDac) >= rec.dacs.size()) return false;
    for (const Epoch& e : rec.dacs[size_t(rec.activeDac)].epochs)
        if (e.type != kEpochDisabled && e.digitalValue != 0) return true;
    return false;
}

bool AnyExternalTag(const RecordingSpec& rec)
{
    for (const Tag& t : rec.tags)
        if (t.type == kAbfExternalTag) return true;
    return false;
}

double TotalSeconds(const RecordingSpec& rec)
{
    double s = 0;
    for (int64_t len : SweepLengths(rec)) s += double(len) * double(rec.sequenceIntervalUs) * 1e-6;
    return s;
}

// A pre-trigger of a 64th of the sweep, at most 512 samples (a usual protocol setting).
int32_t PreTrigger(int64_t sweepMuxSamples) { return int32_t(std::min<int64_t>(sweepMuxSamples / 64, 512)); }

// The file GUID: 16 bytes made from the seed, so that equal recordings are equal files.
void PutGuid(Bytes& h, uint32_t at, uint64_t seed)
{
    h.Put<uint64_t>(at, seed * 0x9E3779B97F4A7C15ull + 0x1234567ull);
    h.Put<uint64_t>(at + 8, ~seed * 0xC2B2AE3D27D4EB4Full);
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
        namespace st = v2::strings;
        Bytes out(st::kExtent);
        out.Raw(st::sSignature.offset, v2::kStringsSignature, sizeof v2::kStringsSignature);
        out.Put(0, st::uVersion, 1u);
        out.Put(0, st::uNumStrings, uint32_t(list.size()));
        uint32_t longest = 0, total = 0;
        for (const std::string& s : list) {
            longest = std::max(longest, uint32_t(s.size()));
            out.Raw(st::sStrings.offset + total, s.data(), s.size());
            out.Put<uint8_t>(st::sStrings.offset + total + s.size(), 0);
            total += uint32_t(s.size()) + 1;
        }
        out.Put(0, st::uMaxSize, longest);
        out.Put(0, st::lTotalBytes, int32_t(total));
        return out;
    }
};

// The string indexes of an ABF2 file's texts.
struct TextIndexes {
    uint32_t creator = 0, protocol = 0, comment = 0;
    std::vector<uint32_t> adcName, adcUnits, dacName, dacUnits;
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

// Enters section `index` at byte `offset` in the ABF2 section map and in the layout.
void MapSection(Abf2Plan* plan, v2::Section index, const char* name, int64_t offset, uint32_t entryBytes, int64_t count)
{
    const size_t at = v2::SectionEntryOffset(index);
    plan->head.Put(at, v2::section::uBlockIndex, uint32_t(offset / kBlock));
    plan->head.Put(at, v2::section::uBytes, entryBytes);
    plan->head.Put(at, v2::section::llNumEntries, count);
    AddSection(&plan->layout, name, offset, entryBytes, count);
}

// Places a section of `count` entries at *pos (a block boundary) and moves *pos to the
// next block boundary after it.
int64_t PlaceSection(Abf2Plan* plan, int64_t* pos, v2::Section index, const char* name, uint32_t entryBytes,
                     int64_t count)
{
    const int64_t at = *pos;
    MapSection(plan, index, name, at, entryBytes, count);
    *pos += Blocks(count * entryBytes) * kBlock;
    return at;
}

void PutTag(Bytes* out, size_t at, const Tag& t)
{
    out->Put(at, af::tag::lTagTime, t.time);
    out->Text(at, af::tag::sComment, t.comment);
    out->Put(at, af::tag::nTagType, t.type);
    out->Put(at, af::tag::nVoiceTagNumber, t.number);
}

Bytes Tail(const RecordingSpec& rec, int64_t* tagOffset, int64_t* synchOffset, int64_t tailOffset)
{
    Bytes tail;
    int64_t pos = 0;
    *tagOffset = *synchOffset = 0;
    if (!rec.tags.empty()) {
        *tagOffset = tailOffset + pos;
        for (size_t i = 0; i < rec.tags.size(); ++i) PutTag(&tail, size_t(pos) + af::tag::kExtent * i, rec.tags[i]);
        pos += Blocks(int64_t(rec.tags.size()) * af::tag::kExtent) * kBlock;
    }
    const std::vector<int64_t> lengths = SweepLengths(rec);
    if (HasSynch(rec) && !lengths.empty()) {
        const std::vector<int64_t> starts = SweepStarts(rec);
        *synchOffset = tailOffset + pos;
        const int64_t nch = int64_t(rec.channels.size());
        for (size_t i = 0; i < lengths.size(); ++i) {
            const size_t at = size_t(pos) + af::synch_entry::kExtent * i;
            tail.Put(at, af::synch_entry::lStart, int32_t(starts[i]));
            tail.Put(at, af::synch_entry::lLength, int32_t(lengths[i] * nch));
        }
        pos += Blocks(int64_t(lengths.size()) * af::synch_entry::kExtent) * kBlock;
    }
    tail.Grow(size_t(pos));
    return tail;
}

TextIndexes AddTexts(const RecordingSpec& rec, size_t ndac, Strings* strings)
{
    TextIndexes t;
    t.creator = strings->Add(rec.creator);
    t.protocol = strings->Add(rec.protocolPath);
    t.comment = strings->Add(rec.comment);
    for (const Channel& c : rec.channels) {
        t.adcName.push_back(strings->Add(c.name));
        t.adcUnits.push_back(strings->Add(c.units));
    }
    for (size_t d = 0; d < ndac; ++d) {
        t.dacName.push_back(strings->Add(DacName(rec, d)));
        t.dacUnits.push_back(strings->Add(DacUnits(rec, d)));
    }
    return t;
}

void PutFileInfo(const RecordingSpec& rec, const TextIndexes& texts, Bytes& h)
{
    namespace fi = v2::fileinfo;
    h.Grow(v2::kFileInfoBytes);
    h.Raw(fi::uFileSignature.offset, af::kAbf2Signature, sizeof af::kAbf2Signature);
    h.Put(0, fi::uFileVersionMinor, rec.versionMinor);
    h.Put(0, fi::uFileVersionMajor, v2::kMajorVersion);
    h.Put(0, fi::uFileInfoSize, v2::kFileInfoBytes);
    h.Put(0, fi::uActualEpisodes, rec.mode == Mode::GapFree ? 0u : uint32_t(SweepLengths(rec).size()));
    h.Put(0, fi::uFileStartDate, rec.startDate);
    h.Put(0, fi::uFileStartTimeMS, rec.startTimeMS);
    h.Put(0, fi::uStopwatchTime, rec.stopwatchS);
    h.Put(0, fi::nFileType, int16_t(1));
    h.Put(0, fi::nDataFormat, int16_t(rec.dataFormat));
    h.Put(0, fi::nSimultaneousScan, int16_t(rec.simultaneousScan ? 1 : 0));
    PutGuid(h, fi::FileGUID.offset, rec.seed);
    h.Put(0, fi::uCreatorVersionMajor, rec.creatorVersion[0]);
    h.Put(0, fi::uCreatorVersionMinor, rec.creatorVersion[1]);
    h.Put(0, fi::uCreatorVersionBugfix, rec.creatorVersion[2]);
    h.Put(0, fi::uCreatorVersionBuild, rec.creatorVersion[3]);
    h.Put(0, fi::uCreatorNameIndex, texts.creator);
    h.Put(0, fi::uProtocolPathIndex, texts.protocol);
}

void PutProtocol(const RecordingSpec& rec, uint32_t commentIndex, Bytes& h, size_t at)
{
    namespace pr = v2::protocol;
    const int64_t nch = int64_t(rec.channels.size());
    const int64_t sweep = ProtocolSweepSamples(rec);
    h.Put(at, pr::nOperationMode, int16_t(rec.mode));
    h.Put(at, pr::fADCSequenceInterval, rec.sequenceIntervalUs);
    h.Put(at, pr::uFileCompressionRatio, 1u);
    h.Put(at, pr::fSynchTimeUnit, rec.synchTimeUnit);
    h.Put(at, pr::fSecondsPerRun, float(TotalSeconds(rec)));
    h.Put(at, pr::lNumSamplesPerEpisode, int32_t(sweep * nch));
    h.Put(at, pr::lPreTriggerSamples, PreTrigger(sweep * nch));
    h.Put(at, pr::lEpisodesPerRun, rec.mode == Mode::GapFree ? 1 : int32_t(SweepLengths(rec).size()));
    h.Put(at, pr::lRunsPerTrial, 1);
    h.Put(at, pr::lNumberOfTrials, 1);
    h.Put(at, pr::nTriggerSource, int16_t(-3));
    h.Put(at, pr::fEpisodeStartToStart, rec.episodeStartToStartS);
    h.Put(at, pr::lAverageCount, 1);
    h.Put(at, pr::nAutoTriggerStrategy, int16_t(1));
    h.Put(at, pr::lSamplesPerTrace, int32_t(std::min<int64_t>(sweep, 1 << 20)));
    h.Put(at, pr::fStatisticsPeriod, 1.0f);
    h.Put(at, pr::lStatisticsMeasurements, 5);
    h.Put(at, pr::fADCRange, rec.adcRange);
    h.Put(at, pr::fDACRange, rec.dacRange);
    h.Put(at, pr::lADCResolution, rec.adcResolution);
    h.Put(at, pr::lDACResolution, rec.dacResolution);
    h.Put(at, pr::nExperimentType, rec.experimentType);
    h.Put(at, pr::nManualInfoStrategy, int16_t(1));
    h.Put(at, pr::nCommentsEnable, int16_t(rec.comment.empty() ? 0 : 1));
    h.Put(at, pr::lFileCommentIndex, int32_t(commentIndex));
    h.Put(at, pr::nAutoAnalyseEnable, int16_t(1));
    h.Put(at, pr::nDigitalEnable, int16_t(AnyDigital(rec) ? 1 : 0));
    h.Put(at, pr::nActiveDACChannel, rec.activeDac);
    h.Put(at, pr::nDigitalDACChannel, rec.activeDac);
    h.Put(at, pr::nDigitalTrainActiveLogic, int16_t(1));
    h.Put(at, pr::nStatisticsClearStrategy, int16_t(1));
    h.Put(at, pr::nLevelHysteresis, int16_t(64));
    h.Put(at, pr::lTimeHysteresis, 1);
    h.Put(at, pr::nAllowExternalTags, int16_t(AnyExternalTag(rec) ? 1 : 0));
    h.Put(at, pr::fAverageWeighting, 0.1f);
    h.Put(at, pr::nTrialTriggerSource, int16_t(-1));
    h.Put(at, pr::nExternalTagType, int16_t(2));
    // A Digidata 1440-class digitizer: 16 inputs, 8 outputs.
    h.Put(at, pr::nDigitizerADCs, int16_t(16));
    h.Put(at, pr::nDigitizerDACs, int16_t(8));
    h.Put(at, pr::nDigitizerTotalDigitalOuts, int16_t(16));
    h.Put(at, pr::nDigitizerSynchDigitalOuts, int16_t(8));
    h.Put(at, pr::nDigitizerType, int16_t(6));
}

void PutAdcEntry(const Channel& c, size_t position, uint32_t name, uint32_t units, Bytes& h, size_t at)
{
    namespace adc = v2::adc;
    h.Put(at, adc::nADCNum, c.physical);
    h.Put(at, adc::nTelegraphEnable, int16_t(c.telegraph ? 1 : 0));
    h.Put(at, adc::fTelegraphAdditGain, c.telegraphGain);
    h.Put(at, adc::nADCPtoLChannelMap, int16_t(position));
    h.Put(at, adc::fADCProgrammableGain, c.gain);
    h.Put(at, adc::fADCDisplayAmplification, 1.0f);
    h.Put(at, adc::fInstrumentScaleFactor, c.scaleFactor);
    h.Put(at, adc::fInstrumentOffset, c.offset);
    h.Put(at, adc::fSignalGain, 1.0f);
    h.Put(at, adc::fSignalLowpassFilter, c.lowpass);
    h.Put(at, adc::fPostProcessLowpassFilter, 100000.0f);
    h.Put(at, adc::nStatsChannelPolarity, int16_t(1));
    h.Put(at, adc::lADCChannelNameIndex, int32_t(name));
    h.Put(at, adc::lADCUnitsIndex, int32_t(units));
}

void PutDacEntry(const Dac& dac, size_t d, uint32_t name, uint32_t units, Bytes& h, size_t at)
{
    namespace da = v2::dac;
    h.Put(at, da::nDACNum, int16_t(d));
    h.Put(at, da::fDACScaleFactor, dac.scaleFactor);
    h.Put(at, da::fDACHoldingLevel, dac.holding);
    h.Put(at, da::fDACCalibrationFactor, 1.0f);
    h.Put(at, da::lDACChannelNameIndex, int32_t(name));
    h.Put(at, da::lDACChannelUnitsIndex, int32_t(units));
    h.Put(at, da::nWaveformEnable, int16_t(dac.waveformEnable ? 1 : 0));
    h.Put(at, da::nWaveformSource, int16_t(dac.waveformEnable ? af::kSourceEpochs : af::kSourceNone));
    h.Put(at, da::nInterEpisodeLevel, dac.interEpisodeLevel);
    h.Put(at, da::fDACFileScale, 1.0f);
    h.Put(at, da::lConditNumPulses, 1);
    h.Put(at, da::fBaselineDuration, 1.0f);
    h.Put(at, da::fStepDuration, 1.0f);
    h.Put(at, da::fPostTrainPeriod, 10.0f);
    h.Put(at, da::nPNPolarity, int16_t(1));
    h.Put(at, da::nPNNumPulses, int16_t(4));
    h.Put(at, da::fMembTestPreSettlingTimeMS, 100.0f);
    h.Put(at, da::fMembTestPostSettlingTimeMS, 100.0f);
}

// Where the numbers of one epoch go: the ABF1 header's [DAC][epoch] tables, or the
// fields of an ABF2 epoch entry.
struct EpochFields {
    af::Field<int16_t> type;
    af::Field<float> initLevel, levelInc;
    af::Field<int32_t> initDuration, durationInc, pulsePeriod, pulseWidth;
};
const EpochFields kAbf1EpochFields = {v1::nEpochType,         v1::fEpochInitLevel,   v1::fEpochLevelInc,
                                      v1::lEpochInitDuration, v1::lEpochDurationInc, v1::lEpochPulsePeriod,
                                      v1::lEpochPulseWidth};
const EpochFields kAbf2EpochFields = {v2::epoch_per_dac::nEpochType,        v2::epoch_per_dac::fEpochInitLevel,
                                      v2::epoch_per_dac::fEpochLevelInc,    v2::epoch_per_dac::lEpochInitDuration,
                                      v2::epoch_per_dac::lEpochDurationInc, v2::epoch_per_dac::lEpochPulsePeriod,
                                      v2::epoch_per_dac::lEpochPulseWidth};

void PutEpoch(Bytes& h, size_t base, const EpochFields& f, const Epoch& x, uint32_t i)
{
    h.Put(base, f.type, x.type, i);
    h.Put(base, f.initLevel, x.initLevel, i);
    h.Put(base, f.levelInc, x.levelInc, i);
    h.Put(base, f.initDuration, x.initDuration, i);
    h.Put(base, f.durationInc, x.durationInc, i);
    h.Put(base, f.pulsePeriod, x.pulsePeriod, i);
    h.Put(base, f.pulseWidth, x.pulseWidth, i);
}

// The analog epoch table: enabled epochs only, sorted by DAC, then epoch.
int64_t PutEpochTable(const RecordingSpec& rec, Bytes& h, size_t at)
{
    namespace ep = v2::epoch_per_dac;
    int64_t n = 0;
    for (size_t d = 0; d < rec.dacs.size(); ++d)
        for (int e = 0; e < kEpochsPerDac; ++e) {
            const Epoch& x = rec.dacs[d].epochs[e];
            if (x.type == kEpochDisabled) continue;
            const size_t E = at + v2::kEpochPerDACEntryBytes * size_t(n++);
            h.Put(E, ep::nEpochNum, int16_t(e));
            h.Put(E, ep::nDACNum, int16_t(d));
            PutEpoch(h, E, kAbf2EpochFields, x, 0);
        }
    return n;
}

// The digital outputs of the active DAC's enabled epochs.
int64_t PutDigitalTable(const RecordingSpec& rec, Bytes& h, size_t at)
{
    int64_t n = 0;
    if (rec.activeDac < 0 || size_t(rec.activeDac) >= rec.dacs.size()) return 0;
    const Dac& dac = rec.dacs[size_t(rec.activeDac)];
    for (int e = 0; e < kEpochsPerDac; ++e) {
        if (dac.epochs[e].type == kEpochDisabled) continue;
        const size_t E = at + v2::kEpochEntryBytes * size_t(n++);
        h.Put(E, v2::epoch::nEpochNum, int16_t(e));
        h.Put(E, v2::epoch::nDigitalValue, dac.epochs[e].digitalValue);
    }
    return n;
}

// Header sections in the order the acquisition programs write them, each from a
// block boundary: protocol, ADC, DAC, epoch tables, strings; then the data, tags and
// the synch array.
void PlanAbf2(const RecordingSpec& rec, Abf2Plan* plan)
{
    Bytes& h = plan->head;
    const size_t nch = rec.channels.size();
    const int64_t mux = MuxSamples(rec);
    const size_t ndac = std::max<size_t>(size_t(kMaxDacs), rec.dacs.size());
    Strings strings;
    const TextIndexes texts = AddTexts(rec, ndac, &strings);

    PutFileInfo(rec, texts, h);
    int64_t pos = kBlock;
    PutProtocol(rec, texts.comment, h,
                size_t(PlaceSection(plan, &pos, v2::kProtocol, "Protocol", v2::kProtocolBytes, 1)));
    const int64_t adc = PlaceSection(plan, &pos, v2::kADC, "ADC", v2::kADCEntryBytes, int64_t(nch));
    for (size_t p = 0; p < nch; ++p)
        PutAdcEntry(rec.channels[p], p, texts.adcName[p], texts.adcUnits[p], h, size_t(adc) + v2::kADCEntryBytes * p);
    const int64_t dac = PlaceSection(plan, &pos, v2::kDAC, "DAC", v2::kDACEntryBytes, int64_t(ndac));
    for (size_t d = 0; d < ndac; ++d)
        PutDacEntry(DacOrDefault(rec, d), d, texts.dacName[d], texts.dacUnits[d], h,
                    size_t(dac) + v2::kDACEntryBytes * d);
    if (const int64_t n = PutEpochTable(rec, h, size_t(pos)))
        PlaceSection(plan, &pos, v2::kEpochPerDAC, "EpochPerDAC", v2::kEpochPerDACEntryBytes, n);
    if (const int64_t n = PutDigitalTable(rec, h, size_t(pos)))
        PlaceSection(plan, &pos, v2::kEpoch, "Epoch", v2::kEpochEntryBytes, n);
    const Bytes s = strings.Section();
    h.Raw(size_t(pos), s.b.data(), s.b.size());
    MapSection(plan, v2::kStrings, "Strings", pos, uint32_t(s.b.size()), int64_t(strings.list.size()));
    pos += Blocks(int64_t(s.b.size())) * kBlock;
    h.Grow(size_t(pos));

    const uint32_t sampleBytes = rec.dataFormat == DataFormat::Float32 ? 4 : 2;
    plan->dataOffset = pos;
    MapSection(plan, v2::kData, "Data", pos, sampleBytes, mux);
    pos += Blocks(mux * sampleBytes) * kBlock;

    plan->tailOffset = pos;
    int64_t tagOffset, synchOffset;
    plan->tail = Tail(rec, &tagOffset, &synchOffset, pos);
    if (tagOffset) MapSection(plan, v2::kTag, "Tag", tagOffset, af::tag::kExtent, int64_t(rec.tags.size()));
    if (synchOffset)
        MapSection(plan, v2::kSynchArray, "SynchArray", synchOffset, af::synch_entry::kExtent,
                   int64_t(SweepLengths(rec).size()));
    plan->layout.fileSize = pos + int64_t(plan->tail.b.size());
    plan->layout.muxSamples = mux;
}

// ---------------------------------------------------------------- ABF1 header

// Counts, pointers, timing and the file's identity.
void PutAbf1Counts(const RecordingSpec& rec, const Abf2Plan& plan, int64_t tagOffset, int64_t synchOffset, Bytes& h)
{
    const size_t nch = rec.channels.size();
    const std::vector<int64_t> lengths = SweepLengths(rec);
    const int64_t sweep = ProtocolSweepSamples(rec);
    h.Raw(v1::lFileSignature.offset, af::kAbf1Signature, sizeof af::kAbf1Signature);
    h.Put(0, v1::fFileVersionNumber, rec.abf1Version);
    h.Put(0, v1::nOperationMode, int16_t(rec.mode));
    h.Put(0, v1::lActualAcqLength, int32_t(MuxSamples(rec)));
    h.Put(0, v1::lActualEpisodes,
          rec.mode == Mode::GapFree ? int32_t((lengths[0] + sweep - 1) / std::max<int64_t>(1, sweep))
                                    : int32_t(lengths.size()));
    h.Put(0, v1::lFileStartDate, int32_t(rec.startDate));
    h.Put(0, v1::lFileStartTime, int32_t(rec.startTimeMS / 1000));
    h.Put(0, v1::nFileStartMillisecs, int16_t(rec.startTimeMS % 1000));
    h.Put(0, v1::lStopwatchTime, int32_t(rec.stopwatchS));
    h.Put(0, v1::fHeaderVersionNumber, rec.abf1Version);
    h.Put(0, v1::nFileType, int16_t(1));
    h.Put(0, v1::lDataSectionPtr, int32_t(plan.dataOffset / kBlock));
    h.Put(0, v1::lTagSectionPtr, int32_t(tagOffset / kBlock));
    h.Put(0, v1::lNumTagEntries, int32_t(rec.tags.size()));
    h.Put(0, v1::lSynchArrayPtr, int32_t(synchOffset / kBlock));
    h.Put(0, v1::lSynchArraySize, synchOffset ? int32_t(lengths.size()) : 0);
    h.Put(0, v1::nDataFormat, int16_t(rec.dataFormat));
    h.Put(0, v1::nSimultaneousScan, int16_t(rec.simultaneousScan ? 1 : 0));
    h.Put(0, v1::channel_count_acquired, int16_t(nch));
    h.Put(0, v1::nADCNumChannels, int16_t(nch));
    h.Put(0, v1::fADCSampleInterval, rec.sequenceIntervalUs / float(nch));
    h.Put(0, v1::fSynchTimeUnit, rec.synchTimeUnit);
    h.Put(0, v1::fSecondsPerRun, float(TotalSeconds(rec)));
    h.Put(0, v1::lNumSamplesPerEpisode, int32_t(sweep * int64_t(nch)));
    h.Put(0, v1::lPreTriggerSamples, PreTrigger(sweep * int64_t(nch)));
    h.Put(0, v1::lEpisodesPerRun, rec.mode == Mode::GapFree ? 1 : int32_t(lengths.size()));
    h.Put(0, v1::lRunsPerTrial, 1);
    h.Put(0, v1::lNumberOfTrials, 1);
    h.Put(0, v1::nTriggerSource, int16_t(-3));
    h.Put(0, v1::fEpisodeStartToStart, rec.episodeStartToStartS);
    h.Put(0, v1::lAverageCount, 1);
    h.Put(0, v1::nAutoTriggerStrategy, int16_t(1));
    h.Put(0, v1::fADCRange, rec.adcRange);
    h.Put(0, v1::fDACRange, rec.dacRange);
    h.Put(0, v1::lADCResolution, rec.adcResolution);
    h.Put(0, v1::lDACResolution, rec.dacResolution);
    h.Put(0, v1::nExperimentType, rec.experimentType);
    h.Put(0, v1::lHeaderSize, int32_t(v1::kExtent));
    h.Put(0, v1::dFileDuration, TotalSeconds(rec));
    h.Put(0, v1::nCreatorMajorVersion, int16_t(rec.creatorVersion[0]));
    h.Put(0, v1::nCreatorMinorVersion, int16_t(rec.creatorVersion[1]));
    h.Put(0, v1::nCreatorBugfixVersion, int16_t(rec.creatorVersion[2]));
    h.Put(0, v1::nCreatorBuildVersion, int16_t(rec.creatorVersion[3]));
}

// Per-channel tables, indexed by physical channel; unsampled channels keep neutral values.
void PutAbf1Channels(const RecordingSpec& rec, Bytes& h)
{
    for (uint32_t ch = 0; ch < uint32_t(kMaxChannels); ++ch) {
        h.Put(0, v1::nADCPtoLChannelMap, int16_t(-1), ch);
        h.Put(0, v1::nADCSamplingSeq, int16_t(-1), ch);
        h.Text(0, v1::sADCChannelName, "", ch);
        h.Text(0, v1::sADCUnits, "", ch);
        h.Put(0, v1::fADCProgrammableGain, 1.0f, ch);
        h.Put(0, v1::fADCDisplayAmplification, 1.0f, ch);
        h.Put(0, v1::fInstrumentScaleFactor, 1.0f, ch);
        h.Put(0, v1::fSignalGain, 1.0f, ch);
        h.Put(0, v1::fSignalLowpassFilter, 100000.0f, ch);
        h.Put(0, v1::fTelegraphAdditGain, 1.0f, ch);
        h.Put(0, v1::fPostProcessLowpassFilter, 100000.0f, ch);
    }
    for (size_t p = 0; p < rec.channels.size(); ++p) {
        const Channel& c = rec.channels[p];
        const uint32_t ch = uint32_t(c.physical);
        h.Put(0, v1::nADCPtoLChannelMap, int16_t(p), ch);
        h.Put(0, v1::nADCSamplingSeq, c.physical, uint32_t(p));
        h.Text(0, v1::sADCChannelName, c.name, ch);
        h.Text(0, v1::sADCUnits, c.units, ch);
        h.Put(0, v1::fADCProgrammableGain, c.gain, ch);
        h.Put(0, v1::fInstrumentScaleFactor, c.scaleFactor, ch);
        h.Put(0, v1::fInstrumentOffset, c.offset, ch);
        h.Put(0, v1::fSignalLowpassFilter, c.lowpass, ch);
        h.Put(0, v1::nTelegraphEnable, int16_t(c.telegraph ? 1 : 0), ch);
        h.Put(0, v1::fTelegraphAdditGain, c.telegraphGain, ch);
        h.Put(0, v1::nStatsChannelPolarity, int16_t(1), ch);
    }
}

// DAC 0-3 names and levels; the waveforms of DAC 0 and 1; the active DAC's digital outputs.
void PutAbf1Dacs(const RecordingSpec& rec, Bytes& h)
{
    for (uint32_t d = 0; d < v1::sDACChannelName.count; ++d) {
        const Dac& dac = DacOrDefault(rec, d);
        h.Text(0, v1::sDACChannelName, DacName(rec, d), d);
        h.Text(0, v1::sDACChannelUnits, DacUnits(rec, d), d);
        h.Put(0, v1::fDACScaleFactor, dac.scaleFactor, d);
        h.Put(0, v1::fDACHoldingLevel, dac.holding, d);
        h.Put(0, v1::fDACCalibrationFactor, 1.0f, d);
    }
    for (uint32_t d = 0; d < uint32_t(v1::kWaveformDacs); ++d) {
        const Dac& dac = DacOrDefault(rec, d);
        h.Put(0, v1::nWaveformEnable, int16_t(dac.waveformEnable ? 1 : 0), d);
        h.Put(0, v1::nWaveformSource, int16_t(af::kSourceEpochs), d);
        h.Put(0, v1::nInterEpisodeLevel, dac.interEpisodeLevel, d);
        for (uint32_t e = 0; e < uint32_t(v1::kEpochsPerDac); ++e)
            PutEpoch(h, 0, kAbf1EpochFields, dac.epochs[e], d * uint32_t(v1::kEpochsPerDac) + e);
        h.Put(0, v1::fDACFileScale, 1.0f, d);
        h.Put(0, v1::fPostTrainPeriod, 10.0f, d);
        h.Put(0, v1::nPNPolarity, int16_t(1), d);
        h.Text(0, v1::sEpochResistanceSignalName, "IN #" + std::to_string(d), d);
    }
    h.Put(0, v1::nDigitalEnable, int16_t(AnyDigital(rec) ? 1 : 0));
    h.Put(0, v1::nActiveDACChannel, rec.activeDac);
    h.Put(0, v1::nDigitalDACChannel, rec.activeDac);
    if (rec.activeDac >= 0 && size_t(rec.activeDac) < rec.dacs.size())
        for (uint32_t e = 0; e < uint32_t(v1::kEpochsPerDac); ++e)
            h.Put(0, v1::nDigitalValue, rec.dacs[size_t(rec.activeDac)].epochs[e].digitalValue, e);
}

// Texts and the settings an acquisition program leaves at their usual values.
void PutAbf1Settings(const RecordingSpec& rec, Bytes& h)
{
    h.Put(0, v1::nManualInfoStrategy, int16_t(1));
    h.Text(0, v1::sCreatorInfo, rec.creator);
    h.Text(0, v1::_sFileComment, rec.comment.substr(0, v1::_sFileComment.width));
    h.Put(0, v1::nCommentsEnable, int16_t(rec.comment.empty() ? 0 : 1));
    h.Put(0, v1::nLevelHysteresis, int16_t(64));
    h.Put(0, v1::lTimeHysteresis, 1);
    h.Put(0, v1::nAllowExternalTags, int16_t(AnyExternalTag(rec) ? 1 : 0));
    h.Put(0, v1::fAverageWeighting, 0.1f);
    h.Put(0, v1::nTrialTriggerSource, int16_t(-1));
    h.Put(0, v1::nExternalTagType, int16_t(2));
    h.Text(0, v1::sArithmeticOperator, "+");
    h.Put(0, v1::nDigitalTrainActiveLogic, int16_t(1));
    h.Put(0, v1::nAutoAnalyseEnable, int16_t(1));
    h.Text(0, v1::sProtocolPath, rec.protocolPath);
    h.Text(0, v1::sFileComment, rec.comment);
    PutGuid(h, v1::FileGUID.offset, rec.seed);
    h.Text(0, v1::sModifierInfo, "");
    h.Put(0, v1::nStatsSmoothing, int16_t(1));
    for (uint32_t r = 0; r < v1::nRiseBottomPercentile.count; ++r) {
        h.Put(0, v1::nRiseBottomPercentile, int16_t(10), r);
        h.Put(0, v1::nRiseTopPercentile, int16_t(90), r);
        h.Put(0, v1::nDecayBottomPercentile, int16_t(10), r);
        h.Put(0, v1::nDecayTopPercentile, int16_t(90), r);
    }
}

void PlanAbf1(const RecordingSpec& rec, Abf2Plan* plan)
{
    Bytes& h = plan->head;
    Layout& l = plan->layout;
    h.Grow(v1::kExtent);
    const int64_t mux = MuxSamples(rec);
    const uint32_t sampleBytes = rec.dataFormat == DataFormat::Float32 ? 4 : 2;

    plan->dataOffset = v1::kExtent;
    plan->tailOffset = v1::kExtent + Blocks(mux * sampleBytes) * kBlock;
    int64_t tagOffset, synchOffset;
    plan->tail = Tail(rec, &tagOffset, &synchOffset, plan->tailOffset);

    AddSection(&l, "Header", 0, v1::kExtent, 1);
    AddSection(&l, "Data", plan->dataOffset, sampleBytes, mux);
    if (tagOffset) AddSection(&l, "Tag", tagOffset, af::tag::kExtent, int64_t(rec.tags.size()));
    if (synchOffset)
        AddSection(&l, "SynchArray", synchOffset, af::synch_entry::kExtent, int64_t(SweepLengths(rec).size()));
    l.fileSize = plan->tailOffset + int64_t(plan->tail.b.size());
    l.muxSamples = mux;

    PutAbf1Counts(rec, *plan, tagOffset, synchOffset, h);
    PutAbf1Channels(rec, h);
    PutAbf1Dacs(rec, h);
    PutAbf1Settings(rec, h);
}

bool Plan(const RecordingSpec& rec, Abf2Plan* plan, std::string* error)
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

// 64-bit file positions in every build (the 32-bit Windows ones included).
bool SeekFromStart(FILE* f, int64_t at)
{
#if defined(_WIN32)
    return at >= 0 && _fseeki64(f, at, SEEK_SET) == 0;
#else
    return at >= 0 && fseeko(f, off_t(at), SEEK_SET) == 0;
#endif
}
int64_t Position(FILE* f)
{
#if defined(_WIN32)
    return _ftelli64(f);
#else
    return int64_t(ftello(f));
#endif
}

bool StreamData(const RecordingSpec& rec, FILE* f, std::string* error)
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
    if (rec.unwrittenSamples > 0) {
        // Past the unwritten samples without writing them; the file grows with the
        // first write after them (a hole where the file system has sparse files).
        const int64_t skip = rec.unwrittenSamples * int64_t(nch) * (rec.dataFormat == DataFormat::Float32 ? 4 : 2);
        if (std::fflush(f) != 0 || !SeekFromStart(f, Position(f) + skip))
            return Fail(error, "cannot seek in the data section");
        written += skip;
        remaining -= rec.unwrittenSamples;
    }
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
    static const uint8_t zeros[kBlock] = {};
    const int64_t pad = Blocks(written) * kBlock - written;
    if (!WriteAll(f, zeros, size_t(pad))) return Fail(error, "write error in the data section");
    return true;
}

bool ApplyDamage(const RecordingSpec& rec, const Layout& layout, const std::string& path, std::string* error)
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
            if (at < 0 || at + p.width > layout.fileSize || !SeekFromStart(f.get(), at) ||
                !WriteAll(f.get(), b, size_t(p.width)))
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

std::vector<int64_t> SweepLengths(const RecordingSpec& rec)
{
    if (rec.mode == Mode::GapFree) return {std::max<int64_t>(0, rec.samplesPerChannel)};
    if (!rec.episodeLengths.empty()) return std::vector<int64_t>(rec.episodeLengths.begin(), rec.episodeLengths.end());
    return std::vector<int64_t>(size_t(std::max(0, rec.episodes)), int64_t(std::max(0, rec.samplesPerEpisode)));
}

double SynchCountUs(const RecordingSpec& rec)
{
    if (rec.synchTimeUnit > 0) return rec.synchTimeUnit;
    return double(rec.sequenceIntervalUs) / double(std::max<size_t>(1, rec.channels.size()));
}

int32_t SecondsToCounts(const RecordingSpec& rec, double seconds)
{
    return int32_t(std::llround(seconds * 1e6 / SynchCountUs(rec)));
}

std::vector<int64_t> SweepStarts(const RecordingSpec& rec)
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

bool Validate(const RecordingSpec& rec, std::string* error)
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
        if (rec.unwrittenSamples < 0 || rec.unwrittenSamples > rec.samplesPerChannel)
            return Fail(error, "unwritten samples must be 0 to the sample count");
    } else {
        if (rec.unwrittenSamples != 0) return Fail(error, "only gap-free recordings leave samples unwritten");
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
    // ABF1 counts the samples in 32 bits, and so do the synch arrays of sweeps; an
    // ABF2 gap-free recording counts them in its data section's 64-bit entry count
    // (what a reader makes of more than 2^31 - 1 is the reader's business).
    const bool counted64 = rec.format == Format::Abf2 && rec.mode == Mode::GapFree;
    const int64_t most = counted64 ? int64_t(1) << 40 : std::numeric_limits<int32_t>::max();
    for (int64_t len : lengths) {
        total += len;
        if (total > most / int64_t(nch))
            return Fail(error, counted64 ? "more than 2^40 samples in all channels together"
                                         : "more than 2147483647 samples in all channels together");
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

bool PlanLayout(const RecordingSpec& rec, Layout* layout, std::string* error)
{
    Abf2Plan plan;
    if (!Plan(rec, &plan, error)) return false;
    *layout = plan.layout;
    return true;
}

bool WriteAbf(const RecordingSpec& rec, const std::string& path, std::string* error, Layout* layout)
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
