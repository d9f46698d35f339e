// Through the host: the header functions show the values the library derives for a
// file (not the file's own), and every function that takes a wave answers a wave of
// 0 points, made as the host's command line makes it ("wave:f32:0").
#include <string>
#include <vector>

#include "host/cli.h"
#include "tests/abffio/minimal_files.h"
#include "readers_support.h"

namespace readertest {
namespace {

using kavhost::Num;
using kavhost::Str;

// Header fields the library reports otherwise than the file stores them, as the
// key=value string and the listing show them: a 1.84 recording storing trigger source 4
// (kept; a digitizer of 2 ADCs and nothing else), and 1.3 recordings storing 15, which a
// gap-free one keeps and an episodic one reports as -3.
TEST_F(ReaderTest, HeaderFunctionsShowTheLibrarysValues)
{
    abfw::RecordingSpec rec = abfw::DefaultRecording();
    rec.format = abfw::Format::Abf1;
    rec.abf1Version = 1.84f;
    rec.damage.patches.push_back({"", abfformat::abf1::nTriggerSource.offset, 4, 2});
    // abfgen writes ABF1 from 1.6 on; the older header comes from the tests' own writer.
    const auto old13 = [](bool gapFree) {
        abftest::MinimalFile r;
        r.abfMajor = 1;
        r.abf1Version = 1.3f;
        r.mode = gapFree ? kAbfGapFree : kAbfEpisodic;
        r.triggerSource = 15;
        r.samplesPerEpisode = 512;
        r.episodes = gapFree ? 0 : 2;
        r.raw.assign(1024, 100);
        if (!gapFree) r.synch = {{0, 512}, {100000, 512}};
        const std::vector<uint8_t> bytes = abftest::Write(r);
        const std::string path = querytest::ScratchFile(gapFree ? "lv_13_gapfree.abf" : "lv_13_episodic.abf");
        return querytest::WriteFile(path, std::string(bytes.begin(), bytes.end())) ? path : std::string();
    };
    struct Case {
        std::string path;
        std::vector<const char*> values, listing;
    };
    const Case cases[] = {
        {WriteRecording(rec, "library_values_184.abf"),
         {";nTriggerSource=4;", ";nDigitizerADCs=2;", ";nDigitizerDACs=0;", ";nDigitizerType=0;"},
         {"nTriggerSource = 4\r", "nDigitizerADCs = 2\r", "nDigitizerDACs = 0\r"}},
        {old13(true), {";nTriggerSource=15;"}, {"nTriggerSource = 15\r"}},
        {old13(false), {";nTriggerSource=-3;"}, {"nTriggerSource = -3\r"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_FALSE(c.path.empty());
        const CallResult text = Call("kav_AbfMetaData", {Str(c.path), kavhost::StrRef("")});
        ASSERT_EQ(text.resultNumber, 1.0);
        ASSERT_EQ(text.args.size(), 2u);
        const std::string& values = text.args[1].text;
        for (const char* item : c.values) EXPECT_NE(values.find(item), std::string::npos) << item;

        const CallResult listing = Call("kav_AbfPrintMetaData", {Str(c.path)});
        ASSERT_EQ(listing.resultNumber, 1.0);
        for (const char* item : c.listing) EXPECT_NE(listing.history.find(item), std::string::npos) << item;
    }
}

// A wave of 0 points has no dimension (the host counts the leading non-zero sizes), so
// each function refuses it with 10006 before it opens the file: the last error and
// the wave stay as they were.
TEST_F(ReaderTest, FunctionsTakingAWaveRefuseAWaveOfNoPoints)
{
    const std::string path = WriteRecording(GapFreeRecording(2, 1000), "library_values_zero.abf");
    ASSERT_FALSE(path.empty());
    struct Case {
        const char* function;
        std::vector<Arg> before;  // the arguments before the wave
    };
    const Case cases[] = {
        {"kav_AbfChannelRead", {Str(path), Num(0)}},
        {"kav_AbfEpisodeRead", {Str(path), Num(0), Num(1)}},
        {"kav_AbfEpisodeWaveform", {Str(path), Num(0), Num(1)}},
        {"kav_AbfReadTimeTags", {Str(path)}},
        {"kav_AbfReadExternalTags", {Str(path)}},
    };
    for (const Case& c : cases)
        for (const char* spec : {"wave:f32:0", "wave:f64:0"}) {
            SCOPED_TRACE(std::string(c.function) + " " + spec);
            Arg wave;
            std::string error;
            ASSERT_TRUE(kavhost::ParseArg(host, kParamWave, spec, &wave, &error)) << error;
            ASSERT_EQ(wave.wave->Points(), 0);
            std::vector<Arg> args = c.before;
            args.push_back(wave);
            Mark();
            const CallResult r = Call(c.function, args);
            EXPECT_EQ(r.status, 10006);
            EXPECT_EQ(r.resultNumber, 0.0);
            EXPECT_EQ(LastErr(), kMark);
            EXPECT_EQ(wave.wave->Points(), 0);
            EXPECT_EQ(wave.wave->modified, 0);
        }
}

}  // namespace
}  // namespace readertest
