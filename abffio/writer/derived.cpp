// What follows from a recording's description: the sweeps, their starts, the
// synch unit, and the figures both formats' headers take from it.
#include <algorithm>
#include <cmath>

#include "internal.h"

namespace abfw {

std::string DacName(const RecordingSpec& rec, size_t d)
{
    if (d < rec.dacs.size() && !rec.dacs[d].name.empty()) return rec.dacs[d].name;
    return (d < 4 ? "Cmd " : "AO #") + std::to_string(d);
}
std::string DacUnits(const RecordingSpec& rec, size_t d) { return d < rec.dacs.size() ? rec.dacs[d].units : "mV"; }
const Dac& DacOrDefault(const RecordingSpec& rec, size_t d)
{
    static const Dac none;
    return d < rec.dacs.size() ? rec.dacs[d] : none;
}

int64_t MuxSamples(const RecordingSpec& rec)
{
    int64_t n = 0;
    for (int64_t len : SweepLengths(rec)) n += len;
    return n * int64_t(rec.channels.size());
}

uint32_t SampleBytes(const RecordingSpec& rec) { return rec.dataFormat == DataFormat::Float32 ? 4 : 2; }

bool HasSynch(const RecordingSpec& rec) { return rec.mode != Mode::GapFree && rec.writeSynchArray; }

namespace {

// A gap-free file's lNumSamplesPerEpisode counts no sweep: it is the size of the
// chunks the acquisition program displayed the recording in (real files hold 256,
// 4000, 16000 ...), and an ABF1 file counts its lActualEpisodes in such chunks.
// Without a size of its own the writer takes this many samples per channel, or the
// whole recording when it is shorter. (Readers cut a gap-free recording by their
// own sample limit, not by this.)
constexpr int64_t kGapFreeChunkSamples = 8192;

}  // namespace

// Per-channel samples of the protocol's sweep (lNumSamplesPerEpisode / nch).
int64_t ProtocolSweepSamples(const RecordingSpec& rec)
{
    if (rec.mode == Mode::GapFree) {
        if (rec.displaySamplesPerEpisode > 0) return rec.displaySamplesPerEpisode;
        return std::min<int64_t>(rec.samplesPerChannel, kGapFreeChunkSamples);
    }
    if (rec.samplesPerEpisode > 0) return rec.samplesPerEpisode;
    int64_t m = 0;
    for (int64_t len : SweepLengths(rec)) m = std::max(m, len);
    return m;
}

bool AnyDigital(const RecordingSpec& rec)
{
    if (rec.activeDac < 0 || size_t(rec.activeDac) >= rec.dacs.size()) return false;
    for (const Epoch& e : rec.dacs[size_t(rec.activeDac)].epochs)
        if (e.type != kEpochDisabled && e.digitalValue != 0) return true;
    return false;
}

bool AnyExternalTag(const RecordingSpec& rec)
{
    for (const Tag& t : rec.tags)
        if (t.type == kAbfExternalTag) return true;
    return false;
}

double TotalSeconds(const RecordingSpec& rec)
{
    double s = 0;
    for (int64_t len : SweepLengths(rec)) s += double(len) * double(rec.sequenceIntervalUs) * 1e-6;
    return s;
}

// A pre-trigger of a 64th of the sweep, at most 512 samples (a usual protocol setting).
int32_t PreTrigger(int64_t sweepMuxSamples) { return int32_t(std::min<int64_t>(sweepMuxSamples / 64, 512)); }

std::vector<int64_t> SweepLengths(const RecordingSpec& rec)
{
    if (rec.mode == Mode::GapFree) return {std::max<int64_t>(0, rec.samplesPerChannel)};
    if (!rec.episodeLengths.empty()) return std::vector<int64_t>(rec.episodeLengths.begin(), rec.episodeLengths.end());
    return std::vector<int64_t>(size_t(std::max(0, rec.episodes)), int64_t(std::max(0, rec.samplesPerEpisode)));
}

double SynchCountUs(const RecordingSpec& rec)
{
    if (rec.synchTimeUnit > 0) return rec.synchTimeUnit;
    return double(rec.sequenceIntervalUs) / double(std::max<size_t>(1, rec.channels.size()));
}

int32_t SecondsToCounts(const RecordingSpec& rec, double seconds)
{
    return int32_t(std::llround(seconds * 1e6 / SynchCountUs(rec)));
}

std::vector<int64_t> SweepStarts(const RecordingSpec& rec)
{
    if (rec.mode == Mode::GapFree) return {};
    const std::vector<int64_t> lengths = SweepLengths(rec);
    if (!rec.episodeStarts.empty()) return rec.episodeStarts;
    std::vector<int64_t> starts;
    const double unit = SynchCountUs(rec);
    double t = 0;  // µs
    for (size_t e = 0; e < lengths.size(); ++e) {
        starts.push_back(std::llround(t / unit));
        const double durUs = double(lengths[e]) * double(rec.sequenceIntervalUs);
        if (rec.mode == Mode::Episodic || rec.mode == Mode::Oscilloscope) {
            t += std::max(durUs, double(rec.episodeStartToStartS) * 1e6);
        } else {
            // Events arrive after a seeded pause of 10 to 110 % of the sweep's length.
            const uint64_t h = (rec.seed + 0x51ED27ull * (e + 1)) * 0x9E3779B97F4A7C15ull;
            t += durUs * (1.1 + double((h >> 40) % 1000) / 1000.0);
        }
    }
    return starts;
}

}  // namespace abfw
