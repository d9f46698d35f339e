// Inside the ABF library: an opened file, its decoded record, its episodes, and the
// readers behind the exported entry points.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "abffio/format/abf_format.h"
#include "interface/abffio.h"

namespace abffio {

// A little-endian value of type T at byte `off` of `p` (both targets are little-endian).
template <class T>
T Get(const uint8_t* p, size_t off)
{
    T v;
    memcpy(&v, p + off, sizeof(T));
    return v;
}
// Element i of a named field of the structure at `p`.
template <class T>
T Get(const uint8_t* p, const abfformat::Field<T>& field, uint32_t i = 0)
{
    return Get<T>(p, field.At(i));
}

// Random access to the bytes of one file: a file opened by name, or a block of memory.
// A file is read with positioned reads of the system's own (pread, ReadFile at an
// offset): no stream, no file position, no buffer of the C library between the
// library and the file. Opening one costs the open itself and one query of its size.
class Source {
public:
    // The named file opened for reading, or null when it cannot be opened, is not a
    // regular file or its size cannot be had.
    static std::unique_ptr<Source> Open(const char* name);
    static std::unique_ptr<Source> FromMemory(const uint8_t* data, uint64_t size);
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source();
    uint64_t Size() const { return size_; }
    // Reads exactly n bytes at off; false when any of them lies past the end or the read fails.
    bool Read(uint64_t off, void* dst, uint64_t n);
    // Whether a read failed because the system reported an error (not an early end).
    bool IoError() const { return ioError_; }
    // Reads the file's first n bytes (no more than it has) in one go, if they are not
    // read yet; reads inside them are answered from memory from then on. The open
    // reads the header this way: its fields and tables in one read of the file (two
    // for a header longer than the first read) instead of one read each.
    bool LoadHead(uint64_t n);
    // Forgets the head's bytes from n on (never the first `keep` bytes): what lies
    // past the header (samples, which a first read of fixed size may have taken
    // along) is read from the file when asked for, like every sample.
    void TrimHead(uint64_t n, uint64_t keep);

private:
    Source() = default;
    bool ReadAt(uint64_t off, void* dst, uint64_t n);
    bool Failed(bool ioError);
    bool ioError_ = false;
    bool isFile_ = false;
    intptr_t file_ = -1;  // the descriptor (a HANDLE on Windows) of a file
    const uint8_t* mem_ = nullptr;
    uint64_t size_ = 0;
    std::unique_ptr<uint8_t[]> head_;  // the file's first headSize_ bytes (not zero-filled first)
    uint64_t headSize_ = 0;
};

// Sampled channels: the record's sampling sequence and per-channel fields hold 16.
inline constexpr int kMaxChannels = sizeof(ABFLibraryHeader::nADCSamplingSeq) / sizeof(int16_t);

// One episode as the library hands it out: where its multiplexed samples lie and when it starts.
struct Episode {
    uint64_t muxStart;   // first multiplexed sample, counted from the data start
    uint32_t muxLength;  // multiplexed samples (all channels)
    int64_t startCount;  // start in synch-time counts, or one of the two marks below
};
// A synch entry whose start is -1 (0xFFFFFFFF) marks an averaged sweep: it has no time.
inline constexpr int64_t kAveragedSweep = -1;
// An episodic file without a synch array: the start follows from the episode interval.
inline constexpr int64_t kStartFromInterval = -2;

// The memory of a read window. One given up (its file closed) is kept for the next
// window: a caller that opens and reads one small file after another does not
// allocate a fresh megabyte (and fault in its pages) for every file.
class WindowBuffer {
public:
    WindowBuffer() = default;
    WindowBuffer(const WindowBuffer&) = delete;
    WindowBuffer& operator=(const WindowBuffer&) = delete;
    ~WindowBuffer();
    // At least `bytes` bytes, 2-aligned, their contents left as they were; null when
    // there is no memory for them.
    uint8_t* Get(size_t bytes);
    // The memory as it is (null before the first Get).
    uint8_t* Data() const { return reinterpret_cast<uint8_t*>(block_.get()); }

private:
    std::unique_ptr<int16_t[]> block_;
    size_t capacity_ = 0;  // bytes
};

struct OpenFile {
    std::unique_ptr<Source> src;
    std::string name;
    ABFLibraryHeader rec;     // what the open reports, in the library's own layout (set by DecodeFile)
    int abfMajor = 0;         // 1 or 2
    uint64_t dataOffset = 0;  // byte offset of the first sample
    uint32_t sampleSize = 2;  // 2 (int16) or 4 (float32)
    uint32_t nch = 1;
    uint32_t maxSamples = 0;  // per channel: what one read delivers at most
    // The episodes: listed one by one, or, for a continuous recording of one run (a
    // gap-free file; events that join into one), cut from the run as they are asked
    // for (see EpisodeAt): a 100 M sample recording has thousands, and listing them
    // took half of each open.
    std::vector<Episode> episodes;
    Episode run = {0, 0, 0};  // the one run (muxLength unused), when runPiece > 0
    uint64_t runLength = 0;   // its multiplexed samples
    uint64_t runPiece = 0;    // multiplexed samples a read takes; 0: `episodes` lists them
    uint64_t episodeCount = 0;
    // The read window: raw bytes [windowOff, windowOff + windowBytes) of the file, the
    // last episode read or, when episodes are read in order, the ones after it too
    // (float data is held in it as bytes). lastEnd: where the last episode read ended.
    WindowBuffer window;
    uint64_t windowOff = 0;
    uint64_t windowBytes = 0;
    uint64_t lastEnd = 0;
    // An ABF2 data section of more samples than the record's 32-bit lActualAcqLength
    // counts (2^31 - 1): the open refuses the file (ABF_EINVALIDFILE) and says so in
    // the error text of its name (see NoteTooManySamples).
    uint64_t uncountedSamples = 0;
};

// Episode `index` (0-based, below file.episodeCount).
inline Episode EpisodeAt(const OpenFile& file, uint64_t index)
{
    if (file.runPiece == 0) return file.episodes[static_cast<size_t>(index)];
    const uint64_t p = index * file.runPiece;
    const uint64_t length = file.runLength - p < file.runPiece ? file.runLength - p : file.runPiece;
    return {file.run.muxStart + p, static_cast<uint32_t>(length), file.run.startCount + static_cast<int64_t>(p)};
}

// The two formats' readers, one module each (abf1.cpp, abf2.cpp), with the same stages:
// `Probe` checks what the file-type test checks (version, a header inside the file) and
// gives nDataFormat; `Decode` fills `file.rec` (prepared by InitRecord) from the header
// and sets `file.dataOffset`. Both return 0 or an error number.
int ProbeAbf1(Source& src, int32_t* dataFormat);
int DecodeAbf1(OpenFile& file);
int ProbeAbf2(Source& src, int32_t* dataFormat);
int DecodeAbf2(OpenFile& file);

// Decodes the header of `file` into `file.rec` and cuts its episodes. `sampleLimit` is the
// caller's sample limit (per channel). On failure returns the error number; the record may
// already hold what was decoded (the caller decides what to pass on).
int DecodeFile(OpenFile& file, uint32_t sampleLimit);

// Signature test only: 0 when the first bytes look like an ABF1 or ABF2 header, else the
// error number. `dataFormat` receives nDataFormat.
int ProbeFile(Source& src, int32_t* dataFormat);

// Resets a record to the library's initial values.
void InitRecord(ABFLibraryHeader& h);

// Reads physical channel `channel` of episode `episode` (1-based) as scaled floats.
int ReadChannelSamples(OpenFile& file, int channel, uint32_t episode, float* out, uint32_t* count);

// Index of the sampling position of physical channel `channel`, or -1.
int PositionOfChannel(const ABFLibraryHeader& h, int channel);

// Copies the record by field name into a caller's 11335-byte record, or the whole library
// layout into a caller's 30023-byte block.
void CopyToCallerRecord(const ABFLibraryHeader& src, ABFFileHeader* dst);
void CopyToCallerLibraryRecord(const ABFLibraryHeader& src, void* dst);
// And back: the fields of a caller's 11335-byte record, by name, over a library record.
void CopyFromCallerRecord(const ABFFileHeader& src, ABFLibraryHeader& dst);

// Opens a file from memory (used by the fuzzer and the tests); same results as ABF_ReadOpen.
ABFBOOL OpenFromMemory(const uint8_t* data, size_t size, int32_t* handle, ABFFileHeader* header, uint32_t* maxSamples,
                       uint32_t* maxEpisodes, int32_t* error);

// Text for an error number, in our own words; empty when the number is unknown.
std::string ErrorText(int errorNumber, const char* fileName);

// The most samples (all channels) the record can count: lActualAcqLength is 32-bit.
inline constexpr uint64_t kMaxCountedSamples = 2147483647;
// Remembers that the file of this name was refused for holding `samples` samples,
// more than kMaxCountedSamples: ErrorText(ABF_EINVALIDFILE, name) then says so
// rather than calling the file invalid. The last few names are kept.
void NoteTooManySamples(const std::string& fileName, uint64_t samples);

}  // namespace abffio
