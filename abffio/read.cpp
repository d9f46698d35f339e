// Sample reading (demultiplex and scale one channel of one episode) and the by-name copy
// of the record into the caller's layouts.
#include <algorithm>
#include <cstring>
#include <vector>

#include "internal.h"

namespace abffio {
namespace {

// One channel out of a block of multiplexed int16 samples, scaled. The block is the
// library's own scratch buffer (int16-aligned), read straight as int16.
void DemuxInt16(const int16_t* __restrict raw, uint32_t count, uint32_t pos, uint32_t nch, float factor, float shift,
                float* __restrict out)
{
    const int16_t* s = raw + pos;
    switch (nch) {
    case 1:
        for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<float>(s[i]) * factor + shift;
        break;
    case 2:
        for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<float>(s[2 * i]) * factor + shift;
        break;
    case 4:
        for (uint32_t i = 0; i < count; ++i) out[i] = static_cast<float>(s[4 * i]) * factor + shift;
        break;
    default:
        for (uint32_t i = 0; i < count; ++i)
            out[i] = static_cast<float>(s[static_cast<size_t>(i) * nch]) * factor + shift;
    }
}

void DemuxFloat(const uint8_t* raw, uint32_t count, uint32_t pos, uint32_t nch, float* out)
{
    const uint8_t* s = raw + static_cast<size_t>(pos) * 4;
    const size_t stride = static_cast<size_t>(nch) * 4;
    for (uint32_t i = 0; i < count; ++i) memcpy(out + i, s + i * stride, 4);
}

struct FieldPair {
    const AbfFieldInfo* small;
    const AbfFieldInfo* big;
};

const std::vector<FieldPair>& FieldPairs()
{
    static const std::vector<FieldPair> pairs = [] {
        std::vector<FieldPair> v;
        for (const AbfFieldInfo& s : kAbfRecordFields)
            for (const AbfFieldInfo& b : kAbfLibraryRecordFields)
                if (strcmp(s.name, b.name) == 0 && s.width == b.width) {
                    v.push_back({&s, &b});
                    break;
                }
        return v;
    }();
    return pairs;
}

void CopyField(const uint8_t* src, const AbfFieldInfo& sf, uint8_t* dst, const AbfFieldInfo& df)
{
    const int rows = std::min(sf.rows, df.rows);
    const int cols = std::min(sf.cols, df.cols);
    for (int r = 0; r < rows; ++r)
        memcpy(dst + df.offset + (static_cast<size_t>(r) * df.cols) * df.width,
               src + sf.offset + (static_cast<size_t>(r) * sf.cols) * sf.width, static_cast<size_t>(cols) * sf.width);
}

bool IsZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return false;
    return true;
}

}  // namespace

int ReadChannelSamples(OpenFile& file, int channel, uint32_t episode, float* out, uint32_t* count)
{
    const ABFLibraryHeader& h = file.rec;
    if (episode < 1 || episode > file.episodes.size()) return ABF_EEPISODERANGE;
    const int pos = PositionOfChannel(h, channel);
    if (pos < 0) return ABF_EINVALIDCHANNEL;
    const Episode& ep = file.episodes[episode - 1];
    const uint32_t nch = file.nch;
    const uint32_t n = ep.muxLength / nch;
    const uint64_t bytes = static_cast<uint64_t>(n) * nch * file.sampleSize;
    const uint64_t off = file.dataOffset + ep.muxStart * file.sampleSize;
    if (bytes > file.src->Size()) return ABF_EREADDATA;
    if (file.scratch.size() * 2 < bytes) file.scratch.resize(static_cast<size_t>((bytes + 1) / 2));
    if (!file.src->Read(off, file.scratch.data(), bytes)) return ABF_EREADDATA;
    if (file.sampleSize == 4) {
        DemuxFloat(reinterpret_cast<const uint8_t*>(file.scratch.data()), n, static_cast<uint32_t>(pos), nch, out);
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
        DemuxInt16(file.scratch.data(), n, static_cast<uint32_t>(pos), nch, factor, shift, out);
    }
    *count = n;
    return 0;
}

void CopyToCallerRecord(const ABFLibraryHeader& src, ABFFileHeader* dst)
{
    for (const FieldPair& p : FieldPairs())
        CopyField(reinterpret_cast<const uint8_t*>(&src), *p.big, reinterpret_cast<uint8_t*>(dst), *p.small);
}

void CopyFromCallerRecord(const ABFFileHeader& src, ABFLibraryHeader& dst)
{
    for (const FieldPair& p : FieldPairs())
        CopyField(reinterpret_cast<const uint8_t*>(&src), *p.small, reinterpret_cast<uint8_t*>(&dst), *p.big);
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
