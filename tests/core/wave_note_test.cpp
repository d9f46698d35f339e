// The wave note in both forms, on made-up headers (core/wave_note.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/wave_note.h"
#include "made_header.h"

namespace {

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

}  // namespace
