// Decoding ABF1 and ABF2 headers into the library's record, and cutting the recording
// into the episodes that the readers hand out.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "internal.h"

namespace abffio {
namespace {

constexpr uint32_t kBlock = 512;
constexpr uint32_t kAbf1HeaderSize = 6144;
constexpr uint32_t kAbf1OldHeaderSize = 2048;
constexpr uint32_t kMaxChunk = 1032258;  // most samples per channel one chunk of a continuous file holds

template <class T>
T Get(const uint8_t* p, size_t off)
{
    T v;
    memcpy(&v, p + off, sizeof(T));
    return v;
}

// Copies a field (scalar or whole array) of the packed record from the file. Macros, not
// templates: references to packed members would be misaligned.
#define CP(dst, p, off) memcpy(&(dst), (p) + (off), sizeof(dst))
// Copies the first n elements of an array.
#define CPN(dst, p, off, n) \
    memcpy(&(dst), (p) + (off), sizeof((dst)[0]) * std::min<size_t>((n), sizeof(dst) / sizeof((dst)[0])))
// Copies a [dac][epoch] table of `dacs` x `epochs` from the file (row-major) into [8][50].
#define CPTABLE(dst, FileT, p, off, dacs, epochs)                                                    \
    for (int d_ = 0; d_ < (dacs); ++d_)                                                              \
        for (int e_ = 0; e_ < (epochs); ++e_) {                                                      \
            const auto v_ = static_cast<std::remove_reference_t<decltype((dst)[0][0])>>(             \
                Get<FileT>((p), (off) + (static_cast<size_t>(d_) * (epochs) + e_) * sizeof(FileT))); \
            memcpy(&(dst)[d_][e_], &v_, sizeof v_);                                                  \
        }

void SetText(char* dst, size_t width, const char* text)
{
    memset(dst, ' ', width);
    size_t n = strlen(text);
    if (n <= width) memcpy(dst, text, n);
}

uint32_t FixDate(int32_t date)
{
    // Two-digit years: below 80 in this century, otherwise the last one.
    int64_t y = date / 10000;
    if (y < 1000) y += (y < 80 ? 2000 : 1900);
    return static_cast<uint32_t>(y * 10000 + date % 10000);
}

// ---------------------------------------------------------------- ABF1

int DecodeAbf1(OpenFile& file)
{
    ABFLibraryHeader& h = file.rec;
    std::vector<uint8_t> buf(kAbf1HeaderSize, 0);
    const uint8_t* p = buf.data();
    float version = 0;
    if (!file.src->Read(4, &version, 4)) return ABF_EINVALIDFILE;
    if (!(version >= 1.0f && version < 2.0f)) return ABF_EINVALIDFILE;
    const bool old = version < 1.6f;
    const uint32_t headerSize = old ? kAbf1OldHeaderSize : kAbf1HeaderSize;
    if (!file.src->Read(0, buf.data(), headerSize)) return ABF_EINVALIDFILE;

    h.fFileVersionNumber = version;
    CP(h.nOperationMode, p, 8);
    CP(h.lActualAcqLength, p, 10);
    CP(h.nNumPointsIgnored, p, 14);
    CP(h.lActualEpisodes, p, 16);
    h.uFileStartDate = FixDate(Get<int32_t>(p, 20));
    h.uFileStartTimeMS =
        static_cast<uint32_t>(Get<int32_t>(p, 24)) * 1000u + static_cast<uint32_t>(Get<int16_t>(p, 366));
    CP(h.lStopwatchTime, p, 28);
    CP(h.lDataSectionPtr, p, 40);
    CP(h.lTagSectionPtr, p, 44);
    CP(h.lNumTagEntries, p, 48);
    CP(h.lScopeConfigPtr, p, 52);
    CP(h.lNumScopes, p, 56);
    CP(h.lDeltaArrayPtr, p, 72);
    CP(h.lNumDeltas, p, 76);
    CP(h.lVoiceTagPtr, p, 80);
    CP(h.lVoiceTagEntries, p, 84);
    CP(h.lSynchArrayPtr, p, 92);
    CP(h.lSynchArraySize, p, 96);
    if (h.lSynchArrayPtr <= 0 || h.lSynchArraySize <= 0) h.lSynchArrayPtr = h.lSynchArraySize = 0;
    CP(h.nDataFormat, p, 100);
    CP(h.nSimultaneousScan, p, 102);
    CP(h.lStatisticsConfigPtr, p, 104);
    CP(h.lAnnotationSectionPtr, p, 108);
    CP(h.lNumAnnotations, p, 112);
    CP(h.nADCNumChannels, p, 120);
    const float sampleInterval = Get<float>(p, 122);
    h.fADCSequenceInterval = sampleInterval * static_cast<float>(h.nADCNumChannels);
    CP(h.fSynchTimeUnit, p, 130);
    CP(h.fSecondsPerRun, p, 134);
    CP(h.lNumSamplesPerEpisode, p, 138);
    CP(h.lPreTriggerSamples, p, 142);
    CP(h.lEpisodesPerRun, p, 146);
    CP(h.lRunsPerTrial, p, 150);
    CP(h.lNumberOfTrials, p, 154);
    CP(h.nAveragingMode, p, 158);
    CP(h.nUndoRunCount, p, 160);
    CP(h.nFirstEpisodeInRun, p, 162);
    CP(h.fTriggerThreshold, p, 164);
    h.nTriggerSource = -3;  // the library reports every ABF1 trigger source as -3
    CP(h.nTriggerAction, p, 170);
    CP(h.nTriggerPolarity, p, 172);
    CP(h.fScopeOutputInterval, p, 174);
    CP(h.fEpisodeStartToStart, p, 178);
    CP(h.fRunStartToStart, p, 182);
    CP(h.fTrialStartToStart, p, 186);
    CP(h.lAverageCount, p, 190);
    CP(h.nAutoTriggerStrategy, p, 198);
    CP(h.nChannelStatsStrategy, p, 212);
    CP(h.lSamplesPerTrace, p, 218);
    CP(h.lStartDisplayNum, p, 222);
    CP(h.lFinishDisplayNum, p, 226);
    CP(h.nShowPNRawData, p, 232);
    CP(h.fStatisticsPeriod, p, 234);
    CP(h.lStatisticsMeasurements, p, 238);
    CP(h.nStatisticsSaveStrategy, p, 242);
    CP(h.fADCRange, p, 244);
    CP(h.fDACRange, p, 248);
    if (h.fADCRange <= 1e-10f) h.fADCRange = 10.0f;
    if (h.fDACRange <= 1e-10f) h.fDACRange = 10.0f;
    CP(h.lADCResolution, p, 252);
    CP(h.lDACResolution, p, 256);
    CP(h.nExperimentType, p, 260);
    CP(h.nManualInfoStrategy, p, 280);
    CP(h.fCellID1, p, 282);
    CP(h.fCellID2, p, 286);
    CP(h.fCellID3, p, 290);
    CP(h.sCreatorInfo, p, 294);
    CP(h.nCommentsEnable, p, 368);
    CP(h.nADCPtoLChannelMap, p, 378);
    CP(h.nADCSamplingSeq, p, 410);
    CP(h.sADCChannelName, p, 442);
    CP(h.sADCUnits, p, 602);
    CP(h.fADCProgrammableGain, p, 730);
    CP(h.fADCDisplayAmplification, p, 794);
    CP(h.fADCDisplayOffset, p, 858);
    CP(h.fInstrumentScaleFactor, p, 922);
    CP(h.fInstrumentOffset, p, 986);
    CP(h.fSignalGain, p, 1050);
    CP(h.fSignalOffset, p, 1114);
    CP(h.fSignalLowpassFilter, p, 1178);
    CP(h.fSignalHighpassFilter, p, 1242);
    memcpy(h.sDACChannelName, p + 1306, 4 * 10);
    memcpy(h.sDACChannelUnits, p + 1346, 4 * 8);
    CPN(h.fDACScaleFactor, p, 1378, 4);
    CPN(h.fDACHoldingLevel, p, 1394, 4);
    CP(h.nSignalType, p, 1410);
    CP(h.nDigitalEnable, p, 1436);
    CP(h.nActiveDACChannel, p, 1440);
    CP(h.nDigitalHolding, p, 1584);
    CP(h.nDigitalInterEpisode, p, 1586);
    CPN(h.nDigitalValue, p, 1588, 10);
    CP(h.nDigitalDACChannel, p, 1612);
    CP(h.nArithmeticEnable, p, 1880);
    CP(h.fArithmeticUpperLimit, p, 1882);
    CP(h.fArithmeticLowerLimit, p, 1886);
    CP(h.nArithmeticADCNumA, p, 1890);
    CP(h.nArithmeticADCNumB, p, 1892);
    CP(h.fArithmeticK1, p, 1894);
    CP(h.fArithmeticK2, p, 1898);
    CP(h.fArithmeticK3, p, 1902);
    CP(h.fArithmeticK4, p, 1906);
    CP(h.sArithmeticOperator, p, 1910);
    CP(h.sArithmeticUnits, p, 1912);
    CP(h.fArithmeticK5, p, 1920);
    CP(h.fArithmeticK6, p, 1924);
    CP(h.nArithmeticExpression, p, 1928);
    CP(h.nPNPosition, p, 1934);
    CP(h.nPNNumPulses, p, 1938);
    CP(h.fPNSettlingTime, p, 1946);
    CP(h.fPNInterpulse, p, 1950);
    CP(h.nLevelHysteresis, p, 1980);
    CP(h.lTimeHysteresis, p, 1982);
    CP(h.nAllowExternalTags, p, 1986);
    CP(h.nLowpassFilterType, p, 1988);
    CP(h.nHighpassFilterType, p, 2004);
    CP(h.nAverageAlgorithm, p, 2020);
    CP(h.fAverageWeighting, p, 2022);
    CP(h.nUndoPromptStrategy, p, 2026);
    CP(h.nTrialTriggerSource, p, 2028);
    CP(h.nStatisticsDisplayStrategy, p, 2030);
    CP(h.nExternalTagType, p, 2032);
    CP(h.nStatisticsClearStrategy, p, 2046);
    h.lHeaderSize = static_cast<int32_t>(kAbf1HeaderSize);
    h.fLegacyADCSequenceInterval = 0;

    if (version < 1.835f) {
        // Digitizer of the older acquisition programs.
        h.nDigitizerADCs = 16;
        h.nDigitizerDACs = 2;
        h.nDigitizerTotalDigitalOuts = 8;
        h.nDigitizerSynchDigitalOuts = 4;
        h.nDigitizerType = 1;
    }
    if (version < 1.7f) {
        h.nStatsActiveChannels = 1;
        h.nStatsSearchRegionFlags = 1;
    }
    if (version < 1.71f) {
        SetText(h.sEpochResistanceSignalName[0], 10, "IN 0");
        SetText(h.sEpochResistanceSignalName[1], 10, "IN 1");
    }
    if (version < 1.73f)
        for (int i = 0; i < 16; ++i) h.fPostProcessLowpassFilter[i] = 100000.0f;

    if (!old) {
        CPN(h.lDACFilePtr, p, 2048, 2);
        CPN(h.lDACFileNumEpisodes, p, 2056, 2);
        CP(h.fFirstRunDelayS, p, 2064);
        CPN(h.fDACCalibrationFactor, p, 2074, 4);
        CPN(h.fDACCalibrationOffset, p, 2090, 4);
        CPTABLE(h.lEpochPulsePeriod, int32_t, p, 2136, 2, 10);
        CPTABLE(h.lEpochPulseWidth, int32_t, p, 2216, 2, 10);
        CPN(h.nWaveformEnable, p, 2296, 2);
        CPN(h.nWaveformSource, p, 2300, 2);
        CPN(h.nInterEpisodeLevel, p, 2304, 2);
        CPTABLE(h.nEpochType, int16_t, p, 2308, 2, 10);
        CPTABLE(h.fEpochInitLevel, float, p, 2348, 2, 10);
        CPTABLE(h.fEpochLevelInc, float, p, 2428, 2, 10);
        CPTABLE(h.lEpochInitDuration, int32_t, p, 2508, 2, 10);
        CPTABLE(h.lEpochDurationInc, int32_t, p, 2588, 2, 10);
        CPN(h.nDigitalTrainValue, p, 2668, 10);
        CP(h.nDigitalTrainActiveLogic, p, 2688);
        CPN(h.fDACFileScale, p, 2708, 2);
        CPN(h.fDACFileOffset, p, 2716, 2);
        CPN(h.lDACFileEpisodeNum, p, 2724, 2);
        CPN(h.nDACFileADCNum, p, 2732, 2);
        memcpy(h.sDACFilePath, p + 2736, 2 * 256);
        CPN(h.nConditEnable, p, 3260, 2);
        CPN(h.lConditNumPulses, p, 3264, 2);
        CPN(h.fBaselineDuration, p, 3272, 2);
        CPN(h.fBaselineLevel, p, 3280, 2);
        CPN(h.fStepDuration, p, 3288, 2);
        CPN(h.fStepLevel, p, 3296, 2);
        CPN(h.fPostTrainPeriod, p, 3304, 2);
        CPN(h.fPostTrainLevel, p, 3312, 2);
        CPN(h.nULEnable, p, 3360, 4);
        CPN(h.nULParamToVary, p, 3368, 4);
        memcpy(h.sULParamValueList, p + 3376, 4 * 256);
        CPN(h.nULRepeat, p, 4400, 4);
        for (int d = 0; d < 2; ++d) {
            h.nLeakSubtractType[d] = Get<int16_t>(p, 4456 + 2 * d);
            h.fPNHoldingLevel[d] = Get<float>(p, 4468 + 4 * d);
        }
        CP(h.nTelegraphEnable, p, 4512);
        CP(h.nTelegraphInstrument, p, 4544);
        CP(h.fTelegraphAdditGain, p, 4576);
        CP(h.fTelegraphFilter, p, 4640);
        CP(h.fTelegraphMembraneCap, p, 4704);
        CP(h.nTelegraphMode, p, 4768);
        CPN(h.nTelegraphDACScaleFactorEnable, p, 4800, 4);
        CP(h.nAutoAnalyseEnable, p, 4832);
        CP(h.sProtocolPath, p, 4898);
        CP(h.sFileComment, p, 5154);
        CP(h.FileGUID, p, 5282);
        CPN(h.fInstrumentHoldingLevel, p, 5298, 4);
        CP(h.ulFileCRC, p, 5314);
        CP(h.sModifierInfo, p, 5318);
        CP(h.nStatsEnable, p, 5410);
        CP(h.nStatsActiveChannels, p, 5412);
        CP(h.nStatsSearchRegionFlags, p, 5414);
        CP(h.nStatsSmoothing, p, 5420);
        CP(h.nStatsSmoothingEnable, p, 5422);
        CP(h.nStatsBaseline, p, 5424);
        CP(h.lStatsBaselineStart, p, 5426);
        CP(h.lStatsBaselineEnd, p, 5430);
        CP(h.lStatsMeasurements, p, 5434);
        CP(h.lStatsStart, p, 5466);
        CP(h.lStatsEnd, p, 5498);
        CP(h.nRiseBottomPercentile, p, 5530);
        CP(h.nRiseTopPercentile, p, 5546);
        CP(h.nDecayBottomPercentile, p, 5562);
        CP(h.nDecayTopPercentile, p, 5578);
        CP(h.nStatsChannelPolarity, p, 5594);
        CP(h.nStatsSearchMode, p, 5626);
        CP(h.nCreatorMajorVersion, p, 5798);
        CP(h.nCreatorMinorVersion, p, 5800);
        CP(h.nCreatorBugfixVersion, p, 5802);
        CP(h.nCreatorBuildVersion, p, 5804);
        CP(h.nModifierMajorVersion, p, 5806);
        CP(h.nModifierMinorVersion, p, 5808);
        CP(h.nModifierBugfixVersion, p, 5810);
        CP(h.nModifierBuildVersion, p, 5812);
        CP(h.nLTPType, p, 5814);
        CPN(h.nLTPUsageOfDAC, p, 5816, 2);
        CPN(h.nLTPPresynapticPulses, p, 5820, 2);
        CP(h.nScopeTriggerOut, p, 5828);
        memcpy(h.sEpochResistanceSignalName, p + 5836, 2 * 10);
        CPN(h.nEpochResistanceState, p, 5856, 2);
        CP(h.nAlternateDACOutputState, p, 5876);
        CPN(h.nAlternateDigitalValue, p, 5878, 10);
        CPN(h.nAlternateDigitalTrainValue, p, 5898, 10);
        CP(h.nAlternateDigitalOutputState, p, 5918);
        CP(h.fPostProcessLowpassFilter, p, 5934);
        CP(h.nPostProcessLowpassFilterType, p, 5998);
    } else {
        // Single-DAC fields of the old header go to the active DAC.
        int d = h.nActiveDACChannel;
        if (d < 0 || d > 1) d = 0;
        const int16_t source = Get<int16_t>(p, 1438);
        h.nWaveformSource[d] = source;
        h.nWaveformEnable[d] = source != 0;
        h.nInterEpisodeLevel[d] = Get<int16_t>(p, 1442);
        for (int e = 0; e < 10; ++e) {
            h.nEpochType[d][e] = Get<int16_t>(p, 1444 + 2 * e);
            h.fEpochInitLevel[d][e] = Get<float>(p, 1464 + 4 * e);
            h.fEpochLevelInc[d][e] = Get<float>(p, 1504 + 4 * e);
            h.lEpochInitDuration[d][e] = Get<int16_t>(p, 1544 + 2 * e);
            h.lEpochDurationInc[d][e] = Get<int16_t>(p, 1564 + 2 * e);
        }
        h.fDACFileScale[d] = Get<float>(p, 1620);
        h.fDACFileOffset[d] = Get<float>(p, 1624);
        h.lDACFileEpisodeNum[d] = Get<int16_t>(p, 1630);
        h.nDACFileADCNum[d] = Get<int16_t>(p, 1632);
        memcpy(h.sDACFilePath[d], p + 1634, 84);
        h.lDACFilePtr[d] = Get<int32_t>(p, 60);
        h.lDACFileNumEpisodes[d] = Get<int32_t>(p, 64);
        if (Get<int16_t>(p, 1720) == d) {
            h.nConditEnable[d] = Get<int16_t>(p, 1718);
            h.lConditNumPulses[d] = Get<int32_t>(p, 1722);
            h.fBaselineDuration[d] = Get<float>(p, 1726);
            h.fBaselineLevel[d] = Get<float>(p, 1730);
            h.fStepDuration[d] = Get<float>(p, 1734);
            h.fStepLevel[d] = Get<float>(p, 1738);
            h.fPostTrainLevel[d] = Get<float>(p, 1746);
        }
        h.nULEnable[d] = Get<int16_t>(p, 1966);
        h.nULParamToVary[d] = Get<int16_t>(p, 1762);
        memset(h.sULParamValueList[d], ' ', 256);
        memcpy(h.sULParamValueList[d], p + 1764, 80);
        h.nLeakSubtractType[d] = Get<int16_t>(p, 1932);
        h.fPNHoldingLevel[d] = Get<float>(p, 1942);
        const int16_t tch = Get<int16_t>(p, 264);
        if (tch >= 0 && tch < 16) {
            h.nTelegraphEnable[tch] = Get<int16_t>(p, 262);
            h.nTelegraphInstrument[tch] = Get<int16_t>(p, 266);
            h.fTelegraphAdditGain[tch] = Get<float>(p, 268);
            h.fTelegraphFilter[tch] = Get<float>(p, 272);
            h.fTelegraphMembraneCap[tch] = Get<float>(p, 276);
        }
        memset(h.sFileComment, ' ', sizeof(h.sFileComment));
        memcpy(h.sFileComment, p + 310, 56);
        for (int i = 0; i < 4; ++i) {
            h.fDACCalibrationFactor[i] = 1.0f;
            h.fDACCalibrationOffset[i] = 1.0f;  // sic: the library's defaults for these files
        }
        h.nCommentsEnable = h.nManualInfoStrategy != 0;
        h.nAutoAnalyseEnable = 1;
    }

    // Fix-ups the library applies to every ABF1 header.
    for (int d = 0; d < 2; ++d) {
        if (h.nWaveformEnable[d] == 0 && h.nWaveformSource[d] == 0) h.nWaveformSource[d] = 1;
        if (h.lDACFileEpisodeNum[d] == -1) h.lDACFileEpisodeNum[d] = 0;
    }
    if (h.fAverageWeighting < 0.001f) h.fAverageWeighting = 0.1f;
    if (h.nTrialTriggerSource != -2 && h.nTrialTriggerSource != -3) h.nTrialTriggerSource = -1;
    if (h.nLevelHysteresis == 0 && h.lTimeHysteresis == 0) {
        h.nLevelHysteresis = 64;
        h.lTimeHysteresis = 1;
    }
    const char op = h.sArithmeticOperator[0];
    if (op != '+' && op != '-' && op != '*' && op != '/') memcpy(h.sArithmeticOperator, "+ ", 2);
    if (h.nArithmeticExpression > 1) h.nArithmeticExpression = 0;
    if (h.nStatsSmoothing < 1) h.nStatsSmoothing = 1;
    h.nFileType = 1;
    // The texts the file covers are blank-padded.
    auto blank = [](char* text, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (text[i] == 0) text[i] = ' ';
    };
    blank(h.sProtocolPath, sizeof h.sProtocolPath);
    blank(h.sCreatorInfo, sizeof h.sCreatorInfo);
    blank(h.sModifierInfo, sizeof h.sModifierInfo);
    blank(h.sFileComment, sizeof h.sFileComment);
    blank(&h.sADCChannelName[0][0], sizeof h.sADCChannelName);
    blank(&h.sADCUnits[0][0], sizeof h.sADCUnits);
    blank(&h.sDACChannelName[0][0], 4 * 10);
    blank(&h.sDACChannelUnits[0][0], 4 * 8);
    blank(&h.sDACFilePath[0][0], 2 * 256);
    blank(&h.sULParamValueList[0][0], 4 * 256);
    blank(h.sArithmeticUnits, sizeof h.sArithmeticUnits);
    blank(&h.sEpochResistanceSignalName[0][0], 2 * 10);

    file.dataOffset = static_cast<uint64_t>(static_cast<uint32_t>(h.lDataSectionPtr)) * kBlock;
    return 0;
}

// ---------------------------------------------------------------- ABF2

constexpr int kStringsSection = 9;

// Bytes a section of the ABF2 section map takes in the file: `count` entries of
// `bytes` bytes each, except the strings section, whose byte count is the whole
// section (its count is the number of strings in it).
uint64_t SectionExtent(int index, uint64_t bytes, int64_t count)
{
    return index == kStringsSection ? bytes : bytes * static_cast<uint64_t>(count);
}

struct Section {
    uint32_t block = 0;
    uint32_t bytes = 0;
    int64_t count = 0;
};

class Abf2Reader {
public:
    explicit Abf2Reader(OpenFile& f) : file_(f) {}
    int Decode();

private:
    bool LoadSection(int index, std::vector<uint8_t>& out, uint32_t minBytes);
    const char* String(int64_t index) const
    {
        if (index < 1 || static_cast<uint64_t>(index) > strings_.size()) return "";
        return strings_[static_cast<size_t>(index - 1)].c_str();
    }
    void Text(char* dst, size_t width, int64_t index) { SetText(dst, width, String(index)); }

    OpenFile& file_;
    Section map_[20];
    std::vector<std::string> strings_;
};

bool Abf2Reader::LoadSection(int index, std::vector<uint8_t>& out, uint32_t minBytes)
{
    const Section& s = map_[index];
    out.clear();
    if (s.block == 0 || s.count <= 0) return true;
    if (s.bytes < minBytes) return false;
    const uint64_t total = SectionExtent(index, s.bytes, s.count);
    const uint64_t off = static_cast<uint64_t>(s.block) * kBlock;
    if (s.count > static_cast<int64_t>(file_.src->Size()) || total > file_.src->Size()) return false;
    out.resize(static_cast<size_t>(total));
    return file_.src->Read(off, out.data(), total);
}

int Abf2Reader::Decode()
{
    ABFLibraryHeader& h = file_.rec;
    uint8_t info[512];
    if (!file_.src->Read(0, info, sizeof info)) return ABF_EINVALIDFILE;
    const uint8_t* p = info;
    if (p[7] != 2) return ABF_EINVALIDFILE;
    for (int i = 0; i < 20; ++i) {
        if (i >= 18 && p[7] == 2 && p[6] < 9) break;
        map_[i].block = Get<uint32_t>(p, 76 + 16 * i);
        map_[i].bytes = Get<uint32_t>(p, 80 + 16 * i);
        map_[i].count = Get<int64_t>(p, 84 + 16 * i);
    }
    h.fFileVersionNumber = static_cast<float>(p[7]) + static_cast<float>(p[6]) / 100.0f;
    h.lActualEpisodes = Get<int32_t>(p, 12);
    CP(h.uFileStartDate, p, 16);
    CP(h.uFileStartTimeMS, p, 20);
    CP(h.lStopwatchTime, p, 24);
    CP(h.nFileType, p, 28);
    CP(h.nDataFormat, p, 30);
    CP(h.nSimultaneousScan, p, 32);
    CP(h.nCRCEnable, p, 34);
    CP(h.ulFileCRC, p, 36);
    CP(h.FileGUID, p, 40);
    h.nCreatorMajorVersion = p[59];
    h.nCreatorMinorVersion = p[58];
    h.nCreatorBugfixVersion = p[57];
    h.nCreatorBuildVersion = p[56];
    h.nModifierMajorVersion = p[67];
    h.nModifierMinorVersion = p[66];
    h.nModifierBugfixVersion = p[65];
    h.nModifierBuildVersion = p[64];

    // Strings first: many sections refer to them.
    std::vector<uint8_t> sec;
    if (!LoadSection(kStringsSection, sec, 1)) return ABF_EINVALIDFILE;
    if (sec.size() >= 44 && memcmp(sec.data(), "SSCH", 4) == 0) {
        const uint32_t n = Get<uint32_t>(sec.data(), 8);
        size_t pos = 44;
        for (uint32_t i = 0; i < n && pos < sec.size(); ++i) {
            const uint8_t* s = sec.data() + pos;
            const void* end = memchr(s, 0, sec.size() - pos);
            size_t len = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - s) : sec.size() - pos;
            strings_.emplace_back(reinterpret_cast<const char*>(s), len);
            pos += len + 1;
        }
    }
    Text(h.sCreatorInfo, 16, Get<uint32_t>(p, 60));
    Text(h.sModifierInfo, 16, Get<uint32_t>(p, 68));
    Text(h.sProtocolPath, 256, Get<uint32_t>(p, 72));

    // Protocol
    if (!LoadSection(0, sec, 512) || sec.empty()) return ABF_EINVALIDFILE;
    const uint8_t* q = sec.data();
    CP(h.nOperationMode, q, 0);
    CP(h.fADCSequenceInterval, q, 2);
    CP(h.bEnableFileCompression, q, 6);
    h.uFileCompressionRatio = std::max<uint32_t>(Get<uint32_t>(q, 10), 1);
    CP(h.fSynchTimeUnit, q, 14);
    CP(h.fSecondsPerRun, q, 18);
    CP(h.lNumSamplesPerEpisode, q, 22);
    CP(h.lPreTriggerSamples, q, 26);
    CP(h.lEpisodesPerRun, q, 30);
    CP(h.lRunsPerTrial, q, 34);
    CP(h.lNumberOfTrials, q, 38);
    CP(h.nAveragingMode, q, 42);
    CP(h.nUndoRunCount, q, 44);
    CP(h.nFirstEpisodeInRun, q, 46);
    CP(h.fTriggerThreshold, q, 48);
    CP(h.nTriggerSource, q, 52);
    CP(h.nTriggerAction, q, 54);
    CP(h.nTriggerPolarity, q, 56);
    CP(h.fScopeOutputInterval, q, 58);
    CP(h.fEpisodeStartToStart, q, 62);
    CP(h.fRunStartToStart, q, 66);
    CP(h.lAverageCount, q, 70);
    CP(h.fTrialStartToStart, q, 74);
    CP(h.nAutoTriggerStrategy, q, 78);
    CP(h.fFirstRunDelayS, q, 80);
    CP(h.nChannelStatsStrategy, q, 84);
    CP(h.lSamplesPerTrace, q, 86);
    CP(h.lStartDisplayNum, q, 90);
    CP(h.lFinishDisplayNum, q, 94);
    CP(h.nShowPNRawData, q, 98);
    CP(h.fStatisticsPeriod, q, 100);
    CP(h.lStatisticsMeasurements, q, 104);
    CP(h.nStatisticsSaveStrategy, q, 108);
    CP(h.fADCRange, q, 110);
    CP(h.fDACRange, q, 114);
    CP(h.lADCResolution, q, 118);
    CP(h.lDACResolution, q, 122);
    CP(h.nExperimentType, q, 126);
    CP(h.nManualInfoStrategy, q, 128);
    CP(h.nCommentsEnable, q, 130);
    Text(h.sFileComment, 128, Get<int32_t>(q, 132));
    CP(h.nAutoAnalyseEnable, q, 136);
    CP(h.nSignalType, q, 138);
    CP(h.nDigitalEnable, q, 140);
    CP(h.nActiveDACChannel, q, 142);
    CP(h.nDigitalHolding, q, 144);
    CP(h.nDigitalInterEpisode, q, 146);
    CP(h.nDigitalDACChannel, q, 148);
    CP(h.nDigitalTrainActiveLogic, q, 150);
    CP(h.nStatsEnable, q, 152);
    CP(h.nStatisticsClearStrategy, q, 154);
    CP(h.nLevelHysteresis, q, 156);
    CP(h.lTimeHysteresis, q, 158);
    CP(h.nAllowExternalTags, q, 162);
    CP(h.nAverageAlgorithm, q, 164);
    CP(h.fAverageWeighting, q, 166);
    CP(h.nUndoPromptStrategy, q, 170);
    CP(h.nTrialTriggerSource, q, 172);
    CP(h.nStatisticsDisplayStrategy, q, 174);
    CP(h.nExternalTagType, q, 176);
    CP(h.nScopeTriggerOut, q, 178);
    CP(h.nLTPType, q, 180);
    CP(h.nAlternateDACOutputState, q, 182);
    CP(h.nAlternateDigitalOutputState, q, 184);
    CP(h.fCellID1, q, 186);
    CP(h.fCellID2, q, 190);
    CP(h.fCellID3, q, 194);
    CP(h.nDigitizerADCs, q, 198);
    CP(h.nDigitizerDACs, q, 200);
    CP(h.nDigitizerTotalDigitalOuts, q, 202);
    CP(h.nDigitizerSynchDigitalOuts, q, 204);
    CP(h.nDigitizerType, q, 206);
    CP(h.nTriggerTimeout, q, 208);

    // ADC entries: one per sampled channel, in sampling order.
    if (!LoadSection(1, sec, 84)) return ABF_EINVALIDFILE;
    const uint32_t adcBytes = map_[1].bytes;
    const size_t nAdc = adcBytes ? sec.size() / adcBytes : 0;
    if (nAdc > 16) return ABF_EINVALIDFILE;
    h.nADCNumChannels = static_cast<int16_t>(nAdc);
    for (size_t i = 0; i < nAdc; ++i) {
        const uint8_t* a = sec.data() + i * adcBytes;
        const int16_t ch = Get<int16_t>(a, 0);
        if (ch < 0 || ch >= 16) return ABF_EINVALIDFILE;
        h.nADCSamplingSeq[i] = ch;
        CP(h.nTelegraphEnable[ch], a, 2);
        CP(h.nTelegraphInstrument[ch], a, 4);
        CP(h.fTelegraphAdditGain[ch], a, 6);
        CP(h.fTelegraphFilter[ch], a, 10);
        CP(h.fTelegraphMembraneCap[ch], a, 14);
        CP(h.nTelegraphMode[ch], a, 18);
        CP(h.fTelegraphAccessResistance[ch], a, 20);
        CP(h.nADCPtoLChannelMap[ch], a, 24);
        CP(h.fADCProgrammableGain[ch], a, 28);
        CP(h.fADCDisplayAmplification[ch], a, 32);
        CP(h.fADCDisplayOffset[ch], a, 36);
        CP(h.fInstrumentScaleFactor[ch], a, 40);
        CP(h.fInstrumentOffset[ch], a, 44);
        CP(h.fSignalGain[ch], a, 48);
        CP(h.fSignalOffset[ch], a, 52);
        CP(h.fSignalLowpassFilter[ch], a, 56);
        CP(h.fSignalHighpassFilter[ch], a, 60);
        CP(h.nLowpassFilterType[ch], a, 64);
        CP(h.nHighpassFilterType[ch], a, 65);
        CP(h.fPostProcessLowpassFilter[ch], a, 66);
        CP(h.nPostProcessLowpassFilterType[ch], a, 70);
        CP(h.nStatsChannelPolarity[ch], a, 72);
        Text(h.sADCChannelName[ch], 10, Get<int32_t>(a, 74));
        Text(h.sADCUnits[ch], 8, Get<int32_t>(a, 78));
        if (adcBytes > 82) h.bHumFilterEnable[ch] = a[82];
    }

    // DAC entries.
    if (!LoadSection(2, sec, 134)) return ABF_EINVALIDFILE;
    const uint32_t dacBytes = map_[2].bytes;
    const size_t nDac = dacBytes ? sec.size() / dacBytes : 0;
    for (size_t i = 0; i < nDac; ++i) {
        const uint8_t* a = sec.data() + i * dacBytes;
        const int16_t d = Get<int16_t>(a, 0);
        if (d < 0 || d >= 8) continue;
        CP(h.nTelegraphDACScaleFactorEnable[d], a, 2);
        CP(h.fInstrumentHoldingLevel[d], a, 4);
        CP(h.fDACScaleFactor[d], a, 8);
        CP(h.fDACHoldingLevel[d], a, 12);
        CP(h.fDACCalibrationFactor[d], a, 16);
        CP(h.fDACCalibrationOffset[d], a, 20);
        Text(h.sDACChannelName[d], 10, Get<int32_t>(a, 24));
        Text(h.sDACChannelUnits[d], 8, Get<int32_t>(a, 28));
        CP(h.lDACFilePtr[d], a, 32);
        CP(h.lDACFileNumEpisodes[d], a, 36);
        CP(h.nWaveformEnable[d], a, 40);
        CP(h.nWaveformSource[d], a, 42);
        CP(h.nInterEpisodeLevel[d], a, 44);
        CP(h.fDACFileScale[d], a, 46);
        CP(h.fDACFileOffset[d], a, 50);
        CP(h.lDACFileEpisodeNum[d], a, 54);
        CP(h.nDACFileADCNum[d], a, 58);
        CP(h.nConditEnable[d], a, 60);
        CP(h.lConditNumPulses[d], a, 62);
        CP(h.fBaselineDuration[d], a, 66);
        CP(h.fBaselineLevel[d], a, 70);
        CP(h.fStepDuration[d], a, 74);
        CP(h.fStepLevel[d], a, 78);
        CP(h.fPostTrainPeriod[d], a, 82);
        CP(h.fPostTrainLevel[d], a, 86);
        CP(h.nMembTestEnable[d], a, 90);
        CP(h.nLeakSubtractType[d], a, 92);
        CP(h.nPNPolarity, a, 94);
        CP(h.fPNHoldingLevel[d], a, 96);
        CP(h.nPNPosition, a, 102);
        CP(h.nPNNumPulses, a, 104);
        CP(h.fPNSettlingTime, a, 106);
        CP(h.fPNInterpulse, a, 110);
        CP(h.nLTPUsageOfDAC[d], a, 114);
        CP(h.nLTPPresynapticPulses[d], a, 116);
        Text(h.sDACFilePath[d], 256, Get<int32_t>(a, 118));
        CP(h.fMembTestPreSettlingTimeMS[d], a, 122);
        CP(h.fMembTestPostSettlingTimeMS[d], a, 126);
        CP(h.nLeakSubtractADCIndex[d], a, 130);
        Text(h.sEpochResistanceSignalName[d], 10, dacBytes >= 138 ? Get<int32_t>(a, 134) : 0);
    }

    // Analog epoch table.
    if (!LoadSection(5, sec, 30)) return ABF_EINVALIDFILE;
    for (size_t off = 0; map_[5].bytes && off + map_[5].bytes <= sec.size(); off += map_[5].bytes) {
        const uint8_t* a = sec.data() + off;
        const int16_t e = Get<int16_t>(a, 0);
        const int16_t d = Get<int16_t>(a, 2);
        if (e < 0 || e >= 50 || d < 0 || d >= 8) continue;
        CP(h.nEpochType[d][e], a, 4);
        CP(h.fEpochInitLevel[d][e], a, 6);
        CP(h.fEpochLevelInc[d][e], a, 10);
        CP(h.lEpochInitDuration[d][e], a, 14);
        CP(h.lEpochDurationInc[d][e], a, 18);
        CP(h.lEpochPulsePeriod[d][e], a, 22);
        CP(h.lEpochPulseWidth[d][e], a, 26);
    }

    // Digital outputs per epoch.
    if (!LoadSection(3, sec, 11)) return ABF_EINVALIDFILE;
    for (size_t off = 0; map_[3].bytes && off + map_[3].bytes <= sec.size(); off += map_[3].bytes) {
        const uint8_t* a = sec.data() + off;
        const int16_t e = Get<int16_t>(a, 0);
        if (e < 0 || e >= 50) continue;
        CP(h.nDigitalValue[e], a, 2);
        CP(h.nDigitalTrainValue[e], a, 4);
        CP(h.nAlternateDigitalValue[e], a, 6);
        CP(h.nAlternateDigitalTrainValue[e], a, 8);
        CP(h.bEpochCompression[e], a, 10);
    }

    // User lists.
    if (!LoadSection(6, sec, 12)) return ABF_EINVALIDFILE;
    for (size_t off = 0; map_[6].bytes && off + map_[6].bytes <= sec.size(); off += map_[6].bytes) {
        const uint8_t* a = sec.data() + off;
        const int16_t u = Get<int16_t>(a, 0);
        if (u < 0 || u >= 8) continue;
        h.nULEnable[u] = 1;
        CP(h.nULParamToVary[u], a, 4);
        CP(h.nULRepeat[u], a, 6);
        Text(h.sULParamValueList[u], 256, Get<int32_t>(a, 8));
    }

    // Statistics regions.
    if (!LoadSection(7, sec, 50)) return ABF_EINVALIDFILE;
    for (size_t off = 0; map_[7].bytes && off + map_[7].bytes <= sec.size(); off += map_[7].bytes) {
        const uint8_t* a = sec.data() + off;
        const int16_t r = Get<int16_t>(a, 0);
        if (r < 0 || r >= 24) continue;
        CP(h.nStatsActiveChannels, a, 4);
        CP(h.nStatsSearchRegionFlags, a, 6);
        CP(h.nStatsSmoothing, a, 10);
        CP(h.nStatsSmoothingEnable, a, 12);
        int16_t baseline = Get<int16_t>(a, 14);
        h.nStatsBaseline = baseline;
        CP(h.lStatsBaselineStart, a, 16);
        CP(h.lStatsBaselineEnd, a, 20);
        CP(h.lStatsMeasurements[r], a, 24);
        CP(h.lStatsStart[r], a, 28);
        CP(h.lStatsEnd[r], a, 32);
        CP(h.nRiseBottomPercentile[r], a, 36);
        CP(h.nRiseTopPercentile[r], a, 38);
        CP(h.nDecayBottomPercentile[r], a, 40);
        CP(h.nDecayTopPercentile[r], a, 42);
        CP(h.nStatsSearchMode[r], a, 44);
        CP(h.nStatsSearchDAC[r], a, 46);
        CP(h.nStatsBaselineDAC, a, 48);
    }

    // pCLAMP 11 gap-free epoch configuration.
    if (map_[19].block && map_[19].bytes >= 15) {
        if (!LoadSection(19, sec, 15)) return ABF_EINVALIDFILE;
        for (size_t off = 0; off + map_[19].bytes <= sec.size(); off += map_[19].bytes) {
            const uint8_t* a = sec.data() + off;
            const int16_t e = Get<int16_t>(a, 0);
            const int16_t d = Get<int16_t>(a, 2);
            if (e < 0 || e >= 50 || d < 0 || d >= 8) continue;
            CP(h.nGapFreeEpochType[d][e], a, 4);
            CP(h.fGapFreeEpochLevel[d][e], a, 6);
            CP(h.lGapFreeEpochDuration[d][e], a, 10);
            CP(h.nGapFreeDigitalValue[d][e], a, 14);
        }
    }
    if (map_[18].block && map_[18].bytes >= 2) {
        if (!LoadSection(18, sec, 2)) return ABF_EINVALIDFILE;
        if (sec.size() >= 2) CP(h.nGapFreeEpochStart, sec.data(), 0);
    }

    // Pointers and counts from the section map.
    auto ptr = [](const Section& s) { return static_cast<int32_t>(s.block); };
    auto cnt = [](const Section& s) { return static_cast<int32_t>(s.count); };
    h.lDataSectionPtr = ptr(map_[10]);
    h.lActualAcqLength = cnt(map_[10]);
    h.lTagSectionPtr = ptr(map_[11]);
    h.lNumTagEntries = cnt(map_[11]);
    h.lScopeConfigPtr = ptr(map_[12]);
    h.lNumScopes = cnt(map_[12]);
    h.lDeltaArrayPtr = ptr(map_[13]);
    h.lNumDeltas = cnt(map_[13]);
    h.lVoiceTagPtr = ptr(map_[14]);
    h.lVoiceTagEntries = cnt(map_[14]);
    h.lSynchArrayPtr = ptr(map_[15]);
    h.lSynchArraySize = cnt(map_[15]);
    h.lAnnotationSectionPtr = ptr(map_[16]);
    h.lNumAnnotations = cnt(map_[16]);
    h.lStatisticsConfigPtr = ptr(map_[17]);
    h.nNumPointsIgnored = 0;

    file_.dataOffset = static_cast<uint64_t>(map_[10].block) * kBlock;
    return 0;
}

// ---------------------------------------------------------------- episodes

int CutEpisodes(OpenFile& file, uint32_t sampleLimit)
{
    ABFLibraryHeader& h = file.rec;
    const uint32_t nch = file.nch;
    const int mode = h.nOperationMode;
    const uint64_t acq = static_cast<uint32_t>(h.lActualAcqLength);
    const uint64_t fileSize = file.src->Size();

    // The synch array, when there is one.
    std::vector<int32_t> synch;
    if (h.lSynchArrayPtr > 0 && h.lSynchArraySize > 0) {
        const uint64_t n = static_cast<uint32_t>(h.lSynchArraySize);
        const uint64_t off = static_cast<uint64_t>(static_cast<uint32_t>(h.lSynchArrayPtr)) * kBlock;
        if (n > fileSize / 8) return ABF_EBADSYNCH;
        synch.resize(static_cast<size_t>(n * 2));
        if (!file.src->Read(off, synch.data(), n * 8)) return ABF_EBADSYNCH;
    }

    // Every sample the header announces must be in the file: this bounds the episodes,
    // every read, buffer and waveform by the file's real size.
    const uint64_t dataBytes = acq * file.sampleSize;
    if (file.dataOffset > fileSize || dataBytes > fileSize - file.dataOffset) return ABF_EREADDATA;

    file.episodes.clear();
    if (mode == 3 || mode == 1) {
        uint64_t c = sampleLimit ? sampleLimit : 8192 / nch;
        c = std::min<uint64_t>(c, kMaxChunk);
        c = std::min<uint64_t>(c, acq / nch);
        if (c == 0) return ABF_EINVALIDFILE;
        const uint64_t piece = c * nch;
        if (synch.empty()) {
            if (mode == 1) return ABF_ENOSYNCHPRESENT;
            const uint64_t total = acq / nch;
            const uint64_t count = (total + c - 1) / c;
            for (uint64_t e = 0; e < count; ++e) {
                const uint64_t len = std::min<uint64_t>(c, total - e * c) * nch;
                file.episodes.push_back({e * piece, static_cast<uint32_t>(len), static_cast<int64_t>(e * piece)});
            }
        } else {
            // Merge contiguous events, then cut every run into pieces.
            struct Run {
                int64_t start;
                uint64_t length;
                uint64_t mux;
            };
            std::vector<Run> runs;
            uint64_t used = 0;
            for (size_t i = 0; i < synch.size(); i += 2) {
                const int64_t start = synch[i];
                const int64_t length = synch[i + 1];
                if (length <= 0 || static_cast<uint64_t>(length) > acq - used || length % nch) return ABF_EBADSYNCH;
                if (!runs.empty() && start < runs.back().start) return ABF_EBADSYNCH;
                if (!runs.empty() && runs.back().start + static_cast<int64_t>(runs.back().length) == start)
                    runs.back().length += static_cast<uint64_t>(length);
                else
                    runs.push_back({start, static_cast<uint64_t>(length), used});
                used += static_cast<uint64_t>(length);
            }
            for (const Run& r : runs) {
                for (uint64_t p = 0; p < r.length; p += piece) {
                    const uint64_t len = std::min<uint64_t>(piece, r.length - p);
                    file.episodes.push_back({r.mux + p, static_cast<uint32_t>(len), r.start + static_cast<int64_t>(p)});
                }
            }
        }
        file.maxSamples = static_cast<uint32_t>(c);
        h.lNumSamplesPerEpisode = static_cast<int32_t>(piece);
        h.lActualEpisodes = static_cast<int32_t>(file.episodes.size());
        return 0;
    }

    if (mode != 2 && mode != 4 && mode != 5) return ABF_EINVALIDFILE;
    const int64_t perEpisode = h.lNumSamplesPerEpisode;
    if (perEpisode <= 0 || perEpisode % nch) return ABF_EEPISODESIZE;
    if (synch.empty()) {
        if (mode != 5) return ABF_ENOSYNCHPRESENT;
        const int64_t count = h.lActualEpisodes;
        if (count <= 0 || static_cast<uint64_t>(count) * static_cast<uint64_t>(perEpisode) > acq)
            return ABF_EEPISODESIZE;
        for (int64_t e = 0; e < count; ++e)
            file.episodes.push_back({static_cast<uint64_t>(e * perEpisode), static_cast<uint32_t>(perEpisode), -2});
    } else {
        uint64_t used = 0;
        for (size_t i = 0; i < synch.size(); i += 2) {
            const int64_t start = synch[i];
            const int64_t length = synch[i + 1];
            if (length <= 0 || static_cast<uint64_t>(length) > acq - used || length % nch) return ABF_EBADSYNCH;
            // A sweep longer than the episode size would not fit the caller's read buffer.
            if (length > perEpisode) return ABF_EBADSYNCH;
            if (mode == 2 && start < 0 && start != -1) return ABF_EBADSYNCH;
            file.episodes.push_back({used, static_cast<uint32_t>(length), start});
            used += static_cast<uint64_t>(length);
        }
        if (mode == 2) {
            for (size_t i = 0; i + 1 < file.episodes.size(); ++i) {
                Episode& a = file.episodes[i];
                const Episode& b = file.episodes[i + 1];
                if (a.startCount == -1 || b.startCount == -1) continue;
                if (a.startCount + a.muxLength > b.startCount) {
                    const int64_t len = b.startCount - a.startCount;
                    if (len <= 0) return ABF_EBADSYNCH;
                    a.muxLength = static_cast<uint32_t>(len);
                }
            }
        }
    }
    file.maxSamples = static_cast<uint32_t>(perEpisode / nch);
    h.lActualEpisodes = static_cast<int32_t>(file.episodes.size());
    return 0;
}

}  // namespace

void InitRecord(ABFLibraryHeader& h)
{
    memset(&h, 0, sizeof h);
    h.fHeaderVersionNumber = 2.09f;
    h.nFileType = 1;
}

int ProbeFile(Source& src, int32_t* dataFormat)
{
    uint8_t head[8];
    if (!src.Read(0, head, sizeof head)) return ABF_EINVALIDFILE;
    if (memcmp(head, "ABF ", 4) == 0) {
        float version;
        memcpy(&version, head + 4, 4);
        if (!(version >= 1.0f && version < 2.0f)) return ABF_EINVALIDFILE;
        const uint32_t size = version < 1.6f ? kAbf1OldHeaderSize : kAbf1HeaderSize;
        if (src.Size() < size) return ABF_EINVALIDFILE;
        int16_t fmt = 0;
        if (!src.Read(100, &fmt, 2)) return ABF_EINVALIDFILE;
        if (dataFormat) *dataFormat = fmt;
        return 0;
    }
    if (memcmp(head, "ABF2", 4) == 0) {
        if (head[7] != 2 || src.Size() < 512) return ABF_EINVALIDFILE;
        uint8_t info[512];
        if (!src.Read(0, info, sizeof info)) return ABF_EINVALIDFILE;
        // The sections that make up the header (protocol to strings) must lie inside the
        // file; data, tags and the synch array are not looked at here.
        for (int i = 0; i <= 9; ++i) {
            const uint64_t block = Get<uint32_t>(info, 76 + 16 * i);
            const uint64_t bytes = Get<uint32_t>(info, 80 + 16 * i);
            const int64_t count = Get<int64_t>(info, 84 + 16 * i);
            if (block == 0 || count <= 0) continue;
            if (block * kBlock >= src.Size() || static_cast<uint64_t>(count) > src.Size() ||
                SectionExtent(i, bytes, count) > src.Size() - block * kBlock)
                return ABF_EINVALIDFILE;
        }
        int16_t fmt = 0;
        memcpy(&fmt, info + 30, 2);
        if (dataFormat) *dataFormat = fmt;
        return 0;
    }
    return ABF_EINVALIDFILE;
}

int DecodeFile(OpenFile& file, uint32_t sampleLimit)
{
    int32_t fmt = 0;
    if (int err = ProbeFile(*file.src, &fmt)) return err;
    uint8_t sig[4];
    if (!file.src->Read(0, sig, 4)) return ABF_EINVALIDFILE;
    InitRecord(file.rec);
    int err;
    if (memcmp(sig, "ABF2", 4) == 0) {
        file.abfMajor = 2;
        err = Abf2Reader(file).Decode();
    } else {
        file.abfMajor = 1;
        err = DecodeAbf1(file);
    }
    if (err) return err;
    ABFLibraryHeader& h = file.rec;
    if (h.lActualAcqLength <= 0 || h.nADCNumChannels <= 0 || h.nADCNumChannels > 16) return ABF_EINVALIDFILE;
    if (h.nDataFormat != 0 && h.nDataFormat != 1) return ABF_EINVALIDFILE;
    file.nch = static_cast<uint32_t>(h.nADCNumChannels);
    file.sampleSize = h.nDataFormat ? 4 : 2;
    if (h.nOperationMode == 3)
        file.dataOffset += static_cast<uint64_t>(std::max<int16_t>(h.nNumPointsIgnored, 0)) * file.sampleSize;
    for (uint32_t i = 0; i < file.nch; ++i)
        if (h.nADCSamplingSeq[i] < 0 || h.nADCSamplingSeq[i] >= 16) return ABF_EINVALIDFILE;
    return CutEpisodes(file, sampleLimit);
}

int PositionOfChannel(const ABFLibraryHeader& h, int channel)
{
    const int n = std::min<int>(h.nADCNumChannels, 16);
    for (int i = 0; i < n; ++i)
        if (h.nADCSamplingSeq[i] == channel) return i;
    return -1;
}

}  // namespace abffio
