// ABF2: the file information with its section map, the strings, the protocol and the
// entries of the other header sections into the library's record. The fields the
// record holds as the file does are copied by the generated tables; the stages below
// find the sections, choose each entry's place in the record and fill what the map
// itself says.
#include <algorithm>
#include <vector>

#include "abffio/abf_record_copies.h"
#include "internal.h"
#include "record_copy.h"

namespace abffio {
namespace {

namespace v2 = abfformat::abf2;
using v2::Section;

// How many DACs, epochs per DAC, user lists and statistics regions the library's record
// holds: entries beyond them have no place there and are skipped.
constexpr int kRecordDacs = sizeof(ABFLibraryHeader::nWaveformEnable) / sizeof(int16_t);
constexpr int kRecordEpochs = sizeof(ABFLibraryHeader::nEpochType[0]) / sizeof(int16_t);
constexpr int kRecordLists = sizeof(ABFLibraryHeader::nULEnable) / sizeof(int16_t);
constexpr int kRecordRegions = sizeof(ABFLibraryHeader::lStatsStart) / sizeof(int32_t);

struct MapEntry {
    uint32_t block = 0;
    uint32_t bytes = 0;  // of one entry
    int64_t count = 0;
};

// Bytes a section takes in the file: `count` entries of `bytes` each, except the
// strings section, whose byte count is the whole section (its count is the number of
// strings in it).
uint64_t SectionExtent(int index, uint64_t bytes, int64_t count)
{
    return index == v2::kStrings ? bytes : bytes * static_cast<uint64_t>(count);
}

MapEntry ReadMapEntry(const uint8_t* info, int index)
{
    const uint8_t* e = info + v2::SectionEntryOffset(index);
    return {Get(e, v2::section::uBlockIndex), Get(e, v2::section::uBytes), Get(e, v2::section::llNumEntries)};
}

// A header section decoded entry by entry: each entry's key fields choose where its
// fields go in the record.
struct EntrySection {
    Section section;
    const RecordCopy* copies;
    size_t copyCount;
    uint32_t extent;    // bytes of the fields the table names; a shorter entry reads as 0 beyond its end
    uint32_t minBytes;  // entries shorter than this make the file invalid, or (`optional`) leave the section out
    bool optional;
    abfformat::Field<int16_t> key1;
    int limit1;  // keys outside 0..limit-1 have no place in the record: the entry is skipped
    abfformat::Field<int16_t> key2;
    int limit2;  // 0: one key only
    void (*onEntry)(ABFLibraryHeader& h, int key1);
};

// Lists are stored with nULEnable 0 even when active; every list present is active.
void EnableList(ABFLibraryHeader& h, int list) { h.nULEnable[list] = 1; }

template <size_t N>
constexpr size_t Count(const RecordCopy (&)[N])
{
    return N;
}

// The sections with entry tables, in the order the library reads them. The minimum
// entry sizes are the fields every version's entry has: for the DAC entry up to
// nLeakSubtractADCIndex and the field after it (the epoch-resistance name index at
// 134 appeared with version 2.09 and is read only from entries that hold it).
const EntrySection kEntrySections[] = {
    {v2::kDAC,
     kAbf2DacCopies,
     Count(kAbf2DacCopies),
     v2::dac::kExtent,
     v2::dac::nEpochResistanceState.End(),
     false,
     v2::dac::nDACNum,
     kRecordDacs,
     {},
     0,
     nullptr},
    {v2::kEpochPerDAC, kAbf2EpochPerDacCopies, Count(kAbf2EpochPerDacCopies), v2::epoch_per_dac::kExtent,
     v2::epoch_per_dac::kExtent, false, v2::epoch_per_dac::nDACNum, kRecordDacs, v2::epoch_per_dac::nEpochNum,
     kRecordEpochs, nullptr},
    {v2::kEpoch,
     kAbf2EpochCopies,
     Count(kAbf2EpochCopies),
     v2::epoch::kExtent,
     v2::epoch::kExtent,
     false,
     v2::epoch::nEpochNum,
     kRecordEpochs,
     {},
     0,
     nullptr},
    {v2::kUserList,
     kAbf2UserListCopies,
     Count(kAbf2UserListCopies),
     v2::user_list::kExtent,
     v2::user_list::kExtent,
     false,
     v2::user_list::nListNum,
     kRecordLists,
     {},
     0,
     EnableList},
    {v2::kStatsRegion,
     kAbf2StatsRegionCopies,
     Count(kAbf2StatsRegionCopies),
     v2::stats_region::kExtent,
     v2::stats_region::kExtent,
     false,
     v2::stats_region::nRegionNum,
     kRecordRegions,
     {},
     0,
     nullptr},
    {v2::kGapFreeEpochs, kAbf2GapfreeEpochCopies, Count(kAbf2GapfreeEpochCopies), v2::gapfree_epoch::kExtent,
     v2::gapfree_epoch::kExtent, true, v2::gapfree_epoch::nDACNum, kRecordDacs, v2::gapfree_epoch::nEpochNum,
     kRecordEpochs, nullptr},
};

// The pointer and count fields of the record that the section map fills.
struct MapPointer {
    Section section;
    size_t pointer;  // record offset of the block index (an i32)
    size_t count;    // record offset of the entry count (an i32), or 0: none
};
const MapPointer kMapPointers[] = {
    {v2::kData, offsetof(ABFLibraryHeader, lDataSectionPtr), offsetof(ABFLibraryHeader, lActualAcqLength)},
    {v2::kTag, offsetof(ABFLibraryHeader, lTagSectionPtr), offsetof(ABFLibraryHeader, lNumTagEntries)},
    {v2::kScope, offsetof(ABFLibraryHeader, lScopeConfigPtr), offsetof(ABFLibraryHeader, lNumScopes)},
    {v2::kDelta, offsetof(ABFLibraryHeader, lDeltaArrayPtr), offsetof(ABFLibraryHeader, lNumDeltas)},
    {v2::kVoiceTag, offsetof(ABFLibraryHeader, lVoiceTagPtr), offsetof(ABFLibraryHeader, lVoiceTagEntries)},
    {v2::kSynchArray, offsetof(ABFLibraryHeader, lSynchArrayPtr), offsetof(ABFLibraryHeader, lSynchArraySize)},
    {v2::kAnnotation, offsetof(ABFLibraryHeader, lAnnotationSectionPtr), offsetof(ABFLibraryHeader, lNumAnnotations)},
    {v2::kStats, offsetof(ABFLibraryHeader, lStatisticsConfigPtr), 0},
};

class Abf2Decoder {
public:
    explicit Abf2Decoder(OpenFile& f) : file_(f), h_(f.rec) {}
    int Decode();

private:
    bool LoadSection(Section index, uint32_t minBytes);
    bool ReadMap();
    bool ReadStrings();
    bool ReadProtocol();
    bool ReadChannels();
    bool ReadEntries(const EntrySection& s);
    bool ReadGapFreeStart();
    void FillFromMap();

    OpenFile& file_;
    ABFLibraryHeader& h_;
    uint8_t info_[v2::kFileInfoBytes] = {};
    MapEntry map_[v2::kSections209];
    std::vector<uint8_t> sec_;  // the section last loaded
    std::vector<std::string> strings_;
    CopyContext context_;
};

// Loads every entry of a section into sec_ (empty when the section is absent); false
// when its entries are smaller than `minBytes` or it does not lie inside the file.
bool Abf2Decoder::LoadSection(Section index, uint32_t minBytes)
{
    const MapEntry& s = map_[index];
    sec_.clear();
    if (s.block == 0 || s.count <= 0) return true;
    if (s.bytes < minBytes) return false;
    const uint64_t total = SectionExtent(index, s.bytes, s.count);
    const uint64_t size = file_.src->Size();
    if (s.count > static_cast<int64_t>(size) || total > size) return false;
    sec_.resize(static_cast<size_t>(total));
    return file_.src->Read(static_cast<uint64_t>(s.block) * abfformat::kBlockBytes, sec_.data(), total);
}

bool Abf2Decoder::ReadMap()
{
    if (!file_.src->Read(0, info_, sizeof info_)) return false;
    if (Get(info_, v2::fileinfo::uFileVersionMajor) != v2::kMajorVersion) return false;
    const bool gapFreeSections = Get(info_, v2::fileinfo::uFileVersionMinor) >= v2::kMinorWithGapFreeSections;
    for (int i = 0; i < (gapFreeSections ? v2::kSections209 : v2::kSections); ++i) map_[i] = ReadMapEntry(info_, i);
    return true;
}

bool Abf2Decoder::ReadStrings()
{
    if (!LoadSection(v2::kStrings, 1)) return false;
    if (sec_.size() < v2::strings::kExtent || memcmp(sec_.data(), v2::kStringsSignature, 4) != 0) return true;
    const uint32_t n = Get(sec_.data(), v2::strings::uNumStrings);
    size_t pos = v2::strings::sStrings.offset;
    for (uint32_t i = 0; i < n && pos < sec_.size(); ++i) {
        const uint8_t* s = sec_.data() + pos;
        const void* end = memchr(s, 0, sec_.size() - pos);
        const size_t len = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - s) : sec_.size() - pos;
        strings_.emplace_back(reinterpret_cast<const char*>(s), len);
        pos += len + 1;
    }
    context_.strings = &strings_;
    return true;
}

bool Abf2Decoder::ReadProtocol()
{
    if (!LoadSection(v2::kProtocol, v2::kProtocolBytes) || sec_.empty()) return false;
    CopyIntoRecord(kAbf2ProtocolCopies, sec_.data(), sec_.size(), context_, h_);
    // A ratio of 0 stands for uncompressed data, 1.
    h_.uFileCompressionRatio = std::max<uint32_t>(Get(sec_.data(), v2::protocol::uFileCompressionRatio), 1);
    return true;
}

// One ADC entry per sampled channel, in sampling order; its nADCNum is the physical
// channel, which indexes the record's per-channel fields. (The entry's own
// nADCSamplingSeq is 0 in every file and is not used.)
bool Abf2Decoder::ReadChannels()
{
    // The minimum: the fields through the units-name index and two bytes after it (the
    // hum-filter flag of version 2.09 at 82, and one more).
    if (!LoadSection(v2::kADC, v2::adc::lADCUnitsIndex.End() + 2)) return false;
    const uint32_t bytes = map_[v2::kADC].bytes;
    const size_t count = bytes ? sec_.size() / bytes : 0;
    if (count > kMaxChannels) return false;
    h_.nADCNumChannels = static_cast<int16_t>(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = sec_.data() + i * bytes;
        const int16_t ch = Get(entry, v2::adc::nADCNum);
        if (ch < 0 || ch >= kMaxChannels) return false;
        h_.nADCSamplingSeq[i] = ch;
        context_.key1 = ch;
        CopyIntoRecord(kAbf2AdcCopies, entry, bytes, context_, h_);
    }
    return true;
}

bool Abf2Decoder::ReadEntries(const EntrySection& s)
{
    const uint32_t bytes = map_[s.section].bytes;
    if (s.optional && (map_[s.section].block == 0 || bytes < s.minBytes)) return true;
    if (!LoadSection(s.section, s.minBytes)) return false;
    // An empty section (no block or no entries) was not measured against the file: its
    // entry size may be anything and makes no entry buffer.
    if (sec_.empty()) return true;
    std::vector<uint8_t> entry(std::max(bytes, s.extent));
    for (size_t off = 0; bytes && off + bytes <= sec_.size(); off += bytes) {
        std::fill(std::copy_n(sec_.data() + off, bytes, entry.begin()), entry.end(), 0);
        const int key1 = Get(entry.data(), s.key1);
        const int key2 = s.limit2 ? Get(entry.data(), s.key2) : 0;
        if (key1 < 0 || key1 >= s.limit1 || (s.limit2 && (key2 < 0 || key2 >= s.limit2))) continue;
        context_.key1 = key1;
        context_.key2 = key2;
        CopyIntoRecord(s.copies, s.copyCount, entry.data(), entry.size(), context_, h_);
        if (s.onEntry) s.onEntry(h_, key1);
    }
    return true;
}

// Version 2.09's gap-free start: one entry.
bool Abf2Decoder::ReadGapFreeStart()
{
    const MapEntry& s = map_[v2::kGapFreeStart];
    if (s.block == 0 || s.bytes < v2::gapfree_start::kExtent) return true;
    if (!LoadSection(v2::kGapFreeStart, v2::gapfree_start::kExtent)) return false;
    CopyIntoRecord(kAbf2GapfreeStartCopies, sec_.data(), std::min<size_t>(sec_.size(), s.bytes), context_, h_);
    return true;
}

void Abf2Decoder::FillFromMap()
{
    uint8_t* rec = reinterpret_cast<uint8_t*>(&h_);
    for (const MapPointer& m : kMapPointers) {
        const int32_t block = static_cast<int32_t>(map_[m.section].block);
        const int32_t count = static_cast<int32_t>(map_[m.section].count);
        memcpy(rec + m.pointer, &block, sizeof block);
        if (m.count) memcpy(rec + m.count, &count, sizeof count);
    }
    h_.nNumPointsIgnored = 0;
}

int Abf2Decoder::Decode()
{
    if (!ReadMap() || !ReadStrings()) return ABF_EINVALIDFILE;
    CopyIntoRecord(kAbf2FileinfoCopies, info_, sizeof info_, context_, h_);
    // Version bytes major, minor: major + minor / 100 (2.06 for 2.6.0.0).
    h_.fFileVersionNumber = static_cast<float>(Get(info_, v2::fileinfo::uFileVersionMajor)) +
                            static_cast<float>(Get(info_, v2::fileinfo::uFileVersionMinor)) / 100.0f;
    if (!ReadProtocol() || !ReadChannels()) return ABF_EINVALIDFILE;
    for (const EntrySection& s : kEntrySections)
        if (!ReadEntries(s)) return ABF_EINVALIDFILE;
    if (!ReadGapFreeStart()) return ABF_EINVALIDFILE;
    // The data section counts its samples in 64 bits, the record in 32: a longer
    // recording is refused whole rather than read as a count that wrapped.
    if (map_[v2::kData].count > static_cast<int64_t>(kMaxCountedSamples)) {
        file_.uncountedSamples = static_cast<uint64_t>(map_[v2::kData].count);
        return ABF_EINVALIDFILE;
    }
    FillFromMap();
    file_.dataOffset = static_cast<uint64_t>(map_[v2::kData].block) * abfformat::kBlockBytes;
    return 0;
}

}  // namespace

int ProbeAbf2(Source& src, int32_t* dataFormat)
{
    uint8_t info[v2::kFileInfoBytes];
    if (src.Size() < sizeof info || !src.Read(0, info, sizeof info)) return ABF_EINVALIDFILE;
    if (Get(info, v2::fileinfo::uFileVersionMajor) != v2::kMajorVersion) return ABF_EINVALIDFILE;
    // The sections that make up the header (protocol to strings) must lie inside the
    // file; data, tags and the synch array are not looked at here.
    const uint64_t size = src.Size();
    for (int i = 0; i <= v2::kStrings; ++i) {
        const MapEntry e = ReadMapEntry(info, i);
        const uint64_t start = static_cast<uint64_t>(e.block) * abfformat::kBlockBytes;
        if (e.block == 0 || e.count <= 0) continue;
        if (start >= size || static_cast<uint64_t>(e.count) > size || SectionExtent(i, e.bytes, e.count) > size - start)
            return ABF_EINVALIDFILE;
    }
    if (dataFormat) *dataFormat = Get(info, v2::fileinfo::nDataFormat);
    return 0;
}

int DecodeAbf2(OpenFile& file) { return Abf2Decoder(file).Decode(); }

}  // namespace abffio
