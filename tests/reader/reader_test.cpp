// The reader's own rules, on files abfgen's writer makes: a range of a gap-free
// channel is the same samples as the library's reads laid end to end, and costs
// only the file reads of the library's reads that hold it; ranges it cannot give,
// a closed recording and a failing read are refused with the reader's or the
// library's error; tags read in pieces are the tags read at once.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "abffio/writer/abf_writer.h"
#include "core/header_values.h"
#include "interface/abffio.h"
#include "reader/recording.h"

namespace fs = std::filesystem;

namespace {

std::string Preset(const std::string& name, void (*change)(abfw::RecordingSpec*) = nullptr)
{
    const fs::path dir = fs::current_path() / "reader-test-files";
    fs::create_directories(dir);
    const std::string path = (dir / (name + ".abf")).string();
    abfw::RecordingSpec rec;
    std::string error;
    EXPECT_TRUE(abfw::MakePreset(name, &rec, &error)) << error;
    if (change) change(&rec);
    EXPECT_TRUE(abfw::WriteAbf(rec, path, &error)) << error;
    return path;
}

// A two-channel gap-free recording of 200 000 samples a channel: 12 reads of
// 16384 and a last one of 3392.
std::string GapFree()
{
    static const std::string path = Preset("default", [](abfw::RecordingSpec* r) { r->samplesPerChannel = 200000; });
    return path;
}

int32_t FileReads() { return ABFTest_InjectReadFault(kAbfReadFaultNone, 0, 0); }

TEST(ReaderRanges, AreTheLibrarysReadsEndToEndAndReadOnlyThose)
{
    reader::Recording rec;
    ASSERT_TRUE(rec.Open(GapFree())) << rec.Error();
    ASSERT_EQ(rec.SampleLimit(), 16384u);
    int64_t points = 0;
    ASSERT_TRUE(rec.ChannelPoints(&points));
    ASSERT_EQ(points, 200000);
    std::vector<float> whole;
    std::vector<float> buffer(rec.SampleLimit());
    for (uint32_t e = 1; e <= rec.Episodes(); ++e) {
        uint32_t n = 0;
        ASSERT_TRUE(rec.Read(1, e, buffer.data(), &n));
        whole.insert(whole.end(), buffer.begin(), buffer.begin() + n);
    }
    ASSERT_EQ(whole.size(), 200000u);

    const int64_t k = 16384;
    struct Case {
        int64_t start, count;
        int fileReads;  // the library's file reads the range takes, at most
    } cases[] = {
        {5 * k + 10, 100, 1},          // inside one read
        {3 * k - 1, 2, 2},             // across two reads
        {7 * k, k, 1},                 // exactly one read
        {0, 200000, 13},               // all of them
        {12 * k, 200000 - 12 * k, 1},  // the last, shorter read
        {199999, 1, 1},
        {1000, 0, 0},  // nothing
    };
    for (const Case& c : cases) {
        std::vector<float> got(static_cast<std::size_t>(c.count) + 1, -1.0f);
        std::vector<double> wide(static_cast<std::size_t>(c.count));
        const int32_t before = FileReads();
        ASSERT_TRUE(rec.ReadRange(1, c.start, c.count, got.data())) << rec.Error();
        EXPECT_LE(FileReads() - before, c.fileReads) << c.start << "+" << c.count;
        EXPECT_EQ(got.back(), -1.0f) << "written past the range";
        got.pop_back();
        const auto from = whole.begin() + static_cast<std::ptrdiff_t>(c.start);
        EXPECT_EQ(got, std::vector<float>(from, from + static_cast<std::ptrdiff_t>(c.count))) << c.start;
        ASSERT_TRUE(rec.ReadRange(1, c.start, c.count, wide.data()));
        EXPECT_EQ(wide, std::vector<double>(got.begin(), got.end()));
    }
}

TEST(ReaderRanges, Refusals)
{
    reader::Recording rec;
    ASSERT_TRUE(rec.Open(GapFree()));
    float out[4];
    const struct {
        int64_t start, count;
    } outside[] = {{-1, 2}, {199999, 2}, {200001, 0}, {0, -1}};
    for (const auto& c : outside) {
        EXPECT_FALSE(rec.ReadRange(0, c.start, c.count, out)) << c.start << "+" << c.count;
        EXPECT_EQ(rec.ErrorNumber(), 0);
        EXPECT_NE(rec.Error().find("not within the channel's 200000"), std::string::npos) << rec.Error();
    }
    // A read that fails midway gives the library's error.
    std::vector<float> all(200000);
    ABFTest_InjectFault(210, ABF_EREADDATA, 2);
    EXPECT_FALSE(rec.ReadRange(0, 0, 200000, all.data()));
    ABFTest_InjectFault(0, 0, 0);
    EXPECT_EQ(rec.ErrorNumber(), ABF_EREADDATA);
    EXPECT_NE(rec.Error().find(GapFree()), std::string::npos) << rec.Error();

    ASSERT_TRUE(rec.Close());
    EXPECT_FALSE(rec.ReadRange(0, 0, 1, out));
    EXPECT_EQ(rec.Error(), GapFree() + ": the recording is closed");
    uint32_t n = 0;
    EXPECT_FALSE(rec.Read(0, 1, out, &n));
    EXPECT_EQ(rec.Channels().size(), 2u) << "the header stays";

    reader::Recording episodic;
    ASSERT_TRUE(episodic.Open(Preset("step-protocol")));
    EXPECT_FALSE(episodic.ReadRange(0, 0, 1, out));
    EXPECT_EQ(episodic.ErrorNumber(), 0);
    EXPECT_FALSE(episodic.Open(GapFree())) << "one file per recording";
}

TEST(ReaderTags, InPiecesAreTheTagsReadAtOnce)
{
    const std::string path = Preset("many-tags");
    reader::Recording rec;
    ASSERT_TRUE(rec.Open(path));
    std::vector<reader::Tag> tags;
    ASSERT_TRUE(rec.Tags(&tags)) << rec.Error();
    ASSERT_EQ(tags.size(), 5000u);

    std::vector<uint8_t> block(32768);
    auto* h = reinterpret_cast<ABFFileHeader*>(block.data());
    h->fFileVersionNumber = h->fHeaderVersionNumber = 2.05f;
    h->lHeaderSize = 11335;
    int32_t file = -1, error = 0;
    uint32_t samples = kAbfSampleLimit, episodes = 0;
    ASSERT_TRUE(ABF_ReadOpen(path.c_str(), &file, 0, h, &samples, &episodes, &error));
    std::vector<ABFTag> all(5000);
    ASSERT_TRUE(ABF_ReadTags(file, h, 0, all.data(), 5000, &error));
    ABF_Close(file, &error);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(tags[i].type, all[i].nTagType) << i;
        EXPECT_EQ(tags[i].comment, std::string(all[i].sComment, 56).substr(0, tags[i].comment.size())) << i;
        EXPECT_EQ(tags[i].seconds, all[i].lTagTime * AbfTagTimeScale(*h)) << i;
    }
}

}  // namespace
