// Sample values of a recording: the seeded synthetic signal, explicit values or a
// raw float32 file. Every synthetic value depends only on (seed, position, sample
// index), so any chunking of the stream yields the same numbers.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "abf_writer.h"

namespace abfw {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kSpikeBlock = 2048;  // at most one spike per block of samples
constexpr int64_t kSpikeWidth = 48;
constexpr int64_t kSineAnchor = 4096;  // the sine is recomputed exactly at these indices

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t Hash(uint64_t seed, uint64_t stream, uint64_t index)
{
    return Mix(Mix(seed ^ (stream * 0xD6E8FEB86659FD93ull)) ^ index);
}

// Approximately normal, unit standard deviation (sum of four uniforms).
float Gauss(uint64_t h)
{
    const int64_t s =
        int64_t(h & 0xFFFF) + int64_t((h >> 16) & 0xFFFF) + int64_t((h >> 32) & 0xFFFF) + int64_t(h >> 48);
    constexpr double kScale = 1.0 / (65535.0 * 0.5773502691896258);
    return float(double(s - 2 * 65535) * kScale);
}

// Level of the active DAC's epoch table at per-channel sample k of sweep e (0-based),
// steps only (ramps and trains enter as their level), relative to the holding level.
double CommandStep(const RecordingSpec& rec, int64_t sweepLength, int64_t e, int64_t k)
{
    if (rec.activeDac < 0 || size_t(rec.activeDac) >= rec.dacs.size()) return 0.0;
    const Dac& dac = rec.dacs[size_t(rec.activeDac)];
    if (!dac.waveformEnable) return 0.0;
    int64_t pos = sweepLength / 64;
    if (pos < 1) pos = 1;
    if (k < pos) return 0.0;
    for (const Epoch& ep : dac.epochs) {
        if (ep.type == kEpochDisabled) continue;
        const int64_t dur = int64_t(ep.initDuration) + e * int64_t(ep.durationInc);
        if (dur <= 0) continue;
        if (k < pos + dur) return double(ep.initLevel) + double(e) * double(ep.levelInc) - double(dac.holding);
        pos += dur;
    }
    return 0.0;
}

struct SweepCursor {
    std::vector<int64_t> lengths;
    size_t sweep = 0;
    int64_t sweepStart = 0;  // per-channel index where `sweep` begins
    void Seek(int64_t i)
    {
        while (sweep + 1 < lengths.size() && i >= sweepStart + lengths[sweep]) {
            sweepStart += lengths[sweep];
            ++sweep;
        }
    }
};

bool Synthetic(const RecordingSpec& rec, int64_t first, int64_t count, float* out)
{
    const size_t nch = rec.channels.size();
    const bool episodic = rec.mode == Mode::Episodic;
    const double dt = double(rec.sequenceIntervalUs) * 1e-6;
    int64_t squarePeriod = int64_t(std::llround(1.0 / dt));
    if (squarePeriod < 2) squarePeriod = 2;
    for (size_t p = 0; p < nch; ++p) {
        const Channel& ch = rec.channels[p];
        SweepCursor cur;
        if (episodic) cur.lengths = SweepLengths(rec);
        const double omega = 2.0 * kPi * double(ch.sineHz) * dt;
        double s = 0, c = 1, rs = 0, rc = 1;
        int64_t anchorEnd = -1;
        int64_t spikeBlock = -1, spikeAt = -1;
        const uint64_t noiseKey = Hash(rec.seed, 2 * p, 0x5EEDull);
        for (int64_t k = 0; k < count; ++k) {
            const int64_t i = first + k;
            double v = ch.baseline;
            if (ch.noise != 0.0f) v += double(ch.noise) * Gauss(Mix(noiseKey ^ uint64_t(i)));
            if (ch.stepAmplitude != 0.0f) {
                if (episodic) {
                    cur.Seek(i);
                    v += double(ch.stepAmplitude) *
                         CommandStep(rec, cur.lengths.empty() ? 0 : cur.lengths[cur.sweep], int64_t(cur.sweep),
                                     i - cur.sweepStart) /
                         10.0;
                } else if ((i % squarePeriod) >= squarePeriod / 2) {
                    v += ch.stepAmplitude;
                }
            }
            if (ch.spikeAmplitude != 0.0f) {
                const int64_t block = i / kSpikeBlock;
                if (block != spikeBlock) {
                    spikeBlock = block;
                    const uint64_t h = Hash(rec.seed, 2 * p + 1, uint64_t(block));
                    spikeAt = (h & 3) == 0
                                  ? block * kSpikeBlock + int64_t((h >> 8) % uint64_t(kSpikeBlock - kSpikeWidth))
                                  : -1;
                }
                if (spikeAt >= 0) {
                    const int64_t j = i - spikeAt;
                    if (j >= 0 && j < kSpikeWidth) {
                        const double x = double(j);
                        v += double(ch.spikeAmplitude) * (1.0 - std::exp(-x / 1.5)) * std::exp(-x / 6.0) / 0.6;
                    }
                }
            }
            if (ch.sineAmplitude != 0.0f) {
                if (i >= anchorEnd || k == 0) {
                    const int64_t anchor = i - (i % kSineAnchor);
                    s = std::sin(omega * double(anchor));
                    c = std::cos(omega * double(anchor));
                    rs = std::sin(omega);
                    rc = std::cos(omega);
                    for (int64_t a = anchor; a < i; ++a) {
                        const double ns = s * rc + c * rs;
                        c = c * rc - s * rs;
                        s = ns;
                    }
                    anchorEnd = anchor + kSineAnchor;
                }
                v += double(ch.sineAmplitude) * s;
                const double ns = s * rc + c * rs;
                c = c * rc - s * rs;
                s = ns;
            }
            out[size_t(k) * nch + p] = float(v);
        }
    }
    return true;
}

bool FromRawFile(const RecordingSpec& rec, int64_t first, int64_t count, float* out, std::string* error)
{
    const size_t nch = rec.channels.size();
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(rec.rawPath.c_str(), "rb"), &std::fclose);
    if (!f) {
        if (error) *error = "cannot open raw sample file \"" + rec.rawPath + "\"";
        return false;
    }
    const int64_t offset = first * int64_t(nch) * 4;
#if defined(_WIN32)
    const int rc = _fseeki64(f.get(), offset, SEEK_SET);
#else
    const int rc = fseeko(f.get(), off_t(offset), SEEK_SET);
#endif
    const size_t want = size_t(count) * nch;
    std::vector<uint8_t> bytes(want * 4);
    if (rc != 0 || std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) {
        if (error) *error = "raw sample file \"" + rec.rawPath + "\" holds fewer samples than the recording needs";
        return false;
    }
    for (size_t k = 0; k < want; ++k) {
        const uint32_t u = uint32_t(bytes[4 * k]) | uint32_t(bytes[4 * k + 1]) << 8 | uint32_t(bytes[4 * k + 2]) << 16 |
                           uint32_t(bytes[4 * k + 3]) << 24;
        float v;
        static_assert(sizeof v == 4, "float size");
        std::memcpy(&v, &u, 4);
        out[k] = v;
    }
    return true;
}

}  // namespace

bool GenerateSamples(const RecordingSpec& rec, int64_t first, int64_t count, float* out, std::string* error)
{
    if (count <= 0) return true;
    if (rec.channels.empty() || first < 0) {
        if (error) *error = "no channels";
        return false;
    }
    const size_t nch = rec.channels.size();
    switch (rec.source) {
    case SignalSource::Synthetic: return Synthetic(rec, first, count, out);
    case SignalSource::Values:
        if (uint64_t(first + count) * nch > rec.values.size()) {
            if (error) *error = "fewer sample values than the recording needs";
            return false;
        }
        std::copy(rec.values.begin() + std::ptrdiff_t(uint64_t(first) * nch),
                  rec.values.begin() + std::ptrdiff_t(uint64_t(first + count) * nch), out);
        return true;
    case SignalSource::RawFile: return FromRawFile(rec, first, count, out, error);
    }
    return false;
}

float ScaleFactor(const RecordingSpec& rec, const Channel& ch)
{
    float g = ch.scaleFactor * ch.gain;
    if (ch.telegraph) g *= ch.telegraphGain;
    if (g == 0.0f) g = 1.0f;
    return (rec.adcRange / g) / float(rec.adcResolution);
}

int16_t QuantiseWith(float value, double inverseFactor, double offset)
{
    const double raw = std::nearbyint((double(value) - offset) * inverseFactor);
    if (std::isnan(raw)) return 0;
    if (raw < -32768.0) return -32768;
    if (raw > 32767.0) return 32767;
    return int16_t(raw);
}

int16_t Quantise(const RecordingSpec& rec, const Channel& ch, float value)
{
    return QuantiseWith(value, 1.0 / double(ScaleFactor(rec, ch)), ch.offset);
}

}  // namespace abfw
