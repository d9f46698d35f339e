// Opening a file: one look at its signature picks the format's reader (abf1.cpp,
// abf2.cpp); what follows the header is the same for both formats: the checks of the
// decoded record and the cutting of the recording into the episodes the readers hand
// out.
#include <algorithm>
#include <cstring>

#include "internal.h"

namespace abffio {
namespace {

namespace fmt = abfformat;

struct FormatReader {
    const char* signature;  // the first four bytes of the file
    int major;
    int (*probe)(Source& src, int32_t* dataFormat);
    int (*decode)(OpenFile& file);
};

const FormatReader kReaders[] = {
    {fmt::kAbf1Signature, 1, ProbeAbf1, DecodeAbf1},
    {fmt::kAbf2Signature, 2, ProbeAbf2, DecodeAbf2},
};

// The header is read in one read where it is short enough: the open reads the file's
// first kFirstRead bytes at once (the ABF2 file information with its section map and,
// in the files the recording programs write, every section before the data; an ABF1
// header of either length), then, only where the data start further on, the rest of
// what comes before the data, up to kMaxHeadBytes. What lies beyond (tables after the
// data) is read where it is. One read of a few kilobytes more costs less than a second
// system call.
constexpr uint64_t kFirstRead = 8 << 10;
constexpr uint64_t kMaxHeadBytes = 64 << 10;

// After the sniff has read the first bytes: makes the head what comes before the data,
// as the first block places the data: reads the rest of it in one read, and forgets
// what the first read took past it, so that a sample is always read from the file. A
// file whose data pointer makes no sense is left to the format's reader, which refuses
// it. False only when the file could not be read: the open fails then, rather than read
// the header piece by piece after the system failed it once.
bool LoadHeader(Source& src, const FormatReader& reader)
{
    uint32_t dataBlock = 0;
    if (reader.major == 2) {
        uint8_t entry[fmt::abf2::section::kExtent];
        if (src.Read(fmt::abf2::SectionEntryOffset(fmt::abf2::kData), entry, sizeof entry))
            dataBlock = Get(entry, fmt::abf2::section::uBlockIndex);
    } else {
        int32_t ptr = 0;
        if (src.Read(fmt::abf1::lDataSectionPtr.offset, &ptr, sizeof ptr))
            dataBlock = ptr > 0 ? static_cast<uint32_t>(ptr) : 0;
    }
    const uint64_t head = std::min<uint64_t>(static_cast<uint64_t>(dataBlock) * fmt::kBlockBytes, kMaxHeadBytes);
    src.TrimHead(head, fmt::kBlockBytes);
    return src.LoadHead(head);
}

// The reader for the file's signature, or null, after a first read of `firstRead`
// bytes. Every other signature (big-endian ABF1, byte-swapped ABF2, text files,
// pre-ABF files) is refused.
const FormatReader* Sniff(Source& src, uint64_t firstRead)
{
    if (!src.LoadHead(firstRead)) return nullptr;
    char signature[4];
    if (!src.Read(0, signature, sizeof signature)) return nullptr;
    for (const FormatReader& r : kReaders)
        if (memcmp(signature, r.signature, sizeof signature) == 0) return &r;
    return nullptr;
}

// A chunk of a continuous recording (gap-free, or variable-length events) holds at most
// this many samples per channel, whatever the caller's limit: the vendor library's cap
// on the sample limit of its open (the ABF file format, how the open cuts episodes).
constexpr uint64_t kMaxChunk = 1032258;
// A sample limit of 0 asks for the library's default read: 8192 multiplexed samples.
constexpr uint64_t kDefaultReadMuxSamples = 8192;

// The synch array (start, length pairs), empty when the file has none.
int ReadSynchArray(OpenFile& file, std::vector<int32_t>& synch)
{
    const ABFLibraryHeader& h = file.rec;
    synch.clear();
    if (h.lSynchArrayPtr <= 0 || h.lSynchArraySize <= 0) return 0;
    const uint64_t n = static_cast<uint32_t>(h.lSynchArraySize);
    const uint64_t off = static_cast<uint64_t>(static_cast<uint32_t>(h.lSynchArrayPtr)) * fmt::kBlockBytes;
    if (n > file.src->Size() / fmt::synch_entry::kExtent) return ABF_EBADSYNCH;
    synch.resize(static_cast<size_t>(n * 2));
    if (!file.src->Read(off, synch.data(), n * fmt::synch_entry::kExtent)) return ABF_EBADSYNCH;
    return 0;
}

// Whether a synch entry's length can be a sweep: positive, whole sequences of all
// channels, and no more than the samples not yet accounted for. (Within the samples
// a length fits 32 bits: the division is the shorter one, made for every sweep.)
bool ValidLength(int64_t length, uint64_t remaining, uint32_t nch)
{
    return length > 0 && static_cast<uint64_t>(length) <= remaining && static_cast<uint32_t>(length) % nch == 0;
}

// Gap-free and variable-length event files are read in chunks of at most the sample
// limit: one chunk per limit's worth of a continuous run, the last one shorter.
int CutChunked(OpenFile& file, uint32_t sampleLimit, const std::vector<int32_t>& synch)
{
    ABFLibraryHeader& h = file.rec;
    const uint32_t nch = file.nch;
    const uint64_t acq = static_cast<uint32_t>(h.lActualAcqLength);
    uint64_t c = sampleLimit ? sampleLimit : kDefaultReadMuxSamples / nch;
    c = std::min<uint64_t>({c, kMaxChunk, acq / nch});
    if (c == 0) return ABF_EINVALIDFILE;
    const uint64_t piece = c * nch;
    // Continuous runs: the whole recording, or events merged where one starts exactly
    // where the one before it ends (counts are multiplexed samples).
    struct Run {
        int64_t start;
        uint64_t length;
        uint64_t mux;
    };
    std::vector<Run> runs;
    if (synch.empty()) {
        if (h.nOperationMode == kAbfVariableLengthEvents) return ABF_ENOSYNCHPRESENT;
        runs.push_back({0, acq / nch * nch, 0});
    }
    uint64_t used = 0;
    for (size_t i = 0; i < synch.size(); i += 2) {
        const int64_t start = synch[i];
        const int64_t length = synch[i + 1];
        if (!ValidLength(length, acq - used, nch)) return ABF_EBADSYNCH;
        if (!runs.empty() && start < runs.back().start) return ABF_EBADSYNCH;
        if (!runs.empty() && runs.back().start + static_cast<int64_t>(runs.back().length) == start)
            runs.back().length += static_cast<uint64_t>(length);
        else
            runs.push_back({start, static_cast<uint64_t>(length), used});
        used += static_cast<uint64_t>(length);
    }
    uint64_t count = 0;
    for (const Run& r : runs) count += (r.length + piece - 1) / piece;
    if (runs.size() == 1) {
        // One run: its episodes are cut as they are asked for (EpisodeAt).
        file.run = {runs[0].mux, 0, runs[0].start};
        file.runLength = runs[0].length;
        file.runPiece = piece;
    } else {
        // Every open cuts the episodes of several runs anew: one allocation for all
        // of them, filled in place.
        file.episodes.resize(static_cast<size_t>(count));
        Episode* e = file.episodes.data();
        for (const Run& r : runs)
            for (uint64_t p = 0; p < r.length; p += piece, ++e) {
                const uint64_t len = std::min<uint64_t>(piece, r.length - p);
                *e = {r.mux + p, static_cast<uint32_t>(len), r.start + static_cast<int64_t>(p)};
            }
    }
    file.episodeCount = count;
    file.maxSamples = static_cast<uint32_t>(c);
    h.lNumSamplesPerEpisode = static_cast<int32_t>(piece);
    return 0;
}

// Fixed-length sweeps (episodic, fixed-length events, oscilloscope): one episode per
// synch entry, or, for an episodic file without a synch array, lActualEpisodes sweeps
// of lNumSamplesPerEpisode back to back.
int CutSweeps(OpenFile& file, const std::vector<int32_t>& synch)
{
    const ABFLibraryHeader& h = file.rec;
    const uint32_t nch = file.nch;
    const uint64_t acq = static_cast<uint32_t>(h.lActualAcqLength);
    const int64_t perEpisode = h.lNumSamplesPerEpisode;
    const bool fixedEvents = h.nOperationMode == kAbfFixedLengthEvents;
    if (perEpisode <= 0 || perEpisode % nch) return ABF_EEPISODESIZE;
    if (synch.empty()) {
        if (h.nOperationMode != kAbfEpisodic) return ABF_ENOSYNCHPRESENT;
        const int64_t count = h.lActualEpisodes;
        if (count <= 0 || static_cast<uint64_t>(count) * static_cast<uint64_t>(perEpisode) > acq)
            return ABF_EEPISODESIZE;
        // (Filled in place, field by field: an episode composed aside and copied in
        // as a whole stalls on every copy, the copy's load waiting for the stores.)
        file.episodes.resize(static_cast<size_t>(count));
        for (int64_t e = 0; e < count; ++e) {
            Episode& ep = file.episodes[static_cast<size_t>(e)];
            ep.muxStart = static_cast<uint64_t>(e * perEpisode);
            ep.muxLength = static_cast<uint32_t>(perEpisode);
            ep.startCount = kStartFromInterval;
        }
    } else {
        file.episodes.resize(synch.size() / 2);
    }
    uint64_t used = 0;
    for (size_t i = 0; i < synch.size(); i += 2) {
        const int64_t start = synch[i];
        const int64_t length = synch[i + 1];
        // A sweep longer than the episode size would not fit the caller's read buffer.
        if (!ValidLength(length, acq - used, nch) || length > perEpisode) return ABF_EBADSYNCH;
        if (fixedEvents && start < 0 && start != kAveragedSweep) return ABF_EBADSYNCH;
        Episode& ep = file.episodes[i / 2];
        ep.muxStart = used;
        ep.muxLength = static_cast<uint32_t>(length);
        ep.startCount = start;
        used += static_cast<uint64_t>(length);
    }
    // Fixed-length events may overlap in time; each is cut short where the next begins
    // (averaged sweeps have no time and stay whole). Where the data lie does not change.
    for (size_t i = 0; fixedEvents && i + 1 < file.episodes.size(); ++i) {
        Episode& a = file.episodes[i];
        const Episode& b = file.episodes[i + 1];
        if (a.startCount == kAveragedSweep || b.startCount == kAveragedSweep) continue;
        if (a.startCount + a.muxLength <= b.startCount) continue;
        if (b.startCount <= a.startCount) return ABF_EBADSYNCH;
        a.muxLength = static_cast<uint32_t>(b.startCount - a.startCount);
    }
    file.maxSamples = static_cast<uint32_t>(perEpisode / nch);
    file.episodeCount = file.episodes.size();
    return 0;
}

int CutEpisodes(OpenFile& file, uint32_t sampleLimit)
{
    ABFLibraryHeader& h = file.rec;
    std::vector<int32_t> synch;
    if (int err = ReadSynchArray(file, synch)) return err;
    // Every sample the header announces must be in the file: this bounds the episodes,
    // every read, buffer and waveform by the file's real size.
    const uint64_t dataBytes = static_cast<uint64_t>(static_cast<uint32_t>(h.lActualAcqLength)) * file.sampleSize;
    const uint64_t fileSize = file.src->Size();
    if (file.dataOffset > fileSize || dataBytes > fileSize - file.dataOffset) return ABF_EREADDATA;

    file.episodes.clear();
    file.runPiece = 0;
    file.episodeCount = 0;
    int err;
    switch (h.nOperationMode) {
    case kAbfGapFree:
    case kAbfVariableLengthEvents: err = CutChunked(file, sampleLimit, synch); break;
    case kAbfFixedLengthEvents:
    case kAbfHighSpeedOscilloscope:
    case kAbfEpisodic: err = CutSweeps(file, synch); break;
    default: err = ABF_EINVALIDFILE;
    }
    if (err) return err;
    h.lActualEpisodes = static_cast<int32_t>(file.episodeCount);
    return 0;
}

// What the vendor library's open refuses once the header is read.
int CheckRecord(const ABFLibraryHeader& h)
{
    if (h.lActualAcqLength <= 0 || h.nADCNumChannels <= 0) return ABF_EINVALIDFILE;
    if (h.nADCNumChannels > kMaxChannels) return ABF_EINVALIDFILE;
    if (h.nDataFormat != 0 && h.nDataFormat != 1) return ABF_EINVALIDFILE;
    for (int i = 0; i < h.nADCNumChannels; ++i)
        if (h.nADCSamplingSeq[i] < 0 || h.nADCSamplingSeq[i] >= kMaxChannels) return ABF_EINVALIDFILE;
    return 0;
}

}  // namespace

void InitRecord(ABFLibraryHeader& h)
{
    memset(&h, 0, sizeof h);
    // The version of the library this one stands in for, whatever the caller prepared.
    h.fHeaderVersionNumber = 2.09f;
    h.nFileType = 1;
}

int ProbeFile(Source& src, int32_t* dataFormat)
{
    // (The file-type test reads no more than the first block.)
    const FormatReader* reader = Sniff(src, fmt::kBlockBytes);
    return reader ? reader->probe(src, dataFormat) : ABF_EINVALIDFILE;
}

int DecodeFile(OpenFile& file, uint32_t sampleLimit)
{
    const FormatReader* reader = Sniff(*file.src, kFirstRead);
    if (!reader) return ABF_EINVALIDFILE;
    if (!LoadHeader(*file.src, *reader)) return ABF_EINVALIDFILE;
    if (int err = reader->probe(*file.src, nullptr)) return err;
    file.abfMajor = reader->major;
    InitRecord(file.rec);
    if (int err = reader->decode(file)) {
        if (file.uncountedSamples) NoteTooManySamples(file.name, file.uncountedSamples);
        return err;
    }
    const ABFLibraryHeader& h = file.rec;
    if (int err = CheckRecord(h)) return err;
    file.nch = static_cast<uint32_t>(h.nADCNumChannels);
    file.sampleSize = h.nDataFormat ? sizeof(float) : sizeof(int16_t);
    // Leading samples to skip (garbage words of old files) count only in gap-free files.
    if (h.nOperationMode == kAbfGapFree)
        file.dataOffset += static_cast<uint64_t>(std::max<int16_t>(h.nNumPointsIgnored, 0)) * file.sampleSize;
    return CutEpisodes(file, sampleLimit);
}

int PositionOfChannel(const ABFLibraryHeader& h, int channel)
{
    const int n = std::min<int>(h.nADCNumChannels, kMaxChannels);
    for (int i = 0; i < n; ++i)
        if (h.nADCSamplingSeq[i] == channel) return i;
    return -1;
}

}  // namespace abffio
