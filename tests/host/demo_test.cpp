// The demo's account against the recordings it wrote: every figure expected here is
// computed from the writer's description of the files (checked against the files
// on disk), not copied from a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "abffio/writer/abf_writer.h"
#include "host/cli.h"
#include "host/demo.h"

namespace {

namespace fs = std::filesystem;
using kavhost::DemoNumber;

struct CliRun {
    int status = -1;
    std::string account;
};

// The command line in this process, its standard output captured.
CliRun RunCli(const std::vector<std::string>& args)
{
    std::ostringstream captured;
    std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
    CliRun r;
    r.status = kavhost::RunCommandLine(args);
    std::cout.rdbuf(old);
    r.account = captured.str();
    return r;
}

fs::path FreshFolder(const std::string& tag)
{
    auto n = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path p = fs::temp_directory_path() / ("kav_demo_test_" + tag + "_" + std::to_string(n % 100000000));
    fs::remove_all(p);
    return p;
}

// Channel `pos` of per-channel samples [first, first+count) as the file stores them
// (quantised to int16, scaled back to user units).
std::vector<float> StoredChannel(const abfw::RecordingSpec& rec, int64_t first, int64_t count, std::size_t pos)
{
    const std::size_t nch = rec.channels.size();
    std::vector<float> mux(std::size_t(count) * nch);
    std::string error;
    EXPECT_TRUE(abfw::GenerateSamples(rec, first, count, mux.data(), &error)) << error;
    const abfw::Channel& ch = rec.channels[pos];
    const double factor = abfw::ScaleFactor(rec, ch);
    std::vector<float> out(static_cast<std::size_t>(count));
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = float(double(abfw::Quantise(rec, ch, mux[k * nch + pos])) * factor + double(ch.offset));
    return out;
}

// The account's line of first/last/min/max for these values.
std::string SamplesLine(const std::vector<float>& v, double step)
{
    const std::size_t lo = std::size_t(std::min_element(v.begin(), v.end()) - v.begin());
    const std::size_t hi = std::size_t(std::max_element(v.begin(), v.end()) - v.begin());
    return "samples: first " + DemoNumber(v.front()) + ", last " + DemoNumber(v.back()) + ", min " + DemoNumber(v[lo]) +
           " (at " + DemoNumber(step * double(lo)) + " s), max " + DemoNumber(v[hi]) + " (at " +
           DemoNumber(step * double(hi)) + " s)";
}

// Times in seconds of the tags of one type, as "at t1 s, t2 s".
std::string TagTimes(const abfw::RecordingSpec& rec, int16_t type, int* count)
{
    std::string s;
    *count = 0;
    for (const abfw::Tag& t : rec.tags)
        if (t.type == type)
            s += std::string((*count)++ ? ", " : " at ") + DemoNumber(double(t.time) * abfw::SynchCountUs(rec) * 1e-6) +
                 " s";
    return s;
}

// The line of the account that starts (after blanks) with `start`; empty when none.
std::string LineStartingWith(const std::string& account, const std::string& start)
{
    std::istringstream in(account);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t b = line.find_first_not_of(' ');
        if (b != std::string::npos && line.compare(b, start.size(), start) == 0) return line;
    }
    return "";
}

// Which parts of an absolute path the split reports: 1 drive ("C:"), 2 directory,
// 4 name, 8 extension.
int SplitBits(const std::string& path)
{
    const bool drive = path.size() > 1 && path[1] == ':';
    const std::size_t slash = path.find_last_of("/\\");
    const std::string file = path.substr(slash + 1);
    const std::size_t dot = file.rfind('.');
    return (drive ? 1 : 0) | (slash + 1 > (drive ? 2u : 0u) ? 2 : 0) | (dot == 0 || file.empty() ? 0 : 4) |
           (dot == std::string::npos ? 0 : 8);
}

void ExpectFileMatches(const abfw::RecordingSpec& rec, const fs::path& file)
{
    abfw::Layout layout;
    std::string error;
    ASSERT_TRUE(abfw::PlanLayout(rec, &layout, &error)) << error;
    ASSERT_TRUE(fs::exists(file)) << file;
    EXPECT_EQ(int64_t(fs::file_size(file)), layout.fileSize) << file;
}

TEST(Demo, AccountHoldsTheFiguresOfTheFilesWritten)
{
    const fs::path dir = FreshFolder("figures");
    CliRun run = RunCli({"xophost", "demo", dir.string()});
    const std::string& a = run.account;
    SCOPED_TRACE(a);
    ASSERT_EQ(run.status, 0);

    const abfw::RecordingSpec gap = abfw::DefaultRecording(), steps = abfw::StepProtocolRecording();
    ExpectFileMatches(gap, dir / kavhost::kDemoGapFreeFile);
    ExpectFileMatches(steps, dir / kavhost::kDemoStepsFile);

    EXPECT_EQ(a.find("(not built)"), std::string::npos);
    EXPECT_EQ(a.find("unexpected"), std::string::npos);
    EXPECT_NE(a.find("Host audit: 23 calls, every handle accounted for"), std::string::npos);

    const std::string stepsPath = (dir / kavhost::kDemoStepsFile).make_preferred().string();
    EXPECT_NE(a.find("String steps = \"" + stepsPath + "\""), std::string::npos) << stepsPath;

    // Shape of both recordings.
    std::string seq;
    for (auto& c : gap.channels) seq += (seq.empty() ? "" : ";") + std::to_string(c.physical);
    const struct {
        const char* call;
        std::string expected;
    } shape[] = {
        {"kav_AbfIsAbfFile(gapfree", "-> 1 "},
        {"kav_AbfHasData(gapfree", "-> 1 "},
        {"kav_AbfOperationMode(gapfree", "mode = " + std::to_string(int(gap.mode)) + " (gap-free)"},
        {"kav_AbfChannelCount(gapfree", "nch = " + std::to_string(gap.channels.size())},
        {"kav_AbfTotalSampleCount(gapfree", "n = " + std::to_string(gap.samplesPerChannel)},
        {"kav_AbfADCSamplingSeq(gapfree", "seq = \"" + seq + "\""},
        {"kav_AbfOperationMode(steps", "mode = " + std::to_string(int(steps.mode)) + " (episodic stimulation)"},
        {"kav_AbfEpisodeCount(steps", "neps = " + std::to_string(steps.episodes)},
        {"kav_AbfSampleCount(steps, 3", "n = " + std::to_string(steps.samplesPerEpisode)},
        {"kav_AbfStartTime(steps, 0, 3",
         "t0 = " + DemoNumber(double(abfw::SweepStarts(steps)[2]) * abfw::SynchCountUs(steps) / 1000.0)},
        {"kav_AbfFileSplitPath(steps", "-> " + std::to_string(SplitBits(stepsPath))},
    };
    for (auto& s : shape) {
        std::string line = LineStartingWith(a, s.call);
        EXPECT_NE(line.find("-> "), std::string::npos) << s.call;
        EXPECT_NE(line.find(s.expected), std::string::npos) << s.call << " wants " << s.expected << "\n" << line;
    }
    EXPECT_NE(a.find("name = \"demo_steps\", ext = \".abf\""), std::string::npos);

    // Channel 0 of the gap-free recording.
    const double gapStep = gap.sequenceIntervalUs * 1e-6;
    const int64_t n = gap.samplesPerChannel;
    EXPECT_NE(a.find("Make/N=" + std::to_string(n) + " ch0"), std::string::npos);
    EXPECT_NE(
        a.find("ch0: f32, " + std::to_string(n) + " points, x = 0 + p*" + DemoNumber(gapStep) + " s (last point at " +
               DemoNumber(gapStep * double(n - 1)) + " s), data units \"" + gap.channels[0].units + "\""),
        std::string::npos);
    EXPECT_NE(a.find(SamplesLine(StoredChannel(gap, 0, n, 0), gapStep)), std::string::npos)
        << SamplesLine(StoredChannel(gap, 0, n, 0), gapStep);
    EXPECT_NE(a.find("lActualAcqLength=" + std::to_string(n * int64_t(gap.channels.size())) + ";"), std::string::npos);
    EXPECT_NE(a.find("sADCChannelName=" + gap.channels[0].name + ";"), std::string::npos);

    // Tags: time (0) and external (2) ones by the plug-in, comments (1) as the writer put them.
    int count = 0;
    std::string times = TagTimes(gap, 0, &count);
    ASSERT_GT(count, 0);
    EXPECT_NE(a.find(std::to_string(count) + (count == 1 ? " time tag" : " time tags") + times + " (wave now f64)"),
              std::string::npos);
    times = TagTimes(gap, 2, &count);
    ASSERT_GT(count, 0);
    EXPECT_NE(
        a.find(std::to_string(count) + (count == 1 ? " external tag" : " external tags") + times + " (wave now f64)"),
        std::string::npos);
    for (const abfw::Tag& t : gap.tags)
        if (t.type == 1) {
            EXPECT_NE(a.find("\"" + t.comment + "\" at "), std::string::npos) << t.comment;
        }

    // Sweep 3 of the step protocol and its stimulus.
    const int64_t per = steps.samplesPerEpisode;
    const double step = steps.sequenceIntervalUs * 1e-6;
    const std::string sweep = SamplesLine(StoredChannel(steps, 2 * per, per, 0), step);
    EXPECT_NE(a.find(sweep), std::string::npos) << sweep;
    EXPECT_NE(a.find("dStartTime=" +
                     DemoNumber(double(abfw::SweepStarts(steps)[2]) * abfw::SynchCountUs(steps) / 1000.0) + ";"),
              std::string::npos);
    const std::string levels = LineStartingWith(a, "levels:");
    ASSERT_FALSE(levels.empty());
    const abfw::Dac& dac = steps.dacs[std::size_t(steps.activeDac)];
    for (const abfw::Epoch& e : dac.epochs)
        if (e.type == abfw::kEpochStep && e.initDuration > 0) {
            EXPECT_NE(levels.find(" " + DemoNumber(e.initLevel + 2 * e.levelInc) + " " + dac.units + " from "),
                      std::string::npos)
                << levels;
        }
    EXPECT_NE(levels.find(DemoNumber(dac.holding) + " " + dac.units), std::string::npos) << levels;

    // The header as a string: its length as told, a key from the writer's description.
    const std::string kvLine = LineStartingWith(a, "kv = ");
    EXPECT_NE(kvLine.find(";nOperationMode=" + std::to_string(int(steps.mode)) + ";"), std::string::npos) << kvLine;
    EXPECT_NE(a.find("lActualEpisodes=" + std::to_string(steps.episodes) + ", "), std::string::npos);
    EXPECT_NE(a.find("nADCNumChannels=" + std::to_string(steps.channels.size()) + ", "), std::string::npos);

    // Header listing: its first lines as printed into the history.
    EXPECT_NE(a.find("    nOperationMode = " + std::to_string(int(steps.mode)) + "\n"), std::string::npos);
    EXPECT_NE(a.find("    lActualEpisodes = " + std::to_string(steps.episodes) + "\n"), std::string::npos);

    // The failures it shows.
    EXPECT_NE(LineStartingWith(a, "kav_AbfChannelRead(steps").find("-> status 10010"), std::string::npos);
    const std::string missing = LineStartingWith(a, "kav_AbfChannelCount(\"no such file.abf\"");
    EXPECT_EQ(missing.substr(missing.size() - std::min<std::size_t>(missing.size(), 5)), " -> 0") << missing;
    EXPECT_EQ(LineStartingWith(a, "kav_AbfLastErr()").find("-> 0"), std::string::npos);
    EXPECT_NE(a.find("no such file.abf\" could not be opened"), std::string::npos);

    fs::remove_all(dir);
}

TEST(Demo, TemporaryFolderIsRemovedAfterwards)
{
    CliRun run = RunCli({"xophost", "demo"});
    SCOPED_TRACE(run.account);
    ASSERT_EQ(run.status, 0);
    const std::string marker = "recordings written into ";
    std::size_t b = run.account.find(marker);
    ASSERT_NE(b, std::string::npos);
    b += marker.size();
    std::size_t e = run.account.find(" (temporary, removed afterwards)", b);
    ASSERT_NE(e, std::string::npos);
    const fs::path folder = fs::u8path(run.account.substr(b, e - b));
    EXPECT_NE(folder.filename().string().find("kav_Sorvan-demo-"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder)) << folder;
}

TEST(Demo, FolderThatCannotBeUsedFailsWithoutCalls)
{
    const fs::path dir = FreshFolder("blocked");
    fs::create_directories(dir);
    const fs::path file = dir / "a file";
    std::ofstream(file) << "not a folder";
    CliRun run = RunCli({"xophost", "demo", (file / "sub").string()});
    EXPECT_EQ(run.status, 1) << run.account;
    EXPECT_EQ(run.account.find("kav_AbfOperationMode"), std::string::npos) << run.account;
    EXPECT_NE(run.account.find("demo: "), std::string::npos) << run.account;
    fs::remove_all(dir);
}

TEST(Demo, FunctionsNotBuiltAreShownAndSkipped)
{
#ifdef _WIN32
    const std::string plugin = kavhost::ProgramFolder() + "\\host_testplugin.xop";
#else
    const std::string plugin = kavhost::ProgramFolder() + "/host_testplugin.so";
#endif
    const fs::path dir = FreshFolder("unbuilt");
    CliRun run = RunCli({"xophost", "--plugin", plugin, "demo", dir.string()});
    const std::string& a = run.account;
    SCOPED_TRACE(a);
    EXPECT_EQ(run.status, 0);
    ExpectFileMatches(abfw::DefaultRecording(), dir / kavhost::kDemoGapFreeFile);
    ExpectFileMatches(abfw::StepProtocolRecording(), dir / kavhost::kDemoStepsFile);
    // Every call of the account is there, each one skipped; nothing was called.
    const char* calls[] = {"kav_AbfIsAbfFile(gapfree",   "kav_AbfOperationMode(gapfree", "kav_AbfMetaData(",
                           "kav_AbfChannelRead(gapfree", "kav_AbfReadTimeTags(",         "kav_AbfEpisodeWaveform(steps",
                           "kav_AbfPrintMetaData(",      "kav_AbfFileSplitPath(",        "kav_AbfLastErrStr()"};
    for (const char* c : calls) {
        const std::string line = LineStartingWith(a, c);
        EXPECT_NE(line.find("(not built)"), std::string::npos) << c << ": " << line;
    }
    EXPECT_NE(a.find("Host audit: 0 calls"), std::string::npos);
    EXPECT_NE(a.find("23 calls were skipped: function not built yet"), std::string::npos);
    EXPECT_EQ(a.find("ch0: "), std::string::npos);
    fs::remove_all(dir);
}

TEST(Demo, MoreThanOneFolderIsAUsageError)
{
    CliRun run = RunCli({"xophost", "demo", "a", "b"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.account.empty()) << run.account;
}

}  // namespace
