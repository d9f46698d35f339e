// Header-derived parts of the readers on made-up headers: text trimming, the
// per-channel tables, the wave note in both forms, the tag time scale, the tag
// buffer size and the storing of samples into double-precision waves.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/header_values.h"
#include "core/samples.h"
#include "core/text.h"
#include "core/wave_note.h"

namespace {

ABFFileHeader BlankHeader()
{
    ABFFileHeader h;
    std::memset(&h, 0, sizeof h);
    return h;
}

void PutText(char* field, std::size_t width, const char* text)
{
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::strlen(text));
}

TEST(TrimHeaderText, Table)
{
    struct Case {
        const char* field;  // exactly `width` bytes, may hold NULs
        std::size_t width;
        const char* want;
    };
    const Case cases[] = {
        {"mV      ", 8, "mV"},       {"        ", 8, ""},         {"  pA    ", 8, "  pA"},  // leading blanks stay
        {"m V\0\0\0\0\0", 8, "m V"},                                                        // NULs are passed over
        {"pA \0 \0  ", 8, "pA"},                                   // blanks and NULs mixed at the end
        {"\0\0\0\0\0\0\0\0", 8, ""}, {"abcdefgh", 8, "abcdefgh"},  // full width, no terminator in the field
        {"IN 0      ", 10, "IN 0"},  {"a\0b       ", 10, "a"},     // text after a NUL is not part of the result
    };
    for (const Case& c : cases) {
        char out[300];
        std::memset(out, 'x', sizeof out);
        AbfTrimHeaderText(c.field, c.width, out);
        EXPECT_STREQ(out, c.want) << "field width " << c.width << " want '" << c.want << "'";
        EXPECT_EQ(out[c.width], '\0');
    }
}

TEST(ChannelTables, EntriesOutsideTheTablesAreEmpty)
{
    ABFFileHeader h = BlankHeader();
    for (int i = 0; i < 16; ++i) {
        PutText(h.sADCUnits[i], 8, ("a" + std::to_string(i)).c_str());
        PutText(h.sADCChannelName[i], 10, ("ch" + std::to_string(i)).c_str());
        h.fTelegraphFilter[i] = static_cast<float>(1000 + i);
        h.fTelegraphMembraneCap[i] = static_cast<float>(i) + 0.5f;
    }
    for (int i = 0; i < 8; ++i) PutText(h.sDACChannelUnits[i], 8, ("d" + std::to_string(i)).c_str());

    char units[9], name[11];
    for (int physical : {-1, 0, 7, 8, 15, 16, 32767, -32768}) {
        const bool adc = physical >= 0 && physical < 16;
        const bool dac = physical >= 0 && physical < 8;
        AbfAdcUnits(h, physical, units);
        EXPECT_EQ(std::string(units), adc ? "a" + std::to_string(physical) : "") << physical;
        AbfAdcChannelName(h, physical, name);
        EXPECT_EQ(std::string(name), adc ? "ch" + std::to_string(physical) : "") << physical;
        AbfDacUnits(h, physical, units);
        EXPECT_EQ(std::string(units), dac ? "d" + std::to_string(physical) : "") << physical;
        EXPECT_EQ(AbfTelegraphFilter(h, physical), adc ? 1000.0 + physical : 0.0) << physical;
        EXPECT_EQ(AbfTelegraphMembraneCap(h, physical), adc ? physical + 0.5 : 0.0) << physical;
    }
}

// A header with every field the note shows.
ABFFileHeader NoteHeader()
{
    ABFFileHeader h = BlankHeader();
    h.fFileVersionNumber = 1.83f;
    h.nOperationMode = 3;
    h.lActualAcqLength = 1001;
    h.lActualEpisodes = 2;
    h.uFileStartDate = 20061231;
    h.uFileStartTimeMS = 50405123;
    PutText(h.sProtocolPath, 256, "C:\\proto\\gap.pro");
    PutText(h.sCreatorInfo, 16, "Clampex");
    h.nExperimentType = 1;
    h.nADCNumChannels = 3;
    h.nADCSamplingSeq[0] = 0;
    h.nADCSamplingSeq[1] = 2;
    h.nADCSamplingSeq[2] = 5;
    h.nADCSamplingSeq[3] = 9;  // beyond the channel count: not listed
    h.fADCSequenceInterval = 50.0f;
    h.fTelegraphFilter[2] = 2000.0f;
    h.fTelegraphMembraneCap[2] = 12.5f;
    PutText(h.sADCChannelName[2], 10, "Vm");
    return h;
}

TEST(WaveNote, ContinuousForm)
{
    const ABFFileHeader h = NoteHeader();
    const AbfNoteInput in = {"C:\\data\\a.abf", &h, 1, 2, false, 0.0};
    char out[4096];
    const std::size_t n = AbfFormatWaveNote(in, out, sizeof out);
    const std::string want =
        "sFileName=C:\\data\\a.abf;fFileVersionNumber=1.8;nOperationMode=3;lActualAcqLength=1001;"
        "lActualEpisodes=2;sFileStartDate=2006-12-31;sFileStartTime=14:00 05;uFileStartDate=20061231;"
        "uFileStartTimeMS=50405123;sProtocolPath=C:\\proto\\gap.pro;sCreatorInfo=Clampex;nExperimentType=1;"
        "fTelegraphFilter=2000;fTelegraphMembraneCap=12.500000;nADCNumChannels=3;nADCSamplingSeq=0,2,5;"
        "fADCSequenceInterval=0.000050;iPhysicalChannel=2;iLogicalChannel=1;sADCChannelName=Vm;";
    EXPECT_EQ(std::string(out), want);
    EXPECT_EQ(n, want.size());
}

TEST(WaveNote, EpisodeFormCarriesTheStartTime)
{
    const ABFFileHeader h = NoteHeader();
    const AbfNoteInput in = {"f.abf", &h, 1, 2, true, 1234.5678};
    char out[4096];
    AbfFormatWaveNote(in, out, sizeof out);
    const std::string s(out);
    EXPECT_NE(s.find("fTelegraphMembraneCap=12.500000;dStartTime=1234.57;nADCNumChannels=3;"), std::string::npos) << s;
}

TEST(WaveNote, ChannelsOutsideTheTablesAndLongSequences)
{
    ABFFileHeader h = NoteHeader();
    h.nADCNumChannels = 40;  // more than the sequence holds: 16 entries listed
    for (int i = 0; i < 16; ++i) h.nADCSamplingSeq[i] = static_cast<int16_t>(15 - i);
    h.nADCSamplingSeq[15] = -32768;
    const AbfNoteInput in = {"f.abf", &h, 15, -32768, false, 0.0};
    char out[4096];
    AbfFormatWaveNote(in, out, sizeof out);
    const std::string s(out);
    EXPECT_NE(s.find(";nADCNumChannels=40;nADCSamplingSeq=15,14,13,12,11,10,9,8,7,6,5,4,3,2,1,-32768;"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("fTelegraphFilter=0;fTelegraphMembraneCap=0.000000;"), std::string::npos) << s;
    EXPECT_NE(s.find(";iPhysicalChannel=-32768;iLogicalChannel=15;sADCChannelName=;"), std::string::npos) << s;

    h.nADCNumChannels = 0;
    AbfFormatWaveNote(in, out, sizeof out);
    EXPECT_NE(std::string(out).find(";nADCSamplingSeq=;"), std::string::npos) << out;
}

TEST(WaveNote, LongNamesAreCountedInFullAndCutSafely)
{
    const ABFFileHeader h = NoteHeader();
    const std::string longName(5000, 'n');
    const AbfNoteInput in = {longName.c_str(), &h, 1, 2, true, 0.0};
    const std::size_t full = AbfFormatWaveNote(in, nullptr, 0);
    EXPECT_GT(full, 5000u);

    std::vector<char> small(100, 'x');
    small.push_back('!');  // guard byte just past the size given
    EXPECT_EQ(AbfFormatWaveNote(in, small.data(), 100), full);
    EXPECT_EQ(small[99], '\0');
    EXPECT_EQ(small[100], '!');

    std::vector<char> big(full + 1);
    EXPECT_EQ(AbfFormatWaveNote(in, big.data(), big.size()), full);
    const std::string s(big.data());
    EXPECT_EQ(s.size(), full);
    EXPECT_EQ(s.substr(0, 10), "sFileName=");
    EXPECT_EQ(s.substr(s.size() - 19), "sADCChannelName=Vm;");
}

TEST(TagTimeScale, SynchUnitCountsWhateverTheChannels)
{
    struct Case {
        float synchUnit;
        float interval;
        int16_t channels;
        int32_t tagTime;
        double seconds;
    };
    const Case cases[] = {
        {0.0f, 50.0f, 2, 100, 0.0025},  // multiplexed samples: interval shared by 2 channels
        {0.0f, 50.0f, 2, 250, 0.00625},  {10.0f, 50.0f, 1, 3, 0.00003},
        {12.5f, 80.0f, 2, 1000, 0.0125},  // the unit is not divided among the channels
        {12.5f, 80.0f, 4, 1000, 0.0125}, {0.0f, 100.0f, 1, 1000, 0.1},
        {0.0f, 100.0f, 0, 1000, 0.1},                                      // no channels: nothing to divide by
        {0.0f, 100.0f, -3, 1000, 0.1},   {-5.0f, 100.0f, 4, 1000, 0.025},  // a negative unit falls back
        {0.0f, 100.0f, 4, -400, -0.01},
    };
    for (const Case& c : cases) {
        ABFFileHeader h = BlankHeader();
        h.fSynchTimeUnit = c.synchUnit;
        h.fADCSequenceInterval = c.interval;
        h.nADCNumChannels = c.channels;
        EXPECT_DOUBLE_EQ(c.tagTime * AbfTagTimeScale(h), c.seconds)
            << "unit " << c.synchUnit << " interval " << c.interval << " channels " << c.channels;
    }
}

TEST(TagBuffer, SizeMustFitA32BitProcess)
{
    struct Case {
        int32_t count;
        bool ok;
        std::size_t bytes;
    };
    const Case cases[] = {
        {1, true, 64}, {1000, true, 64000}, {33554431, true, 2147483584u}, {33554432, false, 0}, {INT32_MAX, false, 0},
        {0, false, 0}, {-1, false, 0},      {INT32_MIN, false, 0},
    };
    for (const Case& c : cases) {
        std::size_t bytes = 7;
        EXPECT_EQ(AbfTagBufferBytes(c.count, &bytes), c.ok) << c.count;
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes) << c.count;
        }
    }
}

// The stores past the caches (only waves of many megabytes take them) give the
// same points as the plain widening, whatever the alignment and the tail.
TEST(StoreSamples, StreamedDoublesEqualPlainOnes)
{
    std::vector<float> samples(70);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = 0.1f * static_cast<float>(i) - 3.3f;
    const struct {
        uint32_t at, count;
    } cases[] = {{0, 70}, {1, 69}, {3, 64}, {2, 5}, {0, 3}, {5, 1}, {4, 0}};
    for (const auto& c : cases) {
        std::vector<double> plain(80, -1.0), streamed(80, -1.0);
        StoreSamples(plain.data(), kWaveFloat64, c.at, samples.data(), c.count, false);
        StoreSamples(streamed.data(), kWaveFloat64, c.at, samples.data(), c.count, true);
        EXPECT_EQ(streamed, plain) << "at " << c.at << ", count " << c.count;
        EXPECT_EQ(plain[c.at], c.count ? static_cast<double>(samples[0]) : -1.0) << "at " << c.at;
    }
}

}  // namespace
