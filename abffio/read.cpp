// Sample reading (demultiplex and scale one channel of one episode) and the by-name copy
// of the record into the caller's layouts.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "internal.h"

namespace abffio {
namespace {

// One channel out of a block of multiplexed samples, at stride N (the channel count).
// Indices are size_t: a 32-bit index times the stride could wrap in a 64-bit build,
// which keeps the compiler from vectorising the loop. The arithmetic is element-wise,
// so the results are the same bits however the loop is compiled.
template <size_t N>
void DemuxInt16(const int16_t* __restrict s, size_t count, float factor, float shift, float* __restrict out)
{
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>(s[i * N]) * factor + shift;
}

#if defined(__SSE2__)
// Two channels, the commonest case, by hand: one 16-byte load holds four samples of the
// channel, each the low half of a 32-bit lane (s points at the channel's first sample),
// which two shifts sign-extend in place. The compiler's loop takes them apart with
// unpacks. The last samples go one by one: a load must not reach past the block.
void DemuxInt16Of2(const int16_t* s, size_t count, float factor, float shift, float* out)
{
    const __m128 f = _mm_set1_ps(factor);
    const __m128 sh = _mm_set1_ps(shift);
    size_t i = 0;
    for (; i + 4 < count; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i));
        const __m128 v = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(x, 16), 16));
        _mm_storeu_ps(out + i, _mm_add_ps(_mm_mul_ps(v, f), sh));
    }
    for (; i < count; ++i) out[i] = static_cast<float>(s[2 * i]) * factor + shift;
}
#endif

void DemuxInt16(const int16_t* __restrict s, size_t count, size_t nch, float factor, float shift, float* __restrict out)
{
    switch (nch) {
    case 1: DemuxInt16<1>(s, count, factor, shift, out); break;
#if defined(__SSE2__)
    case 2: DemuxInt16Of2(s, count, factor, shift, out); break;
#else
    case 2: DemuxInt16<2>(s, count, factor, shift, out); break;
#endif
    case 3: DemuxInt16<3>(s, count, factor, shift, out); break;
    case 4: DemuxInt16<4>(s, count, factor, shift, out); break;
    default:
        for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>(s[i * nch]) * factor + shift;
    }
}

void DemuxFloat(const uint8_t* s, size_t count, size_t nch, float* out)
{
    const size_t stride = nch * 4;
    for (size_t i = 0; i < count; ++i) memcpy(out + i, s + i * stride, 4);
}

// Sequential reads (an episode that starts where the one read before it ended) read
// ahead this much of the data in one go, in whole episodes; any other read takes just
// its episode. One read of this size costs the system call and the copy out of the
// page cache; the 16384-sample reads the callers ask for are far smaller. A window the
// processor's second-level cache holds with room to spare is still there when the
// samples are taken out of it: with 1 MiB windows the library's loop over a real
// recording of 2 MB ran at 1.04 of the bare limit's pace (1 MiB reads), with 512 KiB at
// 1.21. Smaller windows (256 KiB) slowed the reading of a 400 MB recording.
constexpr uint64_t kWindowBytes = 512 << 10;

// The memory of the last window given up, for the next one (of any file, in any
// thread). A plain pointer: it must outlive every open file, whatever the order of
// the destructors at exit; and so must its lock, which is never destroyed.
int16_t* g_spareWindow = nullptr;
size_t g_spareCapacity = 0;
std::mutex& SpareLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

// Points *raw at the raw bytes [off, off + bytes) of the data in the file's read window,
// reading them (and, when reading in order, the episodes after them) when they are not
// in it. Returns 0 or the error number.
int DataBytes(OpenFile& file, uint64_t off, uint64_t bytes, const uint8_t** raw)
{
    uint8_t* window = file.window.Data();
    const bool inWindow = window && off >= file.windowOff && bytes <= file.windowBytes &&
                          off - file.windowOff <= file.windowBytes - bytes;
    if (!inWindow) {
        // Read ahead no further than the data the header announces, nor past the file's
        // end: a read of the window that fails is a read of the file that failed.
        const uint64_t dataEnd = std::min(
            file.dataOffset + static_cast<uint64_t>(static_cast<uint32_t>(file.rec.lActualAcqLength)) * file.sampleSize,
            file.src->Size());
        uint64_t len = bytes;
        if (off == file.lastEnd && bytes > 0 && off < dataEnd)
            len = std::max(bytes, std::min(bytes * std::max<uint64_t>(1, kWindowBytes / bytes), dataEnd - off));
        file.windowBytes = 0;
        window = file.window.Get(static_cast<size_t>(len));
        if (!window) return ABF_OUTOFMEMORY;
        if (!file.src->Read(off, window, len)) return ABF_EREADDATA;
        file.windowOff = off;
        file.windowBytes = len;
    }
    file.lastEnd = off + bytes;
    *raw = window + (off - file.windowOff);
    return 0;
}

// The fields the caller's 11335-byte record and the library's record have in common
// (same name and width), as byte spans: one per row of each field, joined where they
// follow each other in both records. Made once; every open copies the record through
// them.
struct Span {
    size_t library;
    size_t caller;
    size_t bytes;
};

const std::vector<Span>& CommonSpans()
{
    static const std::vector<Span> spans = [] {
        std::vector<Span> v;
        for (const AbfFieldInfo& s : kAbfRecordFields)
            for (const AbfFieldInfo& b : kAbfLibraryRecordFields) {
                if (strcmp(s.name, b.name) != 0 || s.width != b.width) continue;
                const int rows = std::min(s.rows, b.rows);
                const size_t bytes = static_cast<size_t>(std::min(s.cols, b.cols)) * s.width;
                for (int r = 0; r < rows; ++r) {
                    const Span span{b.offset + static_cast<size_t>(r) * b.cols * b.width,
                                    s.offset + static_cast<size_t>(r) * s.cols * s.width, bytes};
                    if (!v.empty() && v.back().library + v.back().bytes == span.library &&
                        v.back().caller + v.back().bytes == span.caller)
                        v.back().bytes += span.bytes;
                    else
                        v.push_back(span);
                }
                break;
            }
        return v;
    }();
    return spans;
}

bool IsZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

}  // namespace

WindowBuffer::~WindowBuffer()
{
    if (!block_) return;
    int16_t* dropped = nullptr;
    {
        std::lock_guard<std::mutex> lock(SpareLock());
        if (capacity_ <= g_spareCapacity) return;  // block_ goes with this buffer
        dropped = g_spareWindow;
        g_spareWindow = block_.release();
        g_spareCapacity = capacity_;
    }
    delete[] dropped;
}

uint8_t* WindowBuffer::Get(size_t bytes)
{
    if (!block_ || capacity_ < bytes) {
        int16_t* spare = nullptr;
        size_t spareCapacity = 0;
        {
            std::lock_guard<std::mutex> lock(SpareLock());
            if (g_spareWindow && g_spareCapacity >= bytes && g_spareCapacity > capacity_) {
                spare = g_spareWindow;
                spareCapacity = g_spareCapacity;
                g_spareWindow = nullptr;
                g_spareCapacity = 0;
            }
        }
        if (spare) {
            block_.reset(spare);
            capacity_ = spareCapacity;
        } else {
            // A whole window at once (the pages a read does not fill are never
            // touched), not zero-filled: only what a read filled is looked at.
            const size_t capacity = std::max<size_t>(bytes, kWindowBytes);
            block_.reset();
            block_.reset(new (std::nothrow) int16_t[(capacity + 1) / 2]);
            capacity_ = block_ ? capacity : 0;
        }
    }
    return Data();
}

int ReadChannelSamples(OpenFile& file, int channel, uint32_t episode, float* out, uint32_t* count)
{
    const ABFLibraryHeader& h = file.rec;
    if (episode < 1 || episode > file.episodeCount) return ABF_EEPISODERANGE;
    const int pos = PositionOfChannel(h, channel);
    if (pos < 0) return ABF_EINVALIDCHANNEL;
    const Episode ep = EpisodeAt(file, episode - 1);
    const uint32_t nch = file.nch;
    const uint32_t n = ep.muxLength / nch;
    const uint64_t bytes = static_cast<uint64_t>(n) * nch * file.sampleSize;
    const uint64_t off = file.dataOffset + ep.muxStart * file.sampleSize;
    if (bytes > file.src->Size()) return ABF_EREADDATA;
    const uint8_t* raw = nullptr;
    if (int err = DataBytes(file, off, bytes, &raw)) return err;
    if (file.sampleSize == 4) {
        DemuxFloat(raw + static_cast<size_t>(pos) * 4, n, nch, out);
    } else {
        const int ch = channel;
        float gain = h.fInstrumentScaleFactor[ch] * h.fADCProgrammableGain[ch];
        if (h.nSignalType != 0) gain *= h.fSignalGain[ch];
        if (h.nTelegraphEnable[ch] != 0) gain *= h.fTelegraphAdditGain[ch];
        if (gain == 0.0f) gain = 1.0f;
        // A resolution of 0 is taken as the 16-bit digitizers' 32768 steps per range.
        const float resolution = h.lADCResolution ? static_cast<float>(h.lADCResolution) : 32768.0f;
        const float factor = h.fADCRange / gain / resolution;
        float shift = h.fInstrumentOffset[ch];
        if (h.nSignalType != 0) shift -= h.fSignalOffset[ch];
        DemuxInt16(reinterpret_cast<const int16_t*>(raw) + pos, n, nch, factor, shift, out);
    }
    *count = n;
    return 0;
}

void CopyToCallerRecord(const ABFLibraryHeader& src, ABFFileHeader* dst)
{
    const uint8_t* from = reinterpret_cast<const uint8_t*>(&src);
    uint8_t* to = reinterpret_cast<uint8_t*>(dst);
    for (const Span& s : CommonSpans()) memcpy(to + s.caller, from + s.library, s.bytes);
}

void CopyFromCallerRecord(const ABFFileHeader& src, ABFLibraryHeader& dst)
{
    const uint8_t* from = reinterpret_cast<const uint8_t*>(&src);
    uint8_t* to = reinterpret_cast<uint8_t*>(&dst);
    for (const Span& s : CommonSpans()) memcpy(to + s.library, from + s.caller, s.bytes);
}

void CopyToCallerLibraryRecord(const ABFLibraryHeader& src, void* dstBlock)
{
    // The library fills every field it knows; of the 50-epoch tables it leaves the
    // entries past the tenth epoch alone unless the file defines them.
    const uint8_t* s = reinterpret_cast<const uint8_t*>(&src);
    uint8_t* d = static_cast<uint8_t*>(dstBlock);
    for (const AbfFieldInfo& f : kAbfLibraryRecordFields) {
        if (f.cols != 50) {
            memcpy(d + f.offset, s + f.offset, static_cast<size_t>(f.rows) * f.cols * f.width);
            continue;
        }
        for (int r = 0; r < f.rows; ++r)
            for (int c = 0; c < 50; ++c) {
                const size_t off = f.offset + (static_cast<size_t>(r) * 50 + c) * f.width;
                if (c < 10 || !IsZero(s + off, f.width)) memcpy(d + off, s + off, f.width);
            }
    }
}

}  // namespace abffio
