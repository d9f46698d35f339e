// abfgen's command line, run in-process: options into recordings, files, refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>

#include "tools/abfgen/cli.h"
#include "tests/abffio/writer/parsed_file.h"

using namespace abfw;

namespace {

bool Build(std::vector<std::string> args, RecordingSpec* r)
{
    std::string file;
    args.push_back("out.abf");
    return abfgen::BuildRecording(args, r, &file);
}

int RunTool(std::vector<std::string> args)
{
    args.insert(args.begin(), "abfgen");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    return abfgen::Main(int(argv.size()), argv.data());
}

TEST(Cli, HelpListsExactlyTheOptionsTheParserKnows)
{
    const std::string help = abfgen::HelpText();
    std::set<std::string> listed;
    const std::regex option("--[a-z0-9-]+");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        listed.insert(it->str());
    const std::set<std::string> known(abfgen::OptionNames().begin(), abfgen::OptionNames().end());
    EXPECT_EQ(listed, known);
    EXPECT_EQ(RunTool({"--help"}), 0);
}

TEST(Cli, OptionsShapeTheRecording)
{
    struct Case {
        std::vector<std::string> args;
        std::function<void(const RecordingSpec&)> check;
    };
    const Case cases[] = {
        {{},
         [](const RecordingSpec& r) {
             EXPECT_EQ(r.mode, Mode::GapFree);
             EXPECT_EQ(r.channels.size(), 2u);
             EXPECT_GE(r.tags.size(), 3u);
             EXPECT_EQ(r.format, Format::Abf2);
         }},
        {{"--mode", "episodic", "--episodes", "4", "--episode-samples", "1000"},
         [](const RecordingSpec& r) {
             EXPECT_EQ(r.mode, Mode::Episodic);
             EXPECT_EQ(SweepLengths(r), std::vector<int64_t>(4, 1000));
         }},
        {{"--mode", "variable", "--episode-lengths", "10,20,30"},
         [](const RecordingSpec& r) {
             EXPECT_EQ(r.mode, Mode::VariableEvents);
             EXPECT_EQ(SweepLengths(r), (std::vector<int64_t>{10, 20, 30}));
         }},
        {{"--mode", "fixed", "--episodes", "3", "--episode-starts", "0,5000,9000"},
         [](const RecordingSpec& r) {
             EXPECT_EQ(r.mode, Mode::FixedEvents);
             EXPECT_EQ(SweepStarts(r), (std::vector<int64_t>{0, 5000, 9000}));
         }},
        {{"--channels", "3", "--names", "a,b,c", "--units", "pA,mV,nA", "--scale", "0.1,0.2,0.3", "--physical", "4,2,9",
          "--gain", "1,2,4", "--offset", "0,1.5,0", "--telegraph", "0,5,0"},
         [](const RecordingSpec& r) {
             ASSERT_EQ(r.channels.size(), 3u);
             EXPECT_EQ(r.channels[1].name, "b");
             EXPECT_EQ(r.channels[2].units, "nA");
             EXPECT_FLOAT_EQ(r.channels[2].scaleFactor, 0.3f);
             EXPECT_EQ(r.channels[0].physical, 4);
             EXPECT_EQ(r.channels[2].physical, 9);
             EXPECT_FLOAT_EQ(r.channels[2].gain, 4.0f);
             EXPECT_FLOAT_EQ(r.channels[1].offset, 1.5f);
             EXPECT_TRUE(r.channels[1].telegraph);
             EXPECT_FALSE(r.channels[0].telegraph);
         }},
        {{"--format", "abf1", "--abf-version", "1.84"},
         [](const RecordingSpec& r) {
             EXPECT_EQ(r.format, Format::Abf1);
             EXPECT_FLOAT_EQ(r.abf1Version, 1.84f);
         }},
        {{"--abf-version", "2.09"}, [](const RecordingSpec& r) { EXPECT_EQ(r.versionMinor, 9); }},
        {{"--data", "float32", "--rate", "10000"},
         [](const RecordingSpec& r) {
             EXPECT_EQ(r.dataFormat, DataFormat::Float32);
             EXPECT_FLOAT_EQ(r.sequenceIntervalUs, 100.0f);
         }},
        {{"--date", "20200102", "--time", "01:02:03.456"},
         [](const RecordingSpec& r) {
             EXPECT_EQ(r.startDate, 20200102u);
             EXPECT_EQ(r.startTimeMS, 3723456u);
         }},
        {{"--mode", "episodic", "--epoch", "1:2:biphasic:10:1.5:500:5:100:20:3", "--holding", "1:-60",
          "--inter-episode", "1:1", "--dac-name", "1:Stim", "--dac-units", "1:pA", "--dac-scale", "1:400"},
         [](const RecordingSpec& r) {
             ASSERT_GE(r.dacs.size(), 2u);
             const Epoch& e = r.dacs[1].epochs[2];
             EXPECT_EQ(e.type, kEpochBiphasicTrain);
             EXPECT_FLOAT_EQ(e.initLevel, 10.0f);
             EXPECT_FLOAT_EQ(e.levelInc, 1.5f);
             EXPECT_EQ(e.initDuration, 500);
             EXPECT_EQ(e.durationInc, 5);
             EXPECT_EQ(e.pulsePeriod, 100);
             EXPECT_EQ(e.pulseWidth, 20);
             EXPECT_EQ(e.digitalValue, 3);
             EXPECT_TRUE(r.dacs[1].waveformEnable);
             EXPECT_FLOAT_EQ(r.dacs[1].holding, -60.0f);
             EXPECT_EQ(r.dacs[1].interEpisodeLevel, 1);
             EXPECT_EQ(r.dacs[1].name, "Stim");
             EXPECT_EQ(r.dacs[1].units, "pA");
             EXPECT_FLOAT_EQ(r.dacs[1].scaleFactor, 400.0f);
         }},
        {{"--mode", "episodic", "--no-epochs"},
         [](const RecordingSpec& r) {
             for (const Dac& d : r.dacs) {
                 EXPECT_FALSE(d.waveformEnable);
                 for (const Epoch& e : d.epochs) EXPECT_EQ(e.type, kEpochDisabled);
             }
         }},
        {{"--no-tags", "--tag", "external:1.5:hello", "--tag", "5:2"},
         [](const RecordingSpec& r) {
             ASSERT_EQ(r.tags.size(), 2u);
             EXPECT_EQ(r.tags[0].type, 2);
             EXPECT_EQ(r.tags[0].comment, "hello");
             EXPECT_EQ(r.tags[0].time, SecondsToCounts(r, 1.5));
             EXPECT_EQ(r.tags[1].type, 5);
         }},
        {{"--tag", "comment:1:a:b"}, [](const RecordingSpec& r) { EXPECT_EQ(r.tags.back().comment, "a:b"); }},
        {{"--signal", "none", "--seed", "7"},
         [](const RecordingSpec& r) {
             EXPECT_EQ(r.seed, 7u);
             for (const Channel& c : r.channels)
                 EXPECT_TRUE(c.noise == 0 && c.stepAmplitude == 0 && c.spikeAmplitude == 0 && c.sineAmplitude == 0);
         }},
        {{"--synch-unit", "12.5", "--mode", "episodic", "--start-to-start", "2"},
         [](const RecordingSpec& r) {
             EXPECT_FLOAT_EQ(r.synchTimeUnit, 12.5f);
             EXPECT_EQ(SweepStarts(r)[1], 160000);
         }},
    };
    for (const Case& k : cases) {
        std::string joined;
        for (const std::string& a : k.args) joined += a + " ";
        SCOPED_TRACE(joined);
        RecordingSpec r;
        ASSERT_TRUE(Build(k.args, &r));
        k.check(r);
    }
}

TEST(Cli, RefusesBadCommandLines)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--channels", "17"},
        {"--channels", "0"},
        {"--channels", "2", "--names", "a,b,c"},
        {"--scale", "0"},
        {"--physical", "16"},
        {"--mode", "bursty"},
        {"--format", "abf3"},
        {"--abf-version", "3.1"},
        {"--data", "int32"},
        {"--time", "25:00:00"},
        {"--date", "x"},
        {"--epoch", "0:10:step:1:0:100"},
        {"--epoch", "0:1:square:1:0:100"},
        {"--epoch", "8:1:step:1:0:100"},
        {"--tag", "loud:1"},
        {"--tag", "comment"},
        {"--tag", "time:1e9"},
        {"--holding", "-60"},
        {"--interval", "0"},
        {"--samples", "-5"},
        {"--signal", "noise,hum"},
        {"--preset", "no-such-preset"},
        {"--samples"},
    };
    for (const std::vector<std::string>& args : bad) {
        std::string joined;
        for (const std::string& a : args) joined += a + " ";
        RecordingSpec r;
        EXPECT_FALSE(Build(args, &r)) << joined;
        std::vector<std::string> run = args;
        run.push_back(abftest::ScratchPath("never"));
        EXPECT_EQ(RunTool(run), 2) << joined;
    }
    EXPECT_EQ(RunTool({}), 2);  // no output file
}

TEST(Cli, WritesFilesThatCarryTheOptions)
{
    const std::string path = abftest::ScratchPath("cli");
    ASSERT_EQ(RunTool({"--mode", "episodic", "--channels", "3", "--names", "Im,Vm,Aux", "--episodes", "3",
                       "--episode-samples", "4000", "--no-tags", "--tag", "time:0.5:first", "--epoch",
                       "0:3:ramp:-20:5:1000", path}),
              0);
    const abftest::ParsedFile f = abftest::ParseFile(path);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.mode, 5);
    ASSERT_EQ(f.channels.size(), 3u);
    EXPECT_EQ(f.channels[2].name, "Aux");
    EXPECT_EQ(f.muxSamples, 3 * 4000 * 3);
    ASSERT_EQ(f.synch.size(), 3u);
    ASSERT_EQ(f.tags.size(), 1u);
    EXPECT_EQ(f.tags[0].comment, "first");
    bool ramp = false;
    for (const abftest::ParsedEpoch& e : f.epochs) ramp = ramp || (e.dac == 0 && e.epoch == 3 && e.type == 2);
    EXPECT_TRUE(ramp);
    std::remove(path.c_str());

    EXPECT_EQ(RunTool({"no_such_dir/x/y.abf"}), 1);  // cannot be created

    // --raw: the samples of a float32 file, its length deciding the sample count.
    const std::string raw = "abfgen_test_cli.f32";
    std::vector<float> values(2 * 300);
    for (size_t i = 0; i < values.size(); ++i) values[i] = float(i % 97) * 0.5f - 20.0f;
    FILE* out = std::fopen(raw.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(values.data(), 4, values.size(), out);
    std::fclose(out);
    ASSERT_EQ(RunTool({"--raw", raw, "--data", "float32", "--no-tags", path}), 0);
    const abftest::ParsedFile g = abftest::ParseFile(path);
    ASSERT_EQ(g.muxSamples, int64_t(values.size()));
    for (size_t j = 0; j < values.size(); ++j) ASSERT_EQ(g.Sample(int64_t(j)), values[j]) << j;
    EXPECT_EQ(RunTool({"--raw", raw, "--samples", "301", path}), 1);  // more than the file holds
    std::remove(raw.c_str());
    std::remove(path.c_str());
}

TEST(Cli, DemoFiles)
{
    const std::string dir = "abfgen_test_demo";
    std::filesystem::remove_all(dir);
    ASSERT_EQ(RunTool({"--demo-files", dir}), 0);
    const abftest::ParsedFile gapfree = abftest::ParseFile(dir + "/demo_gapfree.abf");
    const abftest::ParsedFile steps = abftest::ParseFile(dir + "/demo_steps.abf");
    ASSERT_TRUE(gapfree.ok && steps.ok);
    EXPECT_EQ(gapfree.mode, 3);
    EXPECT_EQ(gapfree.channels.size(), 2u);
    EXPECT_FALSE(gapfree.tags.empty());
    EXPECT_EQ(steps.mode, 5);
    EXPECT_FALSE(steps.epochs.empty());
    EXPECT_GT(steps.synch.size(), 1u);
    std::filesystem::remove_all(dir);
}

}  // namespace
