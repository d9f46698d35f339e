// The writer's files decoded byte by byte: section map, strings, channels, data,
// synch array and tags against the recording that was written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "abffio/writer/abf_writer.h"
#include "parsed_file.h"
#include "tests/support/shared_data.h"

using namespace abfw;
using abftest::ParsedFile;
namespace v2 = abfformat::abf2;
constexpr int64_t kBlock = abfformat::kBlockBytes;

namespace {

std::vector<std::string> WellFormedPresets()
{
    std::vector<std::string> v;
    for (const PresetInfo& p : Presets())
        if (!p.malformed && std::string(p.name) != "large-gapfree") v.push_back(p.name);
    return v;
}

RecordingSpec Preset(const std::string& name)
{
    RecordingSpec r;
    std::string error;
    EXPECT_TRUE(MakePreset(name, &r, &error)) << error;
    return r;
}

// Checks every stored sample against the generator (quantised for int16, bit-exact for float32).
void ExpectData(const RecordingSpec& rec, const ParsedFile& f)
{
    const size_t nch = rec.channels.size();
    const int64_t perChannel = f.muxSamples / int64_t(nch);
    std::vector<float> v(size_t(perChannel) * nch);
    std::string error;
    ASSERT_TRUE(GenerateSamples(rec, 0, perChannel, v.data(), &error)) << error;
    int64_t mismatches = 0;
    for (int64_t j = 0; j < f.muxSamples; ++j) {
        const Channel& ch = rec.channels[size_t(j) % nch];
        const double want =
            rec.dataFormat == DataFormat::Float32 ? double(v[size_t(j)]) : double(Quantise(rec, ch, v[size_t(j)]));
        if (f.Sample(j) != want && ++mismatches < 5)
            ADD_FAILURE() << "sample " << j << ": stored " << f.Sample(j) << ", expected " << want;
    }
    EXPECT_EQ(mismatches, 0);
}

class PresetFile : public ::testing::TestWithParam<std::string> {};

TEST_P(PresetFile, DecodesToWhatWasDescribed)
{
    const RecordingSpec rec = Preset(GetParam());
    const std::string path = abftest::ScratchPath("structure_" + GetParam());
    Layout layout;
    std::string error;
    ASSERT_TRUE(WriteAbf(rec, path, &error, &layout)) << error;
    const ParsedFile f = abftest::ParseFile(path);
    ASSERT_TRUE(f.ok) << f.error;
    std::remove(path.c_str());

    // Sections: block aligned, inside the file, not overlapping.
    EXPECT_EQ(int64_t(f.bytes.size()), layout.fileSize);
    EXPECT_EQ(layout.fileSize % kBlock, 0);
    std::vector<SectionInfo> sections = layout.sections;
    std::sort(sections.begin(), sections.end(),
              [](const SectionInfo& a, const SectionInfo& b) { return a.offset < b.offset; });
    int64_t end = rec.format == Format::Abf2 ? int64_t(v2::kFileInfoBytes) : 0;
    for (const SectionInfo& s : sections) {
        const int64_t size = s.name == "Strings" ? int64_t(s.entryBytes) : int64_t(s.entryBytes) * s.count;
        EXPECT_EQ(s.offset % kBlock, 0) << s.name;
        EXPECT_GE(s.offset, end) << s.name << " overlaps the previous section";
        EXPECT_LE(s.offset + size, layout.fileSize) << s.name;
        end = s.offset + size;
    }

    // The ABF2 section map is the layout.
    if (rec.format == Format::Abf2) {
        const char* names[v2::kSections] = {"Protocol", "ADC", "DAC", "Epoch", "", "EpochPerDAC", "", "", "", "Strings",
                                            "Data",     "Tag", "",    "",      "", "SynchArray",  "", ""};
        for (int i = 0; i < v2::kSections; ++i) {
            const int64_t at = names[i][0] ? SectionOffset(layout, names[i]) : -1;
            if (at < 0) {
                EXPECT_EQ(f.map[i].block, 0u) << "map entry " << i << " should be absent";
                continue;
            }
            EXPECT_EQ(int64_t(f.map[i].block) * kBlock, at) << names[i];
        }
        // Strings header: count, total bytes, longest.
        const size_t s = size_t(f.map[v2::kStrings].block) * kBlock;
        size_t total = 0, longest = 0;
        for (const std::string& str : f.strings) {
            total += str.size() + 1;
            longest = std::max(longest, str.size());
            EXPECT_FALSE(str.empty()) << "empty strings are index 0, never stored";
        }
        EXPECT_EQ(abftest::Get<uint32_t>(f.bytes, s + 8), f.strings.size());
        EXPECT_EQ(int64_t(f.strings.size()), f.map[9].count);
        EXPECT_EQ(abftest::Get<int32_t>(f.bytes, s + 16), int32_t(total));
        EXPECT_EQ(abftest::Get<uint32_t>(f.bytes, s + 12), longest);
        EXPECT_EQ(f.map[9].bytes, 44 + total);
        EXPECT_EQ(f.map[10].bytes, rec.dataFormat == DataFormat::Float32 ? 4u : 2u);
    }

    // Header values.
    EXPECT_EQ(f.mode, int16_t(rec.mode));
    EXPECT_EQ(f.dataFormat, int16_t(rec.dataFormat));
    EXPECT_FLOAT_EQ(f.sequenceInterval, rec.sequenceIntervalUs);
    EXPECT_EQ(f.synchUnit, rec.synchTimeUnit);
    EXPECT_EQ(f.creator, rec.creator);
    EXPECT_EQ(f.protocolPath, rec.protocolPath);
    EXPECT_EQ(f.comment, rec.comment);
    EXPECT_EQ(f.date, rec.startDate);
    EXPECT_EQ(f.timeMS, rec.startTimeMS);
    ASSERT_EQ(f.channels.size(), rec.channels.size());
    for (size_t p = 0; p < rec.channels.size(); ++p) {
        SCOPED_TRACE("position " + std::to_string(p));
        EXPECT_EQ(f.channels[p].physical, rec.channels[p].physical);
        EXPECT_EQ(f.channels[p].name, rec.channels[p].name);
        EXPECT_EQ(f.channels[p].units, rec.channels[p].units);
        EXPECT_EQ(f.channels[p].scale, rec.channels[p].scaleFactor);
        EXPECT_EQ(f.channels[p].gain, rec.channels[p].gain);
        EXPECT_EQ(f.channels[p].offset, rec.channels[p].offset);
    }
    for (size_t d = 0; d < rec.dacs.size() && d < f.holding.size(); ++d) {
        EXPECT_EQ(f.holding[d], rec.dacs[d].holding);
        if (!rec.dacs[d].name.empty()) {
            EXPECT_EQ(f.dacNames[d], rec.dacs[d].name);
        }
        EXPECT_EQ(f.dacUnits[d], rec.dacs[d].units);
    }

    // Epoch table: every enabled epoch, sorted by DAC then epoch.
    size_t k = 0;
    for (size_t d = 0; d < rec.dacs.size(); ++d)
        for (int16_t e = 0; e < kEpochsPerDac; ++e) {
            const Epoch& ep = rec.dacs[d].epochs[e];
            if (ep.type == kEpochDisabled) continue;
            ASSERT_LT(k, f.epochs.size());
            const abftest::ParsedEpoch& got = f.epochs[k++];
            EXPECT_EQ(got.dac, int16_t(d));
            EXPECT_EQ(got.epoch, e);
            EXPECT_EQ(got.type, ep.type);
            EXPECT_EQ(got.level, ep.initLevel);
            EXPECT_EQ(got.levelInc, ep.levelInc);
            EXPECT_EQ(got.duration, ep.initDuration);
            EXPECT_EQ(got.durationInc, ep.durationInc);
            EXPECT_EQ(got.period, ep.pulsePeriod);
            EXPECT_EQ(got.width, ep.pulseWidth);
        }
    EXPECT_EQ(k, f.epochs.size());

    // Amount of data and the synch array.
    const std::vector<int64_t> lengths = SweepLengths(rec);
    const int64_t nch = int64_t(rec.channels.size());
    EXPECT_EQ(f.muxSamples, std::accumulate(lengths.begin(), lengths.end(), int64_t(0)) * nch);
    EXPECT_EQ(f.muxSamples, layout.muxSamples);
    if (rec.mode == Mode::GapFree) {
        EXPECT_TRUE(f.synch.empty());
    } else {
        const std::vector<int64_t> starts = SweepStarts(rec);
        ASSERT_EQ(f.synch.size(), lengths.size());
        int64_t sum = 0;
        for (size_t e = 0; e < lengths.size(); ++e) {
            EXPECT_EQ(f.synch[e].first, starts[e]) << "sweep " << e;
            EXPECT_EQ(f.synch[e].second, lengths[e] * nch) << "sweep " << e;
            sum += f.synch[e].second;
        }
        EXPECT_EQ(sum, f.muxSamples);
        for (size_t e = 1; e < lengths.size() && rec.mode != Mode::FixedEvents; ++e) {  // only these may overlap
            EXPECT_GE(double(f.synch[e].first) * SynchCountUs(rec),
                      double(f.synch[e - 1].first) * SynchCountUs(rec) +
                          double(lengths[e - 1]) * rec.sequenceIntervalUs - 1e-6)
                << "sweep " << e << " starts before the previous one ends";
        }
    }

    // Tags.
    ASSERT_EQ(f.tags.size(), rec.tags.size());
    for (size_t i = 0; i < rec.tags.size(); ++i) {
        EXPECT_EQ(f.tags[i].time, rec.tags[i].time);
        EXPECT_EQ(f.tags[i].comment, rec.tags[i].comment);
        EXPECT_EQ(f.tags[i].type, rec.tags[i].type);
        EXPECT_EQ(f.tags[i].number, rec.tags[i].number);
    }

    ExpectData(rec, f);
}

INSTANTIATE_TEST_SUITE_P(Presets, PresetFile, ::testing::ValuesIn(WellFormedPresets()),
                         [](const ::testing::TestParamInfo<std::string>& i) {
                             std::string s = i.param;
                             std::replace(s.begin(), s.end(), '-', '_');
                             return s;
                         });

// ------------------------------------------------------------------ the signal

TEST(Signal, ChunkingDoesNotChangeValues)
{
    for (const char* preset : {"default", "step-protocol", "variable-events", "channels-16"}) {
        const RecordingSpec rec = Preset(preset);
        const size_t nch = rec.channels.size();
        const int64_t n = 20000;
        std::vector<float> whole(size_t(n) * nch);
        std::string error;
        ASSERT_TRUE(GenerateSamples(rec, 3000, n, whole.data(), &error)) << error;
        for (int64_t chunk : {1, 7, 4096, 5001}) {
            std::vector<float> pieces(whole.size());
            for (int64_t at = 0; at < n; at += chunk)
                ASSERT_TRUE(
                    GenerateSamples(rec, 3000 + at, std::min(chunk, n - at), &pieces[size_t(at) * nch], &error));
            EXPECT_EQ(0, std::memcmp(whole.data(), pieces.data(), whole.size() * sizeof(float)))
                << preset << ", chunks of " << chunk;
        }
    }
}

TEST(Signal, SeedSelectsTheNoise)
{
    RecordingSpec a = Preset("default"), b = a;
    b.seed = a.seed + 1;
    std::vector<float> va(2000), vb(2000), va2(2000);
    ASSERT_TRUE(GenerateSamples(a, 0, 1000, va.data(), nullptr));
    ASSERT_TRUE(GenerateSamples(b, 0, 1000, vb.data(), nullptr));
    ASSERT_TRUE(GenerateSamples(a, 0, 1000, va2.data(), nullptr));
    EXPECT_EQ(va, va2);
    EXPECT_NE(va, vb);
}

TEST(Signal, ComponentsHaveTheirShapes)
{
    RecordingSpec rec = Preset("default");
    rec.channels.resize(1);
    Channel& c = rec.channels[0];
    const int64_t n = 200000;
    std::vector<float> v(static_cast<size_t>(n));
    auto only = [&](float noise, float sine, float spikes) {
        c = Channel();
        c.baseline = 3.0f;
        c.noise = noise;
        c.sineAmplitude = sine;
        c.sineHz = 7.0f;
        c.spikeAmplitude = spikes;
        ASSERT_TRUE(GenerateSamples(rec, 0, n, v.data(), nullptr));
    };

    only(4.0f, 0, 0);  // noise: mean = baseline, standard deviation as asked
    double sum = 0, sq = 0;
    for (float x : v) sum += x;
    const double mean = sum / double(n);
    for (float x : v) sq += (x - mean) * (x - mean);
    EXPECT_NEAR(mean, 3.0, 0.05);
    EXPECT_NEAR(std::sqrt(sq / double(n)), 4.0, 0.1);

    only(0, 2.0f, 0);  // sine: the closed form, at any index
    const double dt = rec.sequenceIntervalUs * 1e-6;
    for (int64_t i : {int64_t(0), int64_t(1), int64_t(4095), int64_t(4096), int64_t(123457), n - 1})
        EXPECT_NEAR(v[size_t(i)], 3.0 + 2.0 * std::sin(2 * 3.14159265358979323846 * 7.0 * dt * double(i)), 1e-5)
            << "sample " << i;

    only(0, 0, -100.0f);  // spikes: brief excursions in one direction, about a quarter of 2048-sample blocks
    int64_t inSpike = 0, starts = 0;
    float lowest = 0;
    for (int64_t i = 0; i < n; ++i) {
        EXPECT_LE(v[size_t(i)], 3.0f);
        const bool on = v[size_t(i)] < 3.0f - 1e-3f;
        if (on && (i == 0 || !(v[size_t(i) - 1] < 3.0f - 1e-3f))) ++starts;
        inSpike += on;
        lowest = std::min(lowest, v[size_t(i)] - 3.0f);
    }
    EXPECT_GT(starts, n / 2048 / 8);
    EXPECT_LT(starts, n / 2048 / 2);
    EXPECT_LT(inSpike, starts * 48);
    EXPECT_LT(lowest, -50.0f);
    EXPECT_GT(lowest, -110.0f);
}

TEST(Signal, EpisodicStepsFollowTheCommand)
{
    RecordingSpec rec = Preset("step-protocol");
    Channel& v = rec.channels[1];
    v.noise = 0;
    v.sineAmplitude = 0;
    v.spikeAmplitude = 0;
    const int64_t S = rec.samplesPerEpisode, H = S / 64;
    const Epoch* ep = rec.dacs[0].epochs;
    std::vector<float> out(size_t(S) * 2);
    for (int64_t e : {int64_t(0), int64_t(3), int64_t(7)}) {
        ASSERT_TRUE(GenerateSamples(rec, e * S, S, out.data(), nullptr));
        auto at = [&](int64_t k) { return out[size_t(k) * 2 + 1]; };
        const double relative = v.stepAmplitude / 10.0;
        EXPECT_FLOAT_EQ(at(0), v.baseline);
        EXPECT_FLOAT_EQ(at(H - 1), v.baseline);
        EXPECT_FLOAT_EQ(at(H), float(v.baseline + relative * (ep[0].initLevel - rec.dacs[0].holding)));
        const int64_t b = H + ep[0].initDuration;
        const double levelB = ep[1].initLevel + double(e) * ep[1].levelInc;
        EXPECT_FLOAT_EQ(at(b), float(v.baseline + relative * (levelB - rec.dacs[0].holding))) << "sweep " << e;
        EXPECT_FLOAT_EQ(at(b + ep[1].initDuration - 1), at(b));
        EXPECT_FLOAT_EQ(at(S - 1), v.baseline);
    }
}

TEST(Signal, ExplicitAndRawValues)
{
    RecordingSpec rec = Preset("default");
    rec.samplesPerChannel = 1000;
    rec.tags.clear();
    rec.dataFormat = DataFormat::Float32;
    std::vector<float> values(2000);
    for (size_t i = 0; i < values.size(); ++i) values[i] = float(i) * 0.25f - 7.0f;
    rec.source = SignalSource::Values;
    rec.values = values;
    std::vector<float> got(2 * 10);
    ASSERT_TRUE(GenerateSamples(rec, 500, 10, got.data(), nullptr));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), values.begin() + 1000));

    const std::string raw = "abfgen_test_raw.f32";
    FILE* f = std::fopen(raw.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(values.data(), 4, values.size(), f);
    std::fclose(f);
    rec.source = SignalSource::RawFile;
    rec.rawPath = raw;
    const std::string path = abftest::ScratchPath("raw");
    std::string error;
    ASSERT_TRUE(WriteAbf(rec, path, &error)) << error;
    const ParsedFile pf = abftest::ParseFile(path);
    ASSERT_EQ(pf.muxSamples, 2000);
    for (int64_t j = 0; j < 2000; ++j) ASSERT_EQ(pf.Sample(j), values[size_t(j)]) << j;

    rec.samplesPerChannel = 1001;  // one more than the file holds
    EXPECT_FALSE(WriteAbf(rec, path, &error));
    EXPECT_NE(error.find("fewer samples"), std::string::npos) << error;
    std::remove(path.c_str());
    std::remove(raw.c_str());
}

TEST(Scaling, QuantiseRoundsAndClamps)
{
    RecordingSpec rec;
    Channel c;
    c.scaleFactor = 0.0005f;
    c.gain = 2.0f;
    c.offset = 1.5f;
    c.telegraph = true;
    c.telegraphGain = 5.0f;
    // 10 V / (0.0005 * 2 * 5) / 32768 units per count
    const double factor = 10.0 / (0.0005 * 2.0 * 5.0) / 32768.0;
    EXPECT_NEAR(ScaleFactor(rec, c), factor, factor * 1e-6);
    struct Case {
        double value;
        int expected;
    } cases[] = {
        {1.5, 0},
        {1.5 + factor * 10.4, 10},
        {1.5 + factor * 10.6, 11},
        {1.5 - factor * 123.0, -123},
        {1.5 + factor * 40000.0, 32767},
        {1.5 - factor * 40000.0, -32768},
        {std::nan(""), 0},
    };
    for (const Case& k : cases) EXPECT_EQ(Quantise(rec, c, float(k.value)), k.expected) << k.value;
    c.telegraph = false;  // the telegraph gain counts only when enabled
    EXPECT_NEAR(ScaleFactor(rec, c), factor * 5.0, factor * 5e-6);
}

// ------------------------------------------------------------------ refusals and damage

TEST(Validate, RefusesWhatCannotBeWritten)
{
    struct Case {
        const char* what;
        void (*change)(RecordingSpec*);
    } cases[] = {
        {"no channel", [](RecordingSpec* r) { r->channels.clear(); }},
        {"17 channels",
         [](RecordingSpec* r) {
             r->channels.resize(17);
             for (int i = 0; i < 17; ++i) r->channels[size_t(i)].physical = int16_t(i % 16);
         }},
        {"physical 16", [](RecordingSpec* r) { r->channels[0].physical = 16; }},
        {"physical twice", [](RecordingSpec* r) { r->channels[1].physical = r->channels[0].physical; }},
        {"name of 11", [](RecordingSpec* r) { r->channels[0].name = "ABCDEFGHIJK"; }},
        {"units of 9", [](RecordingSpec* r) { r->channels[0].units = "123456789"; }},
        {"creator of 17", [](RecordingSpec* r) { r->creator = std::string(17, 'c'); }},
        {"comment of 129", [](RecordingSpec* r) { r->comment = std::string(129, 'c'); }},
        {"protocol of 257", [](RecordingSpec* r) { r->protocolPath = std::string(257, 'p'); }},
        {"tag comment of 57", [](RecordingSpec* r) { r->tags[0].comment = std::string(57, 't'); }},
        {"mode 0", [](RecordingSpec* r) { r->mode = Mode(0); }},
        {"interval 0", [](RecordingSpec* r) { r->sequenceIntervalUs = 0; }},
        // ABF1 counts all samples in 32 bits; ABF2 gap-free data in 64, up to the writer's 2^40.
        {"ABF1 of 2^31 samples",
         [](RecordingSpec* r) {
             r->format = Format::Abf1;
             r->samplesPerChannel = int64_t(1) << 30;
         }},
        {"ABF2 of 2^40 + 2 samples", [](RecordingSpec* r) { r->samplesPerChannel = (int64_t(1) << 39) + 1; }},
        {"more samples unwritten than recorded",
         [](RecordingSpec* r) { r->unwrittenSamples = r->samplesPerChannel + 1; }},
        {"epoch type 8", [](RecordingSpec* r) { r->dacs[0].epochs[0].type = 8; }},
        {"9 DACs", [](RecordingSpec* r) { r->dacs.resize(9); }},
        {"ABF1 epochs on DAC 2",
         [](RecordingSpec* r) {
             r->format = Format::Abf1;
             r->dacs.resize(3);
             r->dacs[2].epochs[0].type = 1;
         }},
        {"ABF1 version 1.5",
         [](RecordingSpec* r) {
             r->format = Format::Abf1;
             r->abf1Version = 1.5f;
         }},
        {"too few values",
         [](RecordingSpec* r) {
             r->source = SignalSource::Values;
             r->values.assign(10, 0.0f);
         }},
        {"missing raw file",
         [](RecordingSpec* r) {
             r->source = SignalSource::RawFile;
             r->rawPath = "no such file.f32";
         }},
        {"uneven fixed-length sweeps",
         [](RecordingSpec* r) {
             r->mode = Mode::FixedEvents;
             r->episodeLengths = {10, 20};
         }},
        {"starts and lengths differ",
         [](RecordingSpec* r) {
             r->mode = Mode::Episodic;
             r->episodes = 3;
             r->samplesPerEpisode = 10;
             r->episodeStarts = {0, 100};
         }},
    };
    for (const Case& k : cases) {
        RecordingSpec r = Preset("default");
        std::string error;
        ASSERT_TRUE(Validate(r, &error)) << error;
        k.change(&r);
        EXPECT_FALSE(Validate(r, &error)) << k.what;
        EXPECT_FALSE(error.empty()) << k.what;
        const std::string path = abftest::ScratchPath("refused");
        std::remove(path.c_str());
        EXPECT_FALSE(WriteAbf(r, path, &error)) << k.what;
        EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr) << k.what << ": nothing should be written";
    }
}

TEST(Damage, TruncationsAndPatchesLandWhereNamed)
{
    for (const PresetInfo& p : Presets()) {
        if (!p.malformed) continue;
        SCOPED_TRACE(p.name);
        RecordingSpec damaged = Preset(p.name), intact = damaged;
        intact.damage = Damage();
        Layout layout;
        std::string error;
        ASSERT_TRUE(PlanLayout(intact, &layout, &error)) << error;
        const std::string a = abftest::ScratchPath("intact"), b = abftest::ScratchPath("damaged");
        ASSERT_TRUE(WriteAbf(intact, a, &error)) << error;
        ASSERT_TRUE(WriteAbf(damaged, b, &error)) << error;
        const std::vector<uint8_t> x = abftest::ReadFileBytes(a), y = abftest::ReadFileBytes(b);
        std::remove(a.c_str());
        std::remove(b.c_str());
        const Damage& d = damaged.damage;
        if (d.truncate) {
            const int64_t base = SectionOffset(layout, d.truncateSection);
            ASSERT_GE(base, 0);
            EXPECT_EQ(int64_t(y.size()), base + d.truncateAt);
            EXPECT_LT(y.size(), x.size());
            EXPECT_TRUE(std::equal(y.begin(), y.end(), x.begin()));
        } else {
            ASSERT_EQ(x.size(), y.size());
        }
        size_t patched = 0;
        for (const Damage::Patch& q : d.patches) {
            const int64_t at = SectionOffset(layout, q.section) + q.offset;
            uint64_t v = 0;
            std::memcpy(&v, &y[size_t(at)], size_t(q.width));
            EXPECT_EQ(v, q.value & (q.width == 8 ? ~0ull : ((1ull << (8 * q.width)) - 1)));
            patched += size_t(q.width);
        }
        size_t differing = 0;
        for (size_t i = 0; i < y.size(); ++i) differing += x[i] != y[i];
        EXPECT_LE(differing, patched) << "bytes changed outside the patches";
        if (!d.patches.empty()) {
            EXPECT_GT(differing, 0u);
        }
    }
}

}  // namespace

namespace {

// Our entry sizes are those of real recordings from the acquisition program.
TEST(RealFiles, SameEntrySizesAsRecordedFiles)
{
    REQUIRE_SHARED("data/abf");
    RecordingSpec rec = Preset("all-epochs");
    const std::string path = abftest::ScratchPath("entry_sizes");
    std::string error;
    ASSERT_TRUE(WriteAbf(rec, path, &error)) << error;
    const ParsedFile ours = abftest::ParseFile(path);
    std::remove(path.c_str());
    int compared = 0;
    for (const char* name : {"18702001-step.abf", "model_vc_step.abf", "File_axon_7.abf", "2020_06_16_0001.abf"}) {
        SCOPED_TRACE(name);
        const ParsedFile real = abftest::ParseFile(kavtest::SharedLocal(std::string("data/abf/") + name));
        ASSERT_TRUE(real.ok);
        for (int i : {v2::kProtocol, v2::kADC, v2::kDAC, v2::kEpoch, v2::kEpochPerDAC, v2::kTag, v2::kSynchArray}) {
            if (!real.map[i].block || !ours.map[i].block) continue;
            EXPECT_EQ(ours.map[i].bytes, real.map[i].bytes) << "map entry " << i;
            ++compared;
        }
        EXPECT_EQ(abftest::Get(ours.bytes, 0, v2::fileinfo::uFileInfoSize),
                  abftest::Get(real.bytes, 0, v2::fileinfo::uFileInfoSize));
        // Strings: the same header layout (SSCH, version 1).
        const size_t s = size_t(real.map[v2::kStrings].block) * kBlock,
                     t = size_t(ours.map[v2::kStrings].block) * kBlock;
        EXPECT_EQ(abftest::Get(ours.bytes, t, v2::strings::uVersion),
                  abftest::Get(real.bytes, s, v2::strings::uVersion));
        EXPECT_EQ(real.map[v2::kStrings].bytes,
                  v2::strings::kExtent + uint32_t(abftest::Get(real.bytes, s, v2::strings::lTotalBytes)))
            << "section size rule";
    }
    EXPECT_GT(compared, 0);
}

}  // namespace
