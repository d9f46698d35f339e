// The ABF library binding: the header block handed to the open and the
// automation conversions of channel and episode numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "abfcalls/abf_library.h"
#include "abfcalls/arguments.h"
#include "platform/win32_api.h"

namespace {

float FloatAt(const unsigned char* p)
{
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

int32_t Int32At(const unsigned char* p)
{
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

TEST(AbfHeaderBlock, IsZeroFilledApartFromVersionAndSize)
{
    static AbfHeaderBlock block;
    std::memset(&block, 0xA5, sizeof block);
    AbfPrepareHeader(&block);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&block);
    ASSERT_EQ(sizeof block, 32768u);
    EXPECT_EQ(static_cast<const void*>(&block.header), static_cast<const void*>(&block));
    EXPECT_EQ(FloatAt(bytes + 0), 2.05f);      // fFileVersionNumber
    EXPECT_EQ(FloatAt(bytes + 28), 2.05f);     // fHeaderVersionNumber
    EXPECT_EQ(Int32At(bytes + 10495), 11335);  // lHeaderSize
    // Single precision 2.05 exactly as the library compares it.
    EXPECT_EQ(std::memcmp(bytes, "\x33\x33\x03\x40", 4), 0);
    std::size_t nonZero = 0;
    for (std::size_t i = 0; i < sizeof block; ++i) {
        bool field = i < 4 || (i >= 28 && i < 32) || (i >= 10495 && i < 10499);
        if (!field && bytes[i] != 0) ++nonZero;
    }
    EXPECT_EQ(nonZero, 0u);
}

TEST(AbfHeaderBlock, OpenOfAMissingFileFailsWithAnErrorNumber)
{
    static AbfHeaderBlock block;
    int32_t file = -7, error = 0;
    uint32_t maxSamples = 1, maxEpisodes = 1;
    EXPECT_FALSE(LibOpenPrepared("no-such-dir/no-such-file.abf", &file, &block, &maxSamples, &maxEpisodes, &error));
    EXPECT_NE(error, 0);
}

struct ConversionCase {
    double value;
    bool signedOk;
    int32_t signedValue;
    bool unsignedOk;
    uint32_t unsignedValue;
};

const double kInf = std::numeric_limits<double>::infinity();

const ConversionCase kConversions[] = {
    {0.0, true, 0, true, 0u},
    {2.5, true, 2, true, 2u},
    {3.5, true, 4, true, 4u},
    {2.4999, true, 2, true, 2u},
    {2.5001, true, 3, true, 3u},
    {-0.5, true, 0, true, 0u},
    {-0.6, true, -1, false, 0u},
    {-1.5, true, -2, false, 0u},
    {-2.5, true, -2, false, 0u},
    {14.5, true, 14, true, 14u},
    {15.5, true, 16, true, 16u},
    {15.0, true, 15, true, 15u},
    {2147483646.5, true, 2147483646, true, 2147483646u},
    {2147483647.4, true, 2147483647, true, 2147483647u},
    {2147483647.5, false, 0, true, 2147483648u},
    {-2147483648.0, true, -2147483647 - 1, false, 0u},
    {-2147483648.5, true, -2147483647 - 1, false, 0u},
    {-2147483648.6, false, 0, false, 0u},
    {4294967295.4, false, 0, true, 4294967295u},
    {4294967295.5, false, 0, false, 0u},
    {kInf, false, 0, false, 0u},
    {-kInf, false, 0, false, 0u},
};

TEST(AbfConversions, RoundHalfToEvenAndRefuseOutOfRange)
{
    for (const ConversionCase& c : kConversions) {
        int32_t s = 12345;
        EXPECT_EQ(RoundToInt32(c.value, &s), c.signedOk) << c.value;
        EXPECT_EQ(s, c.signedOk ? c.signedValue : 12345) << c.value;
        uint32_t u = 54321u;
        EXPECT_EQ(RoundToUInt32(c.value, &u), c.unsignedOk) << c.value;
        EXPECT_EQ(u, c.unsignedOk ? c.unsignedValue : 54321u) << c.value;
    }
}

TEST(AbfConversions, NaNIsRefused)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    int32_t s = 3;
    uint32_t u = 4;
    EXPECT_FALSE(RoundToInt32(nan, &s));
    EXPECT_FALSE(RoundToUInt32(nan, &u));
    EXPECT_EQ(s, 3);
    EXPECT_EQ(u, 4u);
}

#if !defined(_WIN32)
// The stand-ins themselves, as the system's conversions answer (NaN refused, as
// Windows does).
TEST(AbfConversions, StandInsAnswerLikeTheSystem)
{
    for (const ConversionCase& c : kConversions) {
        LONG s = 12345;
        EXPECT_EQ(VarI4FromR8(c.value, &s), c.signedOk ? S_OK : DISP_E_OVERFLOW) << c.value;
        EXPECT_EQ(s, c.signedOk ? c.signedValue : 12345) << c.value;
        ULONG u = 54321u;
        EXPECT_EQ(VarUI4FromR8(c.value, &u), c.unsignedOk ? S_OK : DISP_E_OVERFLOW) << c.value;
        EXPECT_EQ(u, c.unsignedOk ? c.unsignedValue : 54321u) << c.value;
    }
    LONG s = 1;
    ULONG u = 1;
    EXPECT_EQ(VarI4FromR8(std::nan(""), &s), DISP_E_OVERFLOW);
    EXPECT_EQ(VarUI4FromR8(std::nan(""), &u), DISP_E_OVERFLOW);
    EXPECT_EQ(s, 1);
    EXPECT_EQ(u, 1u);
}
#endif

}  // namespace
