// Written, then read back with our ABF library: header values, samples, episodes,
// start times and tags over a seeded grid of options and over the presets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "abffio/writer/abf_writer.h"
#include "parsed_file.h"
#include "tests/support/library_file.h"

using namespace abfw;

namespace {

struct Episode {
    int64_t first;    // per-channel index into the written stream
    int64_t samples;  // per channel
    int64_t start;    // synch counts
};

// How the library cuts the file into episodes for a read limit of 16384 samples.
std::vector<Episode> ExpectedEpisodes(const RecordingSpec& rec)
{
    const int64_t nch = int64_t(rec.channels.size());
    const std::vector<int64_t> lengths = SweepLengths(rec);
    const std::vector<int64_t> starts = SweepStarts(rec);
    int64_t total = 0;
    for (int64_t l : lengths) total += l;
    std::vector<Episode> out;
    const int64_t c = std::min<int64_t>(kAbfSampleLimit, total);
    if (rec.mode == Mode::GapFree) {
        for (int64_t first = 0; first < total; first += c)
            out.push_back({first, std::min(c, total - first), first * nch});
        return out;
    }
    if (rec.mode == Mode::VariableEvents) {
        struct Run {
            int64_t start, first, samples;
        };
        std::vector<Run> runs;
        int64_t first = 0;
        for (size_t k = 0; k < lengths.size(); ++k) {
            if (!runs.empty() && starts[k] == runs.back().start + runs.back().samples * nch)
                runs.back().samples += lengths[k];
            else
                runs.push_back({starts[k], first, lengths[k]});
            first += lengths[k];
        }
        for (const Run& r : runs)
            for (int64_t p = 0; p * c < r.samples; ++p)
                out.push_back({r.first + p * c, std::min(c, r.samples - p * c), r.start + p * c * nch});
        return out;
    }
    int64_t first = 0;
    for (size_t k = 0; k < lengths.size(); ++k) {
        int64_t samples = lengths[k];
        if (rec.mode == Mode::FixedEvents && k + 1 < lengths.size() && starts[k] + lengths[k] * nch > starts[k + 1])
            samples = (starts[k + 1] - starts[k]) / nch;
        out.push_back({first, samples, starts[k]});
        first += lengths[k];
    }
    return out;
}

std::string Padded(const std::string& s, size_t width) { return s + std::string(width - s.size(), ' '); }

uint64_t Mix(uint64_t x)
{
    x = (x ^ (x >> 31)) * 0x7FB5D329728EA185ull;
    x = (x ^ (x >> 27)) * 0x81DADEF4BC2DD44Dull;
    return x ^ (x >> 33);
}

// One point of the grid, drawn from the seed.
RecordingSpec GridRecording(uint64_t seed, std::string* summary)
{
    uint64_t state = seed * 0x9E3779B97F4A7C15ull;
    auto pick = [&](uint64_t n) {
        state = Mix(state + 0x632BE59BD9B4E019ull);
        return int64_t(state % n);
    };
    RecordingSpec r;
    r.seed = seed;
    r.format = pick(4) == 0 ? Format::Abf1 : Format::Abf2;
    r.simultaneousScan = pick(2) == 1;
    const Mode modes[] = {Mode::GapFree, Mode::Episodic, Mode::VariableEvents, Mode::FixedEvents};
    r.mode = modes[pick(4)];
    r.dataFormat = pick(2) ? DataFormat::Float32 : DataFormat::Int16;
    const float intervals[] = {10.0f, 20.0f, 50.0f, 100.0f, 125.0f};
    r.sequenceIntervalUs = intervals[pick(5)];
    const int nch = pick(3) == 0 ? 16 : int(1 + pick(4));
    int16_t physical[16];
    for (int i = 0; i < 16; ++i) physical[i] = int16_t(i);
    for (int i = 15; i > 0; --i) std::swap(physical[i], physical[pick(uint64_t(i) + 1)]);
    const float scales[] = {0.0005f, 0.01f, 0.1f, 1.0f};
    for (int p = 0; p < nch; ++p) {
        Channel c;
        c.physical = physical[p];
        c.name = "ch" + std::to_string(physical[p]);
        c.units = p % 2 ? "mV" : "pA";
        c.scaleFactor = scales[pick(4)];
        c.gain = float(1 << pick(3));
        c.offset = pick(3) == 0 ? 2.3f : 0.0f;
        c.telegraph = pick(2) == 1;
        c.telegraphGain = c.telegraph ? float(1 + pick(5)) : 1.0f;
        float g = c.scaleFactor * c.gain * (c.telegraph ? c.telegraphGain : 1.0f);
        const float range = 10.0f / g;  // user units of full scale
        c.baseline = c.offset + 0.1f * range;
        c.noise = 0.01f * range;
        c.spikeAmplitude = -0.3f * range;
        c.sineAmplitude = 0.2f * range;
        c.sineHz = 3.0f;
        c.stepAmplitude = 0.05f * range;
        r.channels.push_back(c);
    }
    const int64_t budget = 300000 / nch;  // keep every point quick
    switch (r.mode) {
    case Mode::GapFree: r.samplesPerChannel = 1 + pick(uint64_t(std::min<int64_t>(budget, 60000))); break;
    case Mode::Episodic:
    case Mode::FixedEvents:
        r.episodes = int32_t(1 + pick(5));
        r.samplesPerEpisode = int32_t(64 + pick(uint64_t(std::min<int64_t>(budget / r.episodes, 20000))));
        r.synchTimeUnit = r.mode == Mode::Episodic && pick(2) ? r.sequenceIntervalUs / 8 : 0.0f;
        r.episodeStartToStartS = r.mode == Mode::Episodic ? float(pick(3)) * 0.5f : 0.0f;
        break;
    default:
        for (int k = int(1 + pick(6)); k > 0; --k)
            r.episodeLengths.push_back(int32_t(1 + pick(uint64_t(std::min<int64_t>(budget / 6, 40000)))));
        break;
    }
    Dac d0;
    d0.holding = -70.0f;
    d0.waveformEnable = r.mode == Mode::Episodic;
    d0.epochs[0] = Epoch{kEpochStep, -50.0f, 5.0f, int32_t(std::max<int64_t>(1, r.samplesPerEpisode / 4)), 0, 0, 0, 0};
    d0.epochs[1] = Epoch{kEpochRamp, 0.0f, 0.0f, int32_t(std::max<int64_t>(1, r.samplesPerEpisode / 4)), 0, 0, 0, 0};
    r.dacs = {d0};
    r.comment = "grid point " + std::to_string(seed);
    r.startDate = uint32_t(20000101 + pick(20) * 10000 + pick(12) * 100 + pick(28));
    r.startTimeMS = uint32_t(pick(86400000));
    for (int t = int(pick(8)); t > 0; --t) {
        Tag tag;
        tag.type = int16_t(pick(3));
        tag.time = int32_t(pick(1000000));
        tag.comment = "tag " + std::to_string(t);
        r.tags.push_back(tag);
    }
    std::ostringstream s;
    s << "seed " << seed << ": " << (r.format == Format::Abf1 ? "ABF1" : "ABF2") << " mode " << int(r.mode) << ", "
      << (r.dataFormat == DataFormat::Float32 ? "float32" : "int16") << ", " << nch << " channels, "
      << r.sequenceIntervalUs << " us, synch unit " << r.synchTimeUnit
      << (r.simultaneousScan ? ", simultaneous" : ", sequential");
    *summary = s.str();
    return r;
}

void ExpectRoundTrip(const RecordingSpec& rec, const std::string& name)
{
    const std::string path = abftest::ScratchPath("roundtrip_" + name);
    std::string error;
    ASSERT_TRUE(WriteAbf(rec, path, &error)) << error;
    struct Cleanup {
        std::string p;
        ~Cleanup() { std::remove(p.c_str()); }
    } cleanup{path};

    kavtest::LibraryFile file(path);
    ASSERT_TRUE(file.ok) << "open failed with error " << file.error;
    const ABFFileHeader& h = *file.header();
    const size_t nch = rec.channels.size();
    const std::vector<Episode> episodes = ExpectedEpisodes(rec);

    // Header values.
    EXPECT_EQ(int(h.nOperationMode), int(rec.mode));
    EXPECT_EQ(int(h.nADCNumChannels), int(nch));
    EXPECT_EQ(int64_t(h.lActualAcqLength), abftest::ParseFile(path).muxSamples);
    EXPECT_EQ(int(h.nDataFormat), int(rec.dataFormat));
    EXPECT_FLOAT_EQ(float(h.fADCSequenceInterval), rec.sequenceIntervalUs);
    EXPECT_EQ(float(h.fSynchTimeUnit), rec.synchTimeUnit);
    EXPECT_EQ(uint32_t(h.uFileStartDate), rec.startDate);
    EXPECT_EQ(uint32_t(h.uFileStartTimeMS), rec.startTimeMS);
    EXPECT_EQ(int64_t(h.lActualEpisodes), int64_t(episodes.size()));
    EXPECT_EQ(int64_t(file.episodes), int64_t(episodes.size()));
    EXPECT_EQ(int64_t(h.lNumTagEntries), int64_t(rec.tags.size()));
    if (rec.format == Format::Abf2)
        EXPECT_FLOAT_EQ(float(h.fFileVersionNumber), 2.0f + float(rec.versionMinor) / 100.0f);
    else
        EXPECT_FLOAT_EQ(float(h.fFileVersionNumber), rec.abf1Version);
    EXPECT_EQ(std::string(h.sProtocolPath, 256), Padded(rec.protocolPath, 256));
    EXPECT_EQ(std::string(h.sCreatorInfo, 16), Padded(rec.creator, 16));
    EXPECT_EQ(std::string(h.sFileComment, 128), Padded(rec.comment, 128));
    for (size_t p = 0; p < nch; ++p) {
        const Channel& c = rec.channels[p];
        const size_t ch = size_t(c.physical);
        SCOPED_TRACE("position " + std::to_string(p));
        EXPECT_EQ(int(h.nADCSamplingSeq[p]), int(c.physical));
        EXPECT_EQ(std::string(h.sADCChannelName[ch], 10), Padded(c.name, 10));
        EXPECT_EQ(std::string(h.sADCUnits[ch], 8), Padded(c.units, 8));
        EXPECT_EQ(float(h.fInstrumentScaleFactor[ch]), c.scaleFactor);
        EXPECT_EQ(float(h.fADCProgrammableGain[ch]), c.gain);
        EXPECT_EQ(float(h.fInstrumentOffset[ch]), c.offset);
    }
    for (size_t d = 0; d < rec.dacs.size(); ++d) {
        EXPECT_EQ(float(h.fDACHoldingLevel[d]), rec.dacs[d].holding);
        if (d >= 2 && rec.format == Format::Abf1) continue;
        for (size_t e = 0; e < size_t(kEpochsPerDac); ++e) {
            const Epoch& ep = rec.dacs[d].epochs[e];
            SCOPED_TRACE("DAC " + std::to_string(d) + " epoch " + std::to_string(e));
            EXPECT_EQ(int(h.nEpochType[d][e]), int(ep.type));
            if (ep.type == kEpochDisabled) continue;
            EXPECT_EQ(float(h.fEpochInitLevel[d][e]), ep.initLevel);
            EXPECT_EQ(float(h.fEpochLevelInc[d][e]), ep.levelInc);
            EXPECT_EQ(int32_t(h.lEpochInitDuration[d][e]), ep.initDuration);
            EXPECT_EQ(int32_t(h.lEpochDurationInc[d][e]), ep.durationInc);
            EXPECT_EQ(int32_t(h.lEpochPulsePeriod[d][e]), ep.pulsePeriod);
            EXPECT_EQ(int32_t(h.lEpochPulseWidth[d][e]), ep.pulseWidth);
        }
    }

    // Samples of every channel in every episode, and each episode's start time.
    const double si = std::round(double(rec.sequenceIntervalUs) * 10.0) / (10.0 * double(nch));
    const double unitUs = rec.synchTimeUnit > 0 ? double(rec.synchTimeUnit) : si;
    std::vector<float> buffer(size_t(file.sampleLimit) + 16);
    for (size_t e = 0; e < episodes.size(); ++e) {
        const Episode& ep = episodes[e];
        SCOPED_TRACE("episode " + std::to_string(e + 1));
        uint32_t count = 0;
        int32_t err = 0;
        ASSERT_TRUE(ABF_GetNumSamples(file.handle, file.header(), uint32_t(e + 1), &count, &err)) << err;
        ASSERT_EQ(int64_t(count), ep.samples);
        double duration = 0;
        ASSERT_TRUE(ABF_GetEpisodeDuration(file.handle, file.header(), uint32_t(e + 1), &duration, &err)) << err;
        const double sweepSamples = rec.mode == Mode::Episodic ? double(rec.samplesPerEpisode) : double(ep.samples);
        EXPECT_NEAR(duration, sweepSamples * double(nch) * si / 1000.0, 1e-6);
        std::vector<float> want(size_t(ep.samples) * nch);
        ASSERT_TRUE(GenerateSamples(rec, ep.first, ep.samples, want.data(), &error)) << error;
        for (size_t p = 0; p < nch; ++p) {
            const Channel& c = rec.channels[p];
            std::fill(buffer.begin(), buffer.end(), -12345.0f);
            uint32_t n = 0;
            ASSERT_TRUE(
                ABF_ReadChannel(file.handle, file.header(), c.physical, uint32_t(e + 1), buffer.data(), &n, &err))
                << "channel " << c.physical << ": error " << err;
            ASSERT_EQ(int64_t(n), ep.samples);
            const double factor = ScaleFactor(rec, c);
            int bad = 0;
            for (int64_t k = 0; k < ep.samples && bad < 3; ++k) {
                const float w = want[size_t(k) * nch + p];
                const float got = buffer[size_t(k)];
                if (rec.dataFormat == DataFormat::Float32) {
                    if (std::memcmp(&got, &w, 4) != 0) {
                        ++bad;
                        ADD_FAILURE() << "channel " << c.physical << " sample " << k << ": " << got << " != " << w;
                    }
                } else if (!(std::fabs(double(got) - double(w)) <= factor * 0.5001 + std::fabs(double(w)) * 2e-6)) {
                    ++bad;
                    ADD_FAILURE() << "channel " << c.physical << " sample " << k << ": " << got << " vs " << w
                                  << " (one count is " << factor << ")";
                }
            }
            EXPECT_EQ(buffer[size_t(ep.samples)], -12345.0f) << "wrote past the episode's samples";
            double start = 0;
            ASSERT_TRUE(ABF_GetStartTime(file.handle, file.header(), c.physical, uint32_t(e + 1), &start, &err))
                << err;
            const double skew = rec.simultaneousScan ? 0.0 : double(p) * si / 1000.0;
            EXPECT_NEAR(start, double(ep.start) * unitUs / 1000.0 + skew, 1e-6);
        }
    }

    // Tags.
    if (!rec.tags.empty()) {
        std::vector<ABFTag> tags(rec.tags.size());
        int32_t err = 0;
        ASSERT_TRUE(ABF_ReadTags(file.handle, file.header(), 0, tags.data(), uint32_t(tags.size()), &err)) << err;
        for (size_t i = 0; i < tags.size(); ++i) {
            EXPECT_EQ(int32_t(tags[i].lTagTime), rec.tags[i].time) << "tag " << i;
            EXPECT_EQ(std::string(tags[i].sComment, 56), Padded(rec.tags[i].comment, 56)) << "tag " << i;
            EXPECT_EQ(int(tags[i].nTagType), int(rec.tags[i].type)) << "tag " << i;
        }
    }
}

TEST(RoundTrip, SeededGrid)
{
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        std::string summary;
        const RecordingSpec rec = GridRecording(seed, &summary);
        std::string error;
        ASSERT_TRUE(Validate(rec, &error)) << summary << ": " << error;
        SCOPED_TRACE(summary);
        ExpectRoundTrip(rec, "grid" + std::to_string(seed));
        if (HasFailure()) break;  // one failing point says enough
    }
}

class RoundTripPreset : public ::testing::TestWithParam<std::string> {};

TEST_P(RoundTripPreset, ReadsBackAsWritten)
{
    RecordingSpec rec;
    ASSERT_TRUE(MakePreset(GetParam(), &rec, nullptr));
    ExpectRoundTrip(rec, GetParam());
}

std::vector<std::string> RoundTripPresets()
{
    std::vector<std::string> v;
    for (const PresetInfo& p : Presets())
        if (!p.malformed && std::string(p.name) != "large-gapfree") v.push_back(p.name);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Presets, RoundTripPreset, ::testing::ValuesIn(RoundTripPresets()),
                         [](const ::testing::TestParamInfo<std::string>& i) {
                             std::string s = i.param;
                             std::replace(s.begin(), s.end(), '-', '_');
                             return s;
                         });

// The grid's own model of episode cutting, checked on hand-made cases.
TEST(RoundTripModel, EpisodeCutting)
{
    RecordingSpec r;
    r.channels.resize(2);
    r.channels[1].physical = 1;
    r.mode = Mode::GapFree;
    r.samplesPerChannel = 40000;
    std::vector<Episode> e = ExpectedEpisodes(r);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[2].samples, 40000 - 2 * 16384);
    EXPECT_EQ(e[1].start, 16384 * 2);

    r.channels.resize(1);
    r.mode = Mode::VariableEvents;  // 3540 + 16040 + 70040 samples -> 1 + 1 + 5 episodes
    r.episodeLengths = {3540, 16040, 70040};
    r.episodeStarts = {0, 10000, 40000};
    e = ExpectedEpisodes(r);
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e[2].first, 3540 + 16040);
    EXPECT_EQ(e[6].samples, 70040 - 4 * 16384);
    r.episodeStarts = {0, 3540, 40000};  // the first two are contiguous and merge
    e = ExpectedEpisodes(r);
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e[0].samples, 16384);
    EXPECT_EQ(e[1].samples, 3540 + 16040 - 16384);
}

}  // namespace
