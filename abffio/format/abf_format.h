// The ABF file formats as this project reads and writes them: the named fields of every
// structure (generated from abf_file_layout.csv) and the constants that place them.
// The decoder, the writer and the tests' own readers and writers all take their
// offsets from here.
#pragma once

#include <cstdint>

#include "abffio/format/abf_file_layout.h"

namespace abfformat {

// Every pointer and block index of both formats counts 512-byte blocks from the start
// of the file.
inline constexpr uint32_t kBlockBytes = 512;

// The first four bytes of a file: "ABF " for ABF1, "ABF2" for ABF2.
inline constexpr char kAbf1Signature[4] = {'A', 'B', 'F', ' '};
inline constexpr char kAbf2Signature[4] = {'A', 'B', 'F', '2'};

namespace abf1 {
// The header has kExtent (6144) bytes from version 1.6 on; older files end it at
// byte 2048, and what follows there is data (or another writer's leftovers), never
// header fields.
inline constexpr uint32_t kOldHeaderBytes = 2048;
inline constexpr float kFirstFullHeaderVersion = 1.6f;
// ABF1 versions are 1.x; the version's integer part must be 1.
inline constexpr float kMinVersion = 1.0f;
inline constexpr float kMaxVersion = 2.0f;  // exclusive
// Files before version 1.6 describe one DAC's waveform in single-DAC fields
// (_nEpochType, ...); version 1.6 and later keep two DACs' worth, for DAC 0 and 1.
inline constexpr int kWaveformDacs = 2;
inline constexpr int kEpochsPerDac = 10;
}  // namespace abf1

namespace abf2 {
// The file information: the first 512 bytes.
inline constexpr uint32_t kFileInfoBytes = 512;
// The version's major byte (offset 7) must be 2.
inline constexpr uint8_t kMajorVersion = 2;

// The section map: entry i of the map at fileinfo::SectionMap + 16 i, each a block
// index, the bytes of one entry and the number of entries.
enum Section : int {
    kProtocol = 0,
    kADC = 1,
    kDAC = 2,
    kEpoch = 3,  // digital outputs per epoch
    kADCPerDAC = 4,
    kEpochPerDAC = 5,  // the analog epoch table
    kUserList = 6,
    kStatsRegion = 7,
    kMath = 8,
    kStrings = 9,
    kData = 10,
    kTag = 11,
    kScope = 12,
    kDelta = 13,
    kVoiceTag = 14,
    kSynchArray = 15,
    kAnnotation = 16,
    kStats = 17,
    kGapFreeStart = 18,   // version 2.09 and later
    kGapFreeEpochs = 19,  // version 2.09 and later
};
inline constexpr int kSections = 18;  // entries in the map of every version
inline constexpr int kSections209 = 20;
// Versions 2.09 and later (minor byte 9 or more) have the two gap-free entries.
inline constexpr uint8_t kMinorWithGapFreeSections = 9;
inline constexpr uint32_t SectionEntryOffset(int section)
{
    return fileinfo::SectionMap.offset + static_cast<uint32_t>(section) * section::kExtent;
}

// The protocol section is one entry of 512 bytes. The entry sizes the acquisition
// programs write for the other sections (the map's uBytes in every file); a reader
// steps by the map's own uBytes.
inline constexpr uint32_t kProtocolBytes = 512;
inline constexpr uint32_t kADCEntryBytes = 128;
inline constexpr uint32_t kDACEntryBytes = 256;
inline constexpr uint32_t kEpochEntryBytes = 32;
inline constexpr uint32_t kEpochPerDACEntryBytes = 48;
// The strings section starts with "SSCH" and a 44-byte header; the strings follow,
// each ended by a NUL. String index k >= 1 is the k-th string; 0 means "no string".
inline constexpr char kStringsSignature[4] = {'S', 'S', 'C', 'H'};
}  // namespace abf2

// Values of header fields that both formats share.
namespace values {
// nEpochType: the shape of one epoch of a DAC's waveform.
enum EpochType : int16_t {
    kEpochDisabled = 0,
    kEpochStep = 1,
    kEpochRamp = 2,
    kEpochPulseTrain = 3,
    kEpochTriangleTrain = 4,
    kEpochCosineTrain = 5,
    kEpochResistance = 6,  // not built by the library
    kEpochBiphasicTrain = 7,
};
// nWaveformSource: where a DAC's waveform comes from.
enum WaveformSource : int16_t { kSourceNone = 0, kSourceEpochs = 1, kSourceDacFile = 2 };
}  // namespace values
using namespace values;

}  // namespace abfformat
