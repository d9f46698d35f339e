// What the queries and readers derive from a header (core/header_values.h), on
// made-up headers, including the headers a library should never deliver (no
// channels, more than the sequence holds): the sampling sequence and its text, the
// samples per channel, the per-channel tables, the tag time scale and buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "core/header_values.h"
#include "made_header.h"

namespace {

ABFFileHeader MakeHeader(int channels, std::initializer_list<int> sequence, int32_t acqLength = 0)
{
    ABFFileHeader h;
    std::memset(&h, 0, sizeof h);
    h.nADCNumChannels = static_cast<int16_t>(channels);
    h.lActualAcqLength = acqLength;
    int i = 0;
    for (int s : sequence) h.nADCSamplingSeq[i++] = static_cast<int16_t>(s);
    return h;
}

std::string SeqText(const ABFFileHeader& h)
{
    char text[kAbfSamplingSeqTextSize + 16];
    std::memset(text, '#', sizeof text);
    const std::size_t length = AbfSamplingSeqText(h, ';', text);
    EXPECT_EQ(std::strlen(text), length);
    // Nothing written past the documented size.
    for (std::size_t i = kAbfSamplingSeqTextSize; i < sizeof text; ++i) EXPECT_EQ(text[i], '#');
    return std::string(text, length);
}

TEST(SamplingSequenceText, EntriesJoinedBySemicolons)
{
    struct Case {
        int channels;
        std::initializer_list<int> sequence;
        const char* text;
    };
    const Case cases[] = {
        {0, {}, ""},
        {1, {0}, "0"},
        {3, {0, 1, 3}, "0;1;3"},
        {2, {6, 2, 9}, "6;2"},  // entries past the count are not listed
        {2, {-1, 10}, "-1;10"},
        {16, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, "0;1;2;3;4;5;6;7;8;9;10;11;12;13;14;15"},
        // Headers beyond the sequence: at most its 16 entries, never a negative count.
        {17, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, "0;1;2;3;4;5;6;7;8;9;10;11;12;13;14;15"},
        {32767, {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}, "5;5;5;5;5;5;5;5;5;5;5;5;5;5;5;5"},
        {-3, {1, 2, 3}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.channels);
        ABFFileHeader h = MakeHeader(c.channels, c.sequence);
        EXPECT_EQ(SeqText(h), c.text);
    }
}

TEST(SamplingSequenceText, WidestEntriesFit)
{
    ABFFileHeader h = MakeHeader(16, {});
    std::string expected;
    for (int i = 0; i < 16; ++i) {
        h.nADCSamplingSeq[i] = -32768;
        expected += (i ? ";" : "") + std::string("-32768");
    }
    EXPECT_EQ(expected.size() + 1, kAbfSamplingSeqTextSize);
    EXPECT_EQ(SeqText(h), expected);
}

TEST(SamplesPerChannel, TruncatingDivisionAndNoChannels)
{
    struct Case {
        int32_t length;
        int channels;
        bool ok;
        int64_t samples;
    };
    const Case cases[] = {
        {10001, 2, true, 5000},
        {1001, 2, true, 500},
        {1000, 1, true, 1000},
        {48, 16, true, 3},
        {-2147483647 - 1, 1, true, -2147483647 - 1},
        {1000, -2, true, -500},  // a negative count divides; the channel reader refuses it itself
        {720000, 2, true, 360000},
        {206336, 16, true, 12896},
        {7, 3, true, 2},
        {-7, 2, true, -3},
        {7, -2, true, -3},
        {0, 4, true, 0},
        {2147483647, 1, true, 2147483647},
        {-2147483647 - 1, -1, true, 2147483648},  // no 32-bit quotient, no overflow
        {10001, 0, false, 0},
        {0, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " / " + std::to_string(c.channels));
        ABFFileHeader h = MakeHeader(c.channels, {}, c.length);
        int64_t samples = -15;
        EXPECT_EQ(AbfSamplesPerChannel(h, &samples), c.ok);
        EXPECT_EQ(samples, c.ok ? c.samples : -15);
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

}  // namespace
