// Recordings past 2 and 4 GiB through the plug-in, in every build: the writer
// seeks over all but their last samples, so each takes a few hundred kilobytes of
// disk however long it is (the scratch folder must be on a file system with sparse
// files). A data section that ends past 4 GiB reads as its small twin with the same
// ending; one of more samples than an ABF header counts is refused with 1005 and a
// text that says what the file is.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "readers_support.h"

namespace readertest {
namespace {

using kavhost::Num;
using kavhost::NumRef;
using kavhost::Str;
using kavhost::WaveArg;

constexpr int kChannels = 2;
constexpr int64_t kRead = kAbfSampleLimit;  // per-channel samples of one read (one episode)

// A gap-free int16 recording of `perChannel` samples a channel of which only the
// last `written` are written; the signal (noise and a sine) starts after the hole.
abfw::RecordingSpec Sparse(int64_t perChannel, int64_t written)
{
    abfw::RecordingSpec rec;
    rec.mode = abfw::Mode::GapFree;
    rec.dataFormat = abfw::DataFormat::Int16;
    for (int c = 0; c < kChannels; ++c) {
        abfw::Channel ch;
        ch.physical = static_cast<int16_t>(c);
        ch.noise = 3.0f + static_cast<float>(c);
        ch.sineAmplitude = 40.0f;
        ch.sineHz = 50.0f;
        rec.channels.push_back(ch);
    }
    rec.samplesPerChannel = perChannel;
    rec.unwrittenSamples = perChannel - written;
    rec.seed = 22;
    return rec;
}

class LargeFiles : public ReaderTest {
protected:
    void TearDown() override
    {
        std::error_code ec;
        for (const std::string& p : written_) std::filesystem::remove(p, ec);
        ReaderTest::TearDown();
    }
    std::string Write(const abfw::RecordingSpec& rec, const std::string& name)
    {
        written_.push_back(WriteRecording(rec, name));
        return written_.back();
    }
    double Count(const char* function, const std::string& path, std::vector<Arg> more = {})
    {
        std::vector<Arg> args = {Str(path)};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(NumRef(-1));
        const CallResult r = Call(function, args);
        EXPECT_EQ(r.status, 0) << function;
        EXPECT_EQ(r.resultNumber, 1.0) << function << ": " << LastErrStr();
        return r.args.back().number;
    }
    std::vector<float> Episode(const std::string& path, int channel, double episode, double points)
    {
        Wave* w = host.MakeWave(kWaveFloat32, {static_cast<CountInt>(points)});
        const CallResult r = Call("kav_AbfEpisodeRead", {Str(path), Num(channel), Num(episode), WaveArg(w)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.resultNumber, 1.0) << LastErrStr();
        return WaveFloats(w);
    }

private:
    std::vector<std::string> written_;
};

// 2^31 - 2 samples in all channels: the data end past 4 GiB, and the last reads
// start past 2 and 4 GiB. The twin holds just the last four reads' worth.
TEST_F(LargeFiles, DataEndingPast4GiBReadAsTheirTwin)
{
    const int64_t perChannel = (int64_t{1} << 30) - 1;
    const int64_t tail = 3 * kRead + perChannel % kRead;
    const std::string large = Write(Sparse(perChannel, tail), "past4GiB.abf");
    const std::string twin = Write(Sparse(tail, tail), "past4GiB_twin.abf");
    ASSERT_FALSE(large.empty());
    ASSERT_FALSE(twin.empty());
    ASSERT_GT(std::filesystem::file_size(large), uint64_t{4} << 30);

    const double episodes = Count("kav_AbfEpisodeCount", large);
    EXPECT_EQ(episodes, static_cast<double>((perChannel + kRead - 1) / kRead));
    EXPECT_EQ(Count("kav_AbfEpisodeCount", twin), 4.0);
    EXPECT_EQ(Count("kav_AbfTotalSampleCount", large), static_cast<double>(perChannel));
    for (int back = 3; back >= 0; --back) {
        const double episode = episodes - back;
        const double points = Count("kav_AbfSampleCount", large, {Num(episode)});
        EXPECT_EQ(points, back ? kRead : perChannel % kRead);
        EXPECT_EQ(Count("kav_AbfSampleCount", twin, {Num(4 - back)}), points);
        for (int channel = 0; channel < kChannels; ++channel) {
            SCOPED_TRACE("episode " + std::to_string(episode) + " channel " + std::to_string(channel));
            const std::vector<float> v = Episode(large, channel, episode, points);
            ASSERT_EQ(v, Episode(twin, channel, 4 - back, points));
            // What was written, not the hole before it (which reads as zeros).
            EXPECT_NE(*std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
        }
    }
}

// More samples than the header's 32-bit count: refused at the open with 1005, and
// the library's text says how many samples the file holds and what the limit is.
TEST_F(LargeFiles, DataOfMoreSamplesThanAHeaderCountsAreRefusedSayingSo)
{
    const int64_t perChannel = (int64_t{1} << 30) + kRead;
    const std::string path = Write(Sparse(perChannel, kRead), "uncounted.abf");
    ASSERT_FALSE(path.empty());
    for (const char* function : {"kav_AbfEpisodeCount", "kav_AbfHasData"}) {
        SCOPED_TRACE(function);
        const std::string type = function;
        const CallResult r = type == "kav_AbfHasData" ? Call(function, {Str(path)})
                                                      : Call(function, {Str(path), NumRef(-1)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.resultNumber, 0.0);
        EXPECT_EQ(LastErr(), 1005);
        const std::string text = LastErrStr();
        EXPECT_NE(text.find(std::to_string(perChannel * kChannels) + " samples"), std::string::npos) << text;
        EXPECT_NE(text.find("2147483647"), std::string::npos) << text;
        EXPECT_EQ(text.find("not a valid ABF file"), std::string::npos) << text;
    }
    // Any other file refused as invalid keeps the usual text.
    const std::string other = querytest::ScratchFile("readers_not_abf.abf");
    ASSERT_TRUE(querytest::WriteFile(other, std::string(600, 'x')));
    EXPECT_EQ(Call("kav_AbfHasData", {Str(other)}).resultNumber, 0.0);
    EXPECT_EQ(LastErr(), 1005);
    EXPECT_NE(LastErrStr().find("not a valid ABF file"), std::string::npos) << LastErrStr();
}

}  // namespace
}  // namespace readertest
