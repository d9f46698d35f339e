// The readers on the real recordings, against the vendor library's recorded
// answers: every channel of every gap-free file, every episode of a few episodic
// files, and the stimulus waveforms of the protocol files, into single- and
// double-precision waves, with X scaling, units and the note.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "readers_support.h"

namespace readertest {
namespace {

using kavhost::Num;
using kavhost::Str;
using kavhost::WaveArg;
using querytest::Golden;

std::string Trimmed(const char* field, size_t width)
{
    std::string s(field, width);
    s = s.substr(0, s.find('\0'));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The note's entries checked one by one against the header the library gives.
void CheckNote(const std::string& note, const std::string& file, const ABFFileHeader& h, int logical,
               const double* startTime)
{
    auto kv = ParseNote(note);
    EXPECT_EQ(kv.count("!"), 0u) << note;
    const int physical = h.nADCSamplingSeq[logical];
    EXPECT_EQ(kv["sFileName"], file);
    EXPECT_NEAR(std::stod(kv["fFileVersionNumber"]), static_cast<double>(h.fFileVersionNumber), 0.05);
    EXPECT_EQ(kv["nOperationMode"], std::to_string(h.nOperationMode));
    EXPECT_EQ(kv["lActualAcqLength"], std::to_string(h.lActualAcqLength));
    EXPECT_EQ(kv["lActualEpisodes"], std::to_string(h.lActualEpisodes));
    const std::string date = std::to_string(h.uFileStartDate);
    if (h.uFileStartDate >= 10000000u && h.uFileStartDate < 100000000u) {
        EXPECT_EQ(kv["sFileStartDate"], date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2));
    }
    const unsigned s = h.uFileStartTimeMS / 1000u;
    char clock[32];
    std::snprintf(clock, sizeof clock, "%02u:%02u %02u", s / 3600u, s / 60u % 60u, s % 60u);
    EXPECT_EQ(kv["sFileStartTime"], clock);
    EXPECT_EQ(kv["uFileStartDate"], date);
    EXPECT_EQ(kv["uFileStartTimeMS"], std::to_string(h.uFileStartTimeMS));
    EXPECT_EQ(kv["sProtocolPath"], Trimmed(h.sProtocolPath, 256));
    EXPECT_EQ(kv["sCreatorInfo"], Trimmed(h.sCreatorInfo, 16));
    EXPECT_EQ(kv["nExperimentType"], std::to_string(h.nExperimentType));
    EXPECT_FLOAT_EQ(std::stof(kv["fTelegraphFilter"]), static_cast<float>(h.fTelegraphFilter[physical]));
    EXPECT_NEAR(std::stod(kv["fTelegraphMembraneCap"]), static_cast<double>(h.fTelegraphMembraneCap[physical]), 1e-6);
    if (startTime) {
        EXPECT_NEAR(std::stod(kv["dStartTime"]), *startTime, std::fabs(*startTime) * 1e-5 + 1e-9);
    } else {
        EXPECT_EQ(kv.count("dStartTime"), 0u);
    }
    EXPECT_EQ(kv["nADCNumChannels"], std::to_string(h.nADCNumChannels));
    std::string seq;
    for (int i = 0; i < h.nADCNumChannels && i < 16; ++i) seq += (i ? "," : "") + std::to_string(h.nADCSamplingSeq[i]);
    EXPECT_EQ(kv["nADCSamplingSeq"], seq);
    EXPECT_NEAR(std::stod(kv["fADCSequenceInterval"]), h.fADCSequenceInterval * 1e-6, 5e-7);
    EXPECT_EQ(kv["iPhysicalChannel"], std::to_string(physical));
    EXPECT_EQ(kv["iLogicalChannel"], std::to_string(logical));
    EXPECT_EQ(kv["sADCChannelName"], Trimmed(h.sADCChannelName[physical], 10));
    // The keys come in the order of the note's format, each closed by ";".
    const char* order[] = {"sFileName=",
                           ";fFileVersionNumber=",
                           ";nOperationMode=",
                           ";sFileStartTime=",
                           ";sProtocolPath=",
                           ";fTelegraphMembraneCap=",
                           startTime ? ";dStartTime=" : ";",
                           ";nADCNumChannels=",
                           ";iLogicalChannel=",
                           ";sADCChannelName="};
    size_t at = 0;
    for (const char* key : order) {
        const size_t found = note.find(key, at);
        EXPECT_NE(found, std::string::npos) << key << " in " << note;
        if (found != std::string::npos) at = found;
    }
    EXPECT_EQ(note.back(), ';');
}

void CheckAxes(const Wave* w, const ABFFileHeader& h, const char* units)
{
    EXPECT_EQ(w->xstart, 0.0);
    EXPECT_EQ(w->xstep, static_cast<double>(h.fADCSequenceInterval) * 0.000001);
    EXPECT_EQ(w->xunits, "s");
    EXPECT_EQ(w->dataunits, std::string(units));
}

std::vector<Golden> GoldenWhere(bool gapFree)
{
    std::vector<Golden> out;
    for (Golden& g : querytest::RealGolden())
        if (abfcompare::Int(g.json, "ord110/ok") &&
            (abfcompare::Int(g.json, "header_summary/nOperationMode") == 3) == gapFree)
            out.push_back(std::move(g));
    return out;
}

class RealFiles : public ReaderTest {};

TEST_F(RealFiles, EveryChannelOfEveryGapFreeFile)
{
    REQUIRE_SHARED("data/golden");
    const std::vector<Golden> files = GoldenWhere(true);
    ASSERT_GE(files.size(), 3u);
    for (const Golden& g : files) {
        const DirectFile d = OpenDirect(g.path);
        ASSERT_TRUE(d.ok) << g.name;
        const int channels = d.header.nADCNumChannels;
        const int32_t points = d.header.lActualAcqLength / channels;
        for (int logical = 0; logical < channels; ++logical) {
            SCOPED_TRACE(g.name + " channel " + std::to_string(logical));
            Wave* f32 = host.MakeWave(kWaveFloat32, {points});
            Wave* f64 = host.MakeWave(kWaveFloat64, {points});
            for (Wave* w : {f32, f64}) {
                CallResult r = Call("kav_AbfChannelRead", {Str(g.path), Num(logical), WaveArg(w)});
                ASSERT_EQ(r.status, 0);
                ASSERT_EQ(r.resultNumber, 1.0);
                EXPECT_EQ(w->modified, 1);
            }
            // Each read of the recorded answers is one stretch of the wave.
            const abfcompare::Json& episodes = abfcompare::At(g.json, "episodes");
            size_t at = 0;
            const std::vector<float> got = WaveFloats(f32);
            for (size_t e = 0; e < episodes.size(); ++e) {
                const abfcompare::Json& read = episodes[e]["channels"][static_cast<size_t>(logical)]["ord210"];
                ASSERT_EQ(abfcompare::Int(read, "ok"), 1);
                const size_t n = static_cast<size_t>(abfcompare::Int(read, "count"));
                ASSERT_LE(at + n, got.size());
                EXPECT_EQ(Sha256Floats(got.data() + at, n), abfcompare::String(read, "sha256")) << "read " << e + 1;
                at += n;
            }
            EXPECT_EQ(at, got.size());
            for (int32_t i = 0; i < points; ++i)
                if (f64->As<double>()[i] != static_cast<double>(f32->As<float>()[i]))
                    FAIL() << "point " << i << " not widened exactly";
            char units[9] = {0};
            std::string u = Trimmed(d.header.sADCUnits[d.header.nADCSamplingSeq[logical]], 8);
            std::snprintf(units, sizeof units, "%s", u.c_str());
            CheckAxes(f32, d.header, units);
            CheckAxes(f64, d.header, units);
            CheckNote(f32->note, g.path, d.header, logical, nullptr);
            EXPECT_EQ(f64->note, f32->note);
        }
    }
}

// Every episode of every channel of a few episodic files.
TEST_F(RealFiles, EveryEpisodeOfEpisodicFiles)
{
    REQUIRE_SHARED("data/golden");
    for (const char* stem :
         {"05210017_vc_abf1", "14o16001_vc_pair_step", "2018_12_15_0000", "File_axon_7", "user-list-durations"}) {
        const Golden g = querytest::GoldenFor(stem);
        ASSERT_FALSE(g.path.empty()) << stem;
        const DirectFile d = OpenDirect(g.path);
        ASSERT_TRUE(d.ok) << stem;
        const abfcompare::Json& episodes = abfcompare::At(g.json, "episodes");
        for (size_t e = 0; e < episodes.size(); ++e) {
            const abfcompare::Json& ep = episodes[e];
            const int32_t count = static_cast<int32_t>(abfcompare::Int(ep, "ord340/count"));
            for (const abfcompare::Json& ch : abfcompare::At(ep, "channels")) {
                const int logical = static_cast<int>(abfcompare::Int(ch, "logical"));
                SCOPED_TRACE(std::string(stem) + " episode " + std::to_string(e + 1) + " channel " +
                             std::to_string(logical));
                for (int type : {kWaveFloat32, kWaveFloat64}) {
                    Wave* w = host.MakeWave(type, {count});
                    CallResult r = Call("kav_AbfEpisodeRead",
                                        {Str(g.path), Num(logical), Num(static_cast<double>(e + 1)), WaveArg(w)});
                    ASSERT_EQ(r.status, 0);
                    ASSERT_EQ(r.resultNumber, 1.0);
                    const std::vector<float> got = WaveFloats(w);
                    EXPECT_EQ(Sha256Floats(got.data(), got.size()), abfcompare::String(ch, "ord210/sha256"));
                    if (type == kWaveFloat64) {
                        for (int32_t i = 0; i < count; ++i)
                            ASSERT_EQ(w->As<double>()[i], static_cast<double>(got[static_cast<size_t>(i)]));
                    }
                    CheckAxes(w, d.header, Trimmed(d.header.sADCUnits[d.header.nADCSamplingSeq[logical]], 8).c_str());
                    const double start = abfcompare::Number(ch, "ord350/value");
                    CheckNote(w->note, g.path, d.header, logical, &start);
                }
            }
        }
    }
}

// The stimulus waveforms of the protocol files: every episode and channel the
// vendor library answered for, with its success or failure.
TEST_F(RealFiles, StimulusWaveformsOfTheProtocolFiles)
{
    REQUIRE_SHARED("data/golden");
    int delivered = 0, refused = 0;
    for (const char* stem :
         {"18702001-step", "18702001-ramp", "18702001-pulseTrain", "18702001-biphasicTrain", "18702001-cosTrain",
          "2018_12_09_pCLAMP11_0001", "171116sh_0015-ATFwaveform", "user-list-durations", "17o05027_ic_ramp"}) {
        const Golden g = querytest::GoldenFor(stem);
        ASSERT_FALSE(g.path.empty()) << stem;
        const DirectFile d = OpenDirect(g.path);
        ASSERT_TRUE(d.ok) << stem;
        const abfcompare::Json& episodes = abfcompare::At(g.json, "episodes");
        for (size_t e = 0; e < episodes.size(); ++e) {
            const int32_t count = static_cast<int32_t>(abfcompare::Int(episodes[e], "ord340/count"));
            for (const abfcompare::Json& ch : abfcompare::At(episodes[e], "channels")) {
                const int logical = static_cast<int>(abfcompare::Int(ch, "logical"));
                const abfcompare::Json& want = abfcompare::At(ch, "ord250");
                SCOPED_TRACE(std::string(stem) + " episode " + std::to_string(e + 1) + " channel " +
                             std::to_string(logical));
                for (int type : {kWaveFloat32, kWaveFloat64}) {
                    Wave* w = host.MakeWave(type, {count});
                    w->xstep = 7.0;
                    w->dataunits = "before";
                    w->note = "kept";
                    CallResult r = Call("kav_AbfEpisodeWaveform",
                                        {Str(g.path), Num(logical), Num(static_cast<double>(e + 1)), WaveArg(w)});
                    ASSERT_EQ(r.status, 0);
                    EXPECT_EQ(w->note, "kept");
                    if (abfcompare::Int(want, "ok")) {
                        ++delivered;
                        ASSERT_EQ(r.resultNumber, 1.0);
                        const std::vector<float> got = WaveFloats(w);
                        EXPECT_EQ(Sha256Floats(got.data(), got.size()), abfcompare::String(want, "sha256"));
                        const int physical = d.header.nADCSamplingSeq[logical];
                        CheckAxes(w, d.header,
                                  physical < 8 ? Trimmed(d.header.sDACChannelUnits[physical], 8).c_str() : "");
                    } else {
                        ++refused;
                        // A waveform the library cannot compute is not reported as delivered.
                        EXPECT_EQ(r.resultNumber, 0.0);
                        EXPECT_EQ(LastErr(), abfcompare::Number(want, "error"));
                        EXPECT_EQ(w->xstep, 7.0);
                        EXPECT_EQ(w->dataunits, "before");
                    }
                }
            }
        }
    }
    EXPECT_GT(delivered, 20);
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace readertest
