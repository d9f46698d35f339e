// The header-derived answers on made-up headers, including the headers a
// library should never deliver (no channels, more than the sequence holds).
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "core/header_values.h"

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

}  // namespace
