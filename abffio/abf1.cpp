// ABF1: the one header at the start of the file into the library's record. The fields
// the record holds as the file does are copied by the generated table; the stages
// below are what the ABF1 format and the vendor library's reading of it add.
#include <algorithm>
#include <vector>

#include "abffio/abf_record_copies.h"
#include "internal.h"
#include "record_copy.h"

namespace abffio {
namespace {

namespace f = abfformat::abf1;

bool ValidVersion(float version) { return version >= f::kMinVersion && version < f::kMaxVersion; }

bool OldHeader(float version) { return version < f::kFirstFullHeaderVersion; }

uint32_t HeaderBytes(float version) { return OldHeader(version) ? f::kOldHeaderBytes : f::kExtent; }

uint32_t FixDate(int32_t date)
{
    // Two-digit years (yymmdd, from old acquisition programs and converters): below 80
    // in this century, otherwise the last one; a date of 0 becomes 20000000.
    int64_t y = date / 10000;
    if (y < 1000) y += (y < 80 ? 2000 : 1900);
    return static_cast<uint32_t>(y * 10000 + date % 10000);
}

// Record fields that files before a version do not hold (the ABF1 format lists the
// version that added each), as the vendor library fills them: its records of the 1.3,
// 1.83 and 1.84 recordings.
void VersionDefaults(float version, ABFLibraryHeader& h)
{
    if (version < 1.835f) {
        // The digitizer of the acquisition programs that wrote versions up to 1.83: the
        // vendor library's records of every 1.3 and 1.83 recording.
        h.nDigitizerADCs = 16;
        h.nDigitizerDACs = 2;
        h.nDigitizerTotalDigitalOuts = 8;
        h.nDigitizerSynchDigitalOuts = 4;
        h.nDigitizerType = 1;
    } else {
        // Version 1.84 (files saved again by the newer analysis programs): 2 ADCs and
        // no other digitizer field, in the vendor library's records of the three 1.84
        // recordings known (multichannelAbf1WithTags.abf, pclamp11_4ch_abf1.abf and one
        // more; two or four channels). No field of the file holds the 2.
        h.nDigitizerADCs = 2;
    }
    if (version < 1.7f) {
        h.nStatsActiveChannels = 1;
        h.nStatsSearchRegionFlags = 1;
    }
    if (version < 1.71f) {
        SetText(h.sEpochResistanceSignalName[0], sizeof h.sEpochResistanceSignalName[0], "IN 0");
        SetText(h.sEpochResistanceSignalName[1], sizeof h.sEpochResistanceSignalName[1], "IN 1");
    }
    // 100 kHz: the post-processing filter is off.
    if (version < 1.73f)
        for (int i = 0; i < kMaxChannels; ++i) h.fPostProcessLowpassFilter[i] = 1e5f;
}

// Fields the record holds in another form than the file.
void ConvertFields(const uint8_t* p, ABFLibraryHeader& h)
{
    h.uFileStartDate = FixDate(Get(p, f::lFileStartDate));
    // Seconds since midnight and the milliseconds after them, as milliseconds.
    h.uFileStartTimeMS = static_cast<uint32_t>(Get(p, f::lFileStartTime)) * 1000u +
                         static_cast<uint32_t>(Get(p, f::nFileStartMillisecs));
    // The file's interval is between two multiplexed samples; the record's between two
    // samples of one channel.
    h.fADCSequenceInterval = Get(p, f::fADCSampleInterval) * static_cast<float>(h.nADCNumChannels);
    if (h.lSynchArrayPtr <= 0 || h.lSynchArraySize <= 0) h.lSynchArrayPtr = h.lSynchArraySize = 0;
    // A range of (about) zero is the 10 V of every digitizer.
    if (h.fADCRange <= 1e-10f) h.fADCRange = 10.0f;
    if (h.fDACRange <= 1e-10f) h.fDACRange = 10.0f;
    h.lHeaderSize = static_cast<int32_t>(f::kExtent);
}

// Files before version 1.6 keep the waveform of one DAC, the active one, in single-DAC
// fields (and the presweep train and the telegraph of one channel likewise); the
// record holds them at that DAC's (channel's) place.
void ReadOldHeader(const uint8_t* p, ABFLibraryHeader& h)
{
    const int d = h.nActiveDACChannel >= 0 && h.nActiveDACChannel < f::kWaveformDacs ? h.nActiveDACChannel : 0;
    CopyContext dac;
    dac.key1 = d;
    CopyIntoRecord(kAbf1OldHeaderCopies, p, f::kOldHeaderBytes, dac, h);
    CopyIntoRecord(kAbf1OldActiveDacCopies, p, f::kOldHeaderBytes, dac, h);
    if (Get(p, f::_nConditChannel) == d) CopyIntoRecord(kAbf1OldConditDacCopies, p, f::kOldHeaderBytes, dac, h);
    CopyContext telegraph;
    telegraph.key1 = Get(p, f::_nAutosampleADCNum);
    CopyIntoRecord(kAbf1OldTelegraphCopies, p, f::kOldHeaderBytes, telegraph, h);

    // The trigger source of these files depends on the mode. Episodic recordings report
    // -3 whatever they hold: the vendor library's records of the seven 1.3 episodic
    // recordings, six holding 0 and 130618-1-12.abf holding 15. A gap-free recording
    // keeps what it holds: a 1.3 gap-free file holding 15, written by the program that
    // wrote 130618-1-12.abf, is reported with 15. No recording of the event-driven or
    // oscilloscope modes this old has been seen; they report -3, as the episodic ones,
    // until one shows otherwise. (Files from 1.6 on keep theirs in every mode: the six
    // 1.83 and 1.84 recordings hold -3 and report -3; nothing shows a rewrite there.)
    if (h.nOperationMode != kAbfGapFree) h.nTriggerSource = -3;

    const int16_t source = Get(p, f::_nWaveformSource);
    h.nWaveformSource[d] = source;
    h.nWaveformEnable[d] = source != 0;
    for (uint32_t i = 0; i < f::fDACCalibrationFactor.count; ++i) {
        h.fDACCalibrationFactor[i] = 1.0f;
        h.fDACCalibrationOffset[i] = 1.0f;  // sic: the vendor library's value for these files
    }
    h.nCommentsEnable = h.nManualInfoStrategy != 0;
    h.nAutoAnalyseEnable = 1;
}

// Rewrites the vendor library applies to every ABF1 header (the ABF1 file format lists
// them with the record fields they convert: out-of-range values replaced by defaults).
void FixUp(ABFLibraryHeader& h)
{
    for (int d = 0; d < f::kWaveformDacs; ++d) {
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
}

// The texts the file covers are blank-padded, NULs included.
void BlankTexts(ABFLibraryHeader& h)
{
    auto blank = [](char* text, size_t n) { std::replace(text, text + n, '\0', ' '); };
    blank(h.sProtocolPath, sizeof h.sProtocolPath);
    blank(h.sCreatorInfo, sizeof h.sCreatorInfo);
    blank(h.sModifierInfo, sizeof h.sModifierInfo);
    blank(h.sFileComment, sizeof h.sFileComment);
    blank(&h.sADCChannelName[0][0], sizeof h.sADCChannelName);
    blank(&h.sADCUnits[0][0], sizeof h.sADCUnits);
    blank(&h.sDACChannelName[0][0], f::sDACChannelName.Bytes());
    blank(&h.sDACChannelUnits[0][0], f::sDACChannelUnits.Bytes());
    blank(&h.sDACFilePath[0][0], f::sDACFilePath.Bytes());
    blank(&h.sULParamValueList[0][0], f::sULParamValueList.Bytes());
    blank(h.sArithmeticUnits, sizeof h.sArithmeticUnits);
    blank(&h.sEpochResistanceSignalName[0][0], f::sEpochResistanceSignalName.Bytes());
}

}  // namespace

int ProbeAbf1(Source& src, int32_t* dataFormat)
{
    float version = 0;
    if (!src.Read(f::fFileVersionNumber.offset, &version, sizeof version)) return ABF_EINVALIDFILE;
    if (!ValidVersion(version) || src.Size() < HeaderBytes(version)) return ABF_EINVALIDFILE;
    int16_t format = 0;
    if (!src.Read(f::nDataFormat.offset, &format, sizeof format)) return ABF_EINVALIDFILE;
    if (dataFormat) *dataFormat = format;
    return 0;
}

int DecodeAbf1(OpenFile& file)
{
    ABFLibraryHeader& h = file.rec;
    float version = 0;
    if (!file.src->Read(f::fFileVersionNumber.offset, &version, sizeof version) || !ValidVersion(version))
        return ABF_EINVALIDFILE;
    const uint32_t headerBytes = HeaderBytes(version);
    std::vector<uint8_t> header(f::kExtent, 0);
    if (!file.src->Read(0, header.data(), headerBytes)) return ABF_EINVALIDFILE;
    const uint8_t* p = header.data();

    h.fFileVersionNumber = version;
    VersionDefaults(version, h);
    CopyIntoRecord(kAbf1Copies, p, headerBytes, CopyContext(), h);
    ConvertFields(p, h);
    if (OldHeader(version)) ReadOldHeader(p, h);
    FixUp(h);
    BlankTexts(h);
    file.dataOffset = static_cast<uint64_t>(static_cast<uint32_t>(h.lDataSectionPtr)) * abfformat::kBlockBytes;
    return 0;
}

}  // namespace abffio
