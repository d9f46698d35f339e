// The data section, streamed: the samples generated chunk by chunk (signal.cpp),
// quantised to int16 or kept as float32, written in multiplexed order and padded to
// a block. Recordings far larger than memory are written this way.
#include <algorithm>

#include "internal.h"

namespace abfw {

bool WriteAll(FILE* f, const void* p, size_t n) { return n == 0 || std::fwrite(p, 1, n, f) == n; }

bool SeekFromStart(FILE* f, int64_t at)
{
#if defined(_WIN32)
    return at >= 0 && _fseeki64(f, at, SEEK_SET) == 0;
#else
    return at >= 0 && fseeko(f, off_t(at), SEEK_SET) == 0;
#endif
}

int64_t Position(FILE* f)
{
#if defined(_WIN32)
    return _ftelli64(f);
#else
    return int64_t(ftello(f));
#endif
}

bool StreamData(const RecordingSpec& rec, FILE* f, std::string* error)
{
    const size_t nch = rec.channels.size();
    int64_t remaining = MuxSamples(rec) / int64_t(nch);
    const int64_t chunk = std::max<int64_t>(1, (int64_t(1) << 18) / int64_t(nch));
    std::vector<float> values(size_t(chunk) * nch);
    std::vector<uint8_t> bytes(values.size() * 4);
    std::vector<double> inverse(nch), offset(nch);
    for (size_t p = 0; p < nch; ++p) {
        inverse[p] = 1.0 / double(ScaleFactor(rec, rec.channels[p]));
        offset[p] = rec.channels[p].offset;
    }
    int64_t first = 0;
    int64_t written = 0;
    if (rec.unwrittenSamples > 0) {
        // Past the unwritten samples without writing them; the file grows with the
        // first write after them (a hole where the file system has sparse files).
        const int64_t skip = rec.unwrittenSamples * int64_t(nch) * SampleBytes(rec);
        if (std::fflush(f) != 0 || !SeekFromStart(f, Position(f) + skip))
            return Fail(error, "cannot seek in the data section");
        written += skip;
        remaining -= rec.unwrittenSamples;
    }
    while (remaining > 0) {
        const int64_t n = std::min(chunk, remaining);
        if (!GenerateSamples(rec, first, n, values.data(), error)) return false;
        const size_t count = size_t(n) * nch;
        size_t nbytes;
        if (rec.dataFormat == DataFormat::Float32) {
            std::memcpy(bytes.data(), values.data(), count * 4);
            nbytes = count * 4;
        } else {
            for (size_t k = 0; k < count; k += nch)
                for (size_t p = 0; p < nch; ++p) {
                    const int16_t raw = QuantiseWith(values[k + p], inverse[p], offset[p]);
                    std::memcpy(&bytes[2 * (k + p)], &raw, 2);
                }
            nbytes = count * 2;
        }
        if (!WriteAll(f, bytes.data(), nbytes)) return Fail(error, "write error in the data section");
        written += int64_t(nbytes);
        first += n;
        remaining -= n;
    }
    static const uint8_t zeros[kBlock] = {};
    const int64_t pad = Blocks(written) * kBlock - written;
    if (!WriteAll(f, zeros, size_t(pad))) return Fail(error, "write error in the data section");
    return true;
}

}  // namespace abfw
