// The one ABF layout table (abffio/format/abf_file_layout.csv), through the named
// fields generated from it, against the published formats' own offsets. The writer,
// the decoder and the tests' readers all take their offsets from that table, so a
// wrong row passes every round trip; only this check sees it, and it needs no
// shared data: the offsets, element sizes and counts below are copied as literals
// from the ABF fact sheet beside the repository (../shared/abf/file-format.md:
// §2.1 the ABF1 header, §3.1 the ABF2 file information, §3.2 the section map, §3.3
// the protocol, ADC, DAC and epoch sections, §3.4 the strings section, §4.3 the
// synch array entry, §7 the tag record). The fields are the ones the readers and
// writers rely on: where the data, the tags and the synch array are, how samples
// are counted, scaled and named, and what the stimulus is made of.
#include <gtest/gtest.h>

#include <cstdint>

#include "abffio/format/abf_format.h"

namespace {

namespace v1 = abfformat::abf1;
namespace v2 = abfformat::abf2;

struct Row {
    const char* name;
    uint32_t offset, count, size;  // the table's: byte offset, elements, bytes (characters) of one
    uint32_t wantOffset, wantCount, wantSize;
};

// FIELD, then the fact sheet's offset, number of elements and size of one element
// (bytes; characters for a text).
#define ROW(field, at, elements, bytes) {#field, field.offset, field.count, field.width, at, elements, bytes}

const Row kRows[] = {
    // ABF1 header (§2.1).
    ROW(v1::lFileSignature, 0, 1, 4),
    ROW(v1::fFileVersionNumber, 4, 1, 4),
    ROW(v1::nOperationMode, 8, 1, 2),
    ROW(v1::lActualAcqLength, 10, 1, 4),
    ROW(v1::nNumPointsIgnored, 14, 1, 2),
    ROW(v1::lActualEpisodes, 16, 1, 4),
    ROW(v1::lFileStartDate, 20, 1, 4),
    ROW(v1::lFileStartTime, 24, 1, 4),
    ROW(v1::lStopwatchTime, 28, 1, 4),
    ROW(v1::fHeaderVersionNumber, 32, 1, 4),
    ROW(v1::nFileType, 36, 1, 2),
    ROW(v1::lDataSectionPtr, 40, 1, 4),
    ROW(v1::lTagSectionPtr, 44, 1, 4),
    ROW(v1::lNumTagEntries, 48, 1, 4),
    ROW(v1::lSynchArrayPtr, 92, 1, 4),
    ROW(v1::lSynchArraySize, 96, 1, 4),
    ROW(v1::nDataFormat, 100, 1, 2),
    ROW(v1::nSimultaneousScan, 102, 1, 2),
    ROW(v1::nADCNumChannels, 120, 1, 2),
    ROW(v1::fADCSampleInterval, 122, 1, 4),
    ROW(v1::fSynchTimeUnit, 130, 1, 4),
    ROW(v1::fSecondsPerRun, 134, 1, 4),
    ROW(v1::lNumSamplesPerEpisode, 138, 1, 4),
    ROW(v1::lPreTriggerSamples, 142, 1, 4),
    ROW(v1::lEpisodesPerRun, 146, 1, 4),
    ROW(v1::fEpisodeStartToStart, 178, 1, 4),
    ROW(v1::fADCRange, 244, 1, 4),
    ROW(v1::fDACRange, 248, 1, 4),
    ROW(v1::lADCResolution, 252, 1, 4),
    ROW(v1::lDACResolution, 256, 1, 4),
    ROW(v1::nExperimentType, 260, 1, 2),
    ROW(v1::sCreatorInfo, 294, 1, 16),
    ROW(v1::_sFileComment, 310, 1, 56),
    ROW(v1::nFileStartMillisecs, 366, 1, 2),
    ROW(v1::nADCPtoLChannelMap, 378, 16, 2),
    ROW(v1::nADCSamplingSeq, 410, 16, 2),
    ROW(v1::sADCChannelName, 442, 16, 10),
    ROW(v1::sADCUnits, 602, 16, 8),
    ROW(v1::fADCProgrammableGain, 730, 16, 4),
    ROW(v1::fInstrumentScaleFactor, 922, 16, 4),
    ROW(v1::fInstrumentOffset, 986, 16, 4),
    ROW(v1::fSignalGain, 1050, 16, 4),
    ROW(v1::fSignalOffset, 1114, 16, 4),
    ROW(v1::sDACChannelName, 1306, 4, 10),
    ROW(v1::sDACChannelUnits, 1346, 4, 8),
    ROW(v1::fDACScaleFactor, 1378, 4, 4),
    ROW(v1::fDACHoldingLevel, 1394, 4, 4),
    ROW(v1::nDigitalEnable, 1436, 1, 2),
    ROW(v1::nActiveDACChannel, 1440, 1, 2),
    ROW(v1::_nEpochType, 1444, 10, 2),
    ROW(v1::nDigitalValue, 1588, 10, 2),
    ROW(v1::lHeaderSize, 2034, 1, 4),
    ROW(v1::lDACFilePtr, 2048, 2, 4),
    ROW(v1::lDACFileNumEpisodes, 2056, 2, 4),
    ROW(v1::fDACCalibrationFactor, 2074, 4, 4),
    ROW(v1::lEpochPulsePeriod, 2136, 20, 4),
    ROW(v1::lEpochPulseWidth, 2216, 20, 4),
    ROW(v1::nWaveformEnable, 2296, 2, 2),
    ROW(v1::nWaveformSource, 2300, 2, 2),
    ROW(v1::nInterEpisodeLevel, 2304, 2, 2),
    ROW(v1::nEpochType, 2308, 20, 2),
    ROW(v1::fEpochInitLevel, 2348, 20, 4),
    ROW(v1::fEpochLevelInc, 2428, 20, 4),
    ROW(v1::lEpochInitDuration, 2508, 20, 4),
    ROW(v1::lEpochDurationInc, 2588, 20, 4),
    ROW(v1::nTelegraphEnable, 4512, 16, 2),
    ROW(v1::fTelegraphAdditGain, 4576, 16, 4),
    ROW(v1::fTelegraphFilter, 4640, 16, 4),
    ROW(v1::fTelegraphMembraneCap, 4704, 16, 4),
    ROW(v1::sProtocolPath, 4898, 1, 256),
    ROW(v1::sFileComment, 5154, 1, 128),
    ROW(v1::FileGUID, 5282, 16, 1),
    ROW(v1::nCreatorMajorVersion, 5798, 1, 2),

    // ABF2 file information (§3.1; the 32-bit version and creator version as their bytes).
    ROW(v2::fileinfo::uFileSignature, 0, 1, 4),
    ROW(v2::fileinfo::uFileVersionMinor, 6, 1, 1),
    ROW(v2::fileinfo::uFileVersionMajor, 7, 1, 1),
    ROW(v2::fileinfo::uFileInfoSize, 8, 1, 4),
    ROW(v2::fileinfo::uActualEpisodes, 12, 1, 4),
    ROW(v2::fileinfo::uFileStartDate, 16, 1, 4),
    ROW(v2::fileinfo::uFileStartTimeMS, 20, 1, 4),
    ROW(v2::fileinfo::uStopwatchTime, 24, 1, 4),
    ROW(v2::fileinfo::nFileType, 28, 1, 2),
    ROW(v2::fileinfo::nDataFormat, 30, 1, 2),
    ROW(v2::fileinfo::nSimultaneousScan, 32, 1, 2),
    ROW(v2::fileinfo::FileGUID, 40, 16, 1),
    ROW(v2::fileinfo::uCreatorVersionMajor, 59, 1, 1),
    ROW(v2::fileinfo::uCreatorNameIndex, 60, 1, 4),
    ROW(v2::fileinfo::uProtocolPathIndex, 72, 1, 4),
    ROW(v2::fileinfo::SectionMap, 76, 320, 1),  // 20 entries of 16 bytes (the last two: 2.09)

    // An entry of the section map (§3.2).
    ROW(v2::section::uBlockIndex, 0, 1, 4),
    ROW(v2::section::uBytes, 4, 1, 4),
    ROW(v2::section::llNumEntries, 8, 1, 8),

    // The protocol section (§3.3).
    ROW(v2::protocol::nOperationMode, 0, 1, 2),
    ROW(v2::protocol::fADCSequenceInterval, 2, 1, 4),
    ROW(v2::protocol::uFileCompressionRatio, 10, 1, 4),
    ROW(v2::protocol::fSynchTimeUnit, 14, 1, 4),
    ROW(v2::protocol::fSecondsPerRun, 18, 1, 4),
    ROW(v2::protocol::lNumSamplesPerEpisode, 22, 1, 4),
    ROW(v2::protocol::lPreTriggerSamples, 26, 1, 4),
    ROW(v2::protocol::lEpisodesPerRun, 30, 1, 4),
    ROW(v2::protocol::fEpisodeStartToStart, 62, 1, 4),
    ROW(v2::protocol::fADCRange, 110, 1, 4),
    ROW(v2::protocol::fDACRange, 114, 1, 4),
    ROW(v2::protocol::lADCResolution, 118, 1, 4),
    ROW(v2::protocol::lDACResolution, 122, 1, 4),
    ROW(v2::protocol::nExperimentType, 126, 1, 2),
    ROW(v2::protocol::lFileCommentIndex, 132, 1, 4),
    ROW(v2::protocol::nDigitalEnable, 140, 1, 2),
    ROW(v2::protocol::nActiveDACChannel, 142, 1, 2),
    ROW(v2::protocol::nDigitalDACChannel, 148, 1, 2),
    ROW(v2::protocol::nAllowExternalTags, 162, 1, 2),
    ROW(v2::protocol::nExternalTagType, 176, 1, 2),

    // An ADC entry (§3.3).
    ROW(v2::adc::nADCNum, 0, 1, 2),
    ROW(v2::adc::nTelegraphEnable, 2, 1, 2),
    ROW(v2::adc::fTelegraphAdditGain, 6, 1, 4),
    ROW(v2::adc::fTelegraphFilter, 10, 1, 4),
    ROW(v2::adc::fTelegraphMembraneCap, 14, 1, 4),
    ROW(v2::adc::nADCPtoLChannelMap, 24, 1, 2),
    ROW(v2::adc::fADCProgrammableGain, 28, 1, 4),
    ROW(v2::adc::fInstrumentScaleFactor, 40, 1, 4),
    ROW(v2::adc::fInstrumentOffset, 44, 1, 4),
    ROW(v2::adc::fSignalGain, 48, 1, 4),
    ROW(v2::adc::fSignalOffset, 52, 1, 4),
    ROW(v2::adc::fSignalLowpassFilter, 56, 1, 4),
    ROW(v2::adc::lADCChannelNameIndex, 74, 1, 4),
    ROW(v2::adc::lADCUnitsIndex, 78, 1, 4),

    // A DAC entry (§3.3).
    ROW(v2::dac::nDACNum, 0, 1, 2),
    ROW(v2::dac::fDACScaleFactor, 8, 1, 4),
    ROW(v2::dac::fDACHoldingLevel, 12, 1, 4),
    ROW(v2::dac::fDACCalibrationFactor, 16, 1, 4),
    ROW(v2::dac::lDACChannelNameIndex, 24, 1, 4),
    ROW(v2::dac::lDACChannelUnitsIndex, 28, 1, 4),
    ROW(v2::dac::lDACFilePtr, 32, 1, 4),
    ROW(v2::dac::lDACFileNumEpisodes, 36, 1, 4),
    ROW(v2::dac::nWaveformEnable, 40, 1, 2),
    ROW(v2::dac::nWaveformSource, 42, 1, 2),
    ROW(v2::dac::nInterEpisodeLevel, 44, 1, 2),
    ROW(v2::dac::fDACFileScale, 46, 1, 4),

    // An entry of the analog epoch table and of the digital outputs (§3.3).
    ROW(v2::epoch_per_dac::nEpochNum, 0, 1, 2),
    ROW(v2::epoch_per_dac::nDACNum, 2, 1, 2),
    ROW(v2::epoch_per_dac::nEpochType, 4, 1, 2),
    ROW(v2::epoch_per_dac::fEpochInitLevel, 6, 1, 4),
    ROW(v2::epoch_per_dac::fEpochLevelInc, 10, 1, 4),
    ROW(v2::epoch_per_dac::lEpochInitDuration, 14, 1, 4),
    ROW(v2::epoch_per_dac::lEpochDurationInc, 18, 1, 4),
    ROW(v2::epoch_per_dac::lEpochPulsePeriod, 22, 1, 4),
    ROW(v2::epoch_per_dac::lEpochPulseWidth, 26, 1, 4),
    ROW(v2::epoch::nEpochNum, 0, 1, 2),
    ROW(v2::epoch::nDigitalValue, 2, 1, 2),

    // The strings section (§3.4), the synch array entry (§4.3), the tag (§7).
    ROW(v2::strings::sSignature, 0, 1, 4),
    ROW(v2::strings::uNumStrings, 8, 1, 4),
    ROW(v2::strings::lTotalBytes, 16, 1, 4),
    ROW(abfformat::synch_entry::lStart, 0, 1, 4),
    ROW(abfformat::synch_entry::lLength, 4, 1, 4),
    ROW(abfformat::tag::lTagTime, 0, 1, 4),
    ROW(abfformat::tag::sComment, 4, 1, 56),
    ROW(abfformat::tag::nTagType, 60, 1, 2),
    ROW(abfformat::tag::nVoiceTagNumber, 62, 1, 2),
};

#undef ROW

TEST(LayoutTable, FieldsLieWhereThePublishedFormatsPutThem)
{
    for (const Row& r : kRows) {
        EXPECT_EQ(r.offset, r.wantOffset) << r.name;
        EXPECT_EQ(r.count, r.wantCount) << r.name;
        EXPECT_EQ(r.size, r.wantSize) << r.name;
    }
}

TEST(LayoutTable, StructureSizesAndTheSectionMap)
{
    // The ABF1 header of version 1.6 and later, the ABF2 file information, one
    // entry of the section map, the synch array entry and the tag record.
    EXPECT_EQ(v1::kExtent, 6144u);
    EXPECT_EQ(v2::fileinfo::kExtent, 512u);
    EXPECT_EQ(v2::section::kExtent, 16u);
    EXPECT_EQ(abfformat::synch_entry::kExtent, 8u);
    EXPECT_EQ(abfformat::tag::kExtent, 64u);
    // The strings section's header, after which its strings follow.
    EXPECT_EQ(v2::strings::kExtent, 44u);
    EXPECT_EQ(v2::strings::sStrings.offset, 44u);

    // Where the map's entries lie (§3.2: entry i at 76 + 16 i).
    const struct {
        v2::Section section;
        uint32_t offset;
    } entries[] = {
        {v2::kProtocol, 76},    {v2::kADC, 92},    {v2::kDAC, 108},         {v2::kEpoch, 124},
        {v2::kEpochPerDAC, 156}, {v2::kStrings, 220}, {v2::kData, 236},       {v2::kTag, 252},
        {v2::kSynchArray, 316}, {v2::kGapFreeStart, 364}, {v2::kGapFreeEpochs, 380},
    };
    for (const auto& e : entries) EXPECT_EQ(v2::SectionEntryOffset(e.section), e.offset) << e.section;
}

}  // namespace
