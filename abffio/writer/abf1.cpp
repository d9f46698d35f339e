// The ABF1 writer: the 6144-byte header of version 1.6 and later (written as
// 1.83 unless the description says otherwise), the data from the block after it,
// then tags and the synch array (placed by write.cpp's Tail).
#include <algorithm>

#include "internal.h"

namespace abfw {
namespace {

namespace af = abfformat;
namespace v1 = abfformat::abf1;

const EpochFields kAbf1EpochFields = {v1::nEpochType,         v1::fEpochInitLevel,   v1::fEpochLevelInc,
                                      v1::lEpochInitDuration, v1::lEpochDurationInc, v1::lEpochPulsePeriod,
                                      v1::lEpochPulseWidth};

// Counts, pointers, timing and the file's identity.
void PutAbf1Counts(const RecordingSpec& rec, const FilePlan& plan, int64_t tagOffset, int64_t synchOffset, Bytes& h)
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

}  // namespace

void PlanAbf1(const RecordingSpec& rec, FilePlan* plan)
{
    Bytes& h = plan->head;
    Layout& l = plan->layout;
    h.Grow(v1::kExtent);
    const int64_t mux = MuxSamples(rec);
    const uint32_t sampleBytes = SampleBytes(rec);

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

}  // namespace abfw
