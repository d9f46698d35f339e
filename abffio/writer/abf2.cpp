// The ABF2 writer: the file information with its section map, then the header
// sections in the order the acquisition programs write them, each from a block
// boundary: protocol, ADC, DAC, epoch tables, strings; then the data, tags and the
// synch array (placed by write.cpp's Tail).
#include <algorithm>

#include "internal.h"

namespace abfw {
namespace {

namespace af = abfformat;
namespace v2 = abfformat::abf2;

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

// Enters section `index` at byte `offset` in the ABF2 section map and in the layout.
void MapSection(FilePlan* plan, v2::Section index, const char* name, int64_t offset, uint32_t entryBytes, int64_t count)
{
    const size_t at = v2::SectionEntryOffset(index);
    plan->head.Put(at, v2::section::uBlockIndex, uint32_t(offset / kBlock));
    plan->head.Put(at, v2::section::uBytes, entryBytes);
    plan->head.Put(at, v2::section::llNumEntries, count);
    AddSection(&plan->layout, name, offset, entryBytes, count);
}

// Places a section of `count` entries at *pos (a block boundary) and moves *pos to the
// next block boundary after it.
int64_t PlaceSection(FilePlan* plan, int64_t* pos, v2::Section index, const char* name, uint32_t entryBytes,
                     int64_t count)
{
    const int64_t at = *pos;
    MapSection(plan, index, name, at, entryBytes, count);
    *pos += Blocks(count * entryBytes) * kBlock;
    return at;
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

const EpochFields kAbf2EpochFields = {v2::epoch_per_dac::nEpochType,        v2::epoch_per_dac::fEpochInitLevel,
                                      v2::epoch_per_dac::fEpochLevelInc,    v2::epoch_per_dac::lEpochInitDuration,
                                      v2::epoch_per_dac::lEpochDurationInc, v2::epoch_per_dac::lEpochPulsePeriod,
                                      v2::epoch_per_dac::lEpochPulseWidth};

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

}  // namespace

// Header sections in the order the acquisition programs write them, each from a
// block boundary: protocol, ADC, DAC, epoch tables, strings; then the data, tags and
// the synch array.
void PlanAbf2(const RecordingSpec& rec, FilePlan* plan)
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

    const uint32_t sampleBytes = SampleBytes(rec);
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

}  // namespace abfw
