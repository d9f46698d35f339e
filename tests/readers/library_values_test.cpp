// Through the host: the header functions show the values the library derives for a
// file (not the file's own), and every function that takes a wave answers a wave of
// 0 points, made as the host's command line makes it ("wave:f32:0").
#include <string>
#include <vector>

#include "host/cli.h"
#include "readers_support.h"

namespace readertest {
namespace {

using kavhost::Num;
using kavhost::Str;

// An ABF1 1.84 recording whose header stores trigger source 4: the library reports that
// trigger source and, for version 1.84, a digitizer of 2 ADCs and nothing else.
TEST_F(ReaderTest, HeaderFunctionsShowTheLibrarysValues)
{
    abfw::Recording rec = abfw::DefaultRecording();
    rec.format = abfw::Format::Abf1;
    rec.abf1Version = 1.84f;
    rec.damage.patches.push_back({"", abfformat::abf1::nTriggerSource.offset, 4, 2});
    const std::string path = WriteRecording(rec, "library_values_184.abf");
    ASSERT_FALSE(path.empty());

    const CallResult text = Call("kav_AbfMetaData", {Str(path), kavhost::StrRef("")});
    ASSERT_EQ(text.resultNumber, 1.0);
    ASSERT_EQ(text.args.size(), 2u);
    const std::string& values = text.args[1].text;
    for (const char* item : {";nTriggerSource=4;", ";nDigitizerADCs=2;", ";nDigitizerDACs=0;", ";nDigitizerType=0;"})
        EXPECT_NE(values.find(item), std::string::npos) << item;

    const CallResult listing = Call("kav_AbfPrintMetaData", {Str(path)});
    ASSERT_EQ(listing.resultNumber, 1.0);
    for (const char* item : {"nTriggerSource = 4\r", "nDigitizerADCs = 2\r", "nDigitizerDACs = 0\r"})
        EXPECT_NE(listing.history.find(item), std::string::npos) << item;
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
