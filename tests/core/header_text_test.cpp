// The two renderings of the header catalogue on records made here (no file access, no
// host); the real files are rendered through the host (tests/metadata).
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/header_text.h"
#include "core/text.h"
#include "tests/support/header_check.h"

namespace {

using metatest::Piece;

// Keys shown: 127 in the 18 blocks and one for each of the 72 other items.
constexpr std::size_t kKeysShown = 199;

std::vector<std::string> messages;
void Capture(void*, const char* text) { messages.emplace_back(text); }

std::vector<std::string> Listing(const ABFFileHeader& h)
{
    messages.clear();
    PrintHeaderListing(Capture, nullptr, &h);
    return messages;
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string all;
    for (const std::string& p : parts) all += p;
    return all;
}

std::string HeaderString(const ABFFileHeader& h)
{
    std::vector<char> buf(kHeaderStringBufferSize, 'x');
    const std::size_t n = BuildHeaderString(buf.data(), buf.size(), &h);
    EXPECT_LT(n, buf.size());
    EXPECT_EQ(std::strlen(buf.data()), n) << "the length counts every character written";
    return std::string(buf.data(), n);
}

ABFFileHeader ZeroHeader()
{
    ABFFileHeader h;
    std::memset(&h, 0, sizeof h);
    return h;
}

unsigned char* FieldBytes(ABFFileHeader& h, const char* name, int element = 0)
{
    const AbfFieldInfo* f = metatest::FieldByName(name);
    EXPECT_NE(f, nullptr) << name;
    return reinterpret_cast<unsigned char*>(&h) + f->offset + element * f->width;
}

template <typename T>
void SetField(ABFFileHeader& h, const char* name, T value, int element = 0)
{
    std::memcpy(FieldBytes(h, name, element), &value, sizeof value);
}

void SetText(ABFFileHeader& h, const char* name, const std::string& bytes, int element = 0)
{
    const AbfFieldInfo* f = metatest::FieldByName(name);
    ASSERT_NE(f, nullptr);
    ASSERT_LE(bytes.size(), f->width);
    unsigned char* p = FieldBytes(h, name, element);
    std::memset(p, 0, f->width);
    std::memcpy(p, bytes.data(), bytes.size());
}

const Piece* FindPiece(const std::vector<Piece>& pieces, const std::string& key)
{
    for (const Piece& p : pieces)
        if (p.key == key) return &p;
    return nullptr;
}

// The listing and the string show the same items in the same order with the same values.
void ExpectListingMatchesString(const std::vector<std::string>& listing, const std::string& text)
{
    std::vector<Piece> listed = metatest::SplitListing(Joined(listing));
    std::vector<Piece> pieces = metatest::SplitHeaderString(text);
    ASSERT_EQ(listed.size(), pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(listed[i].key, pieces[i].key) << "item " << i;
        EXPECT_EQ(metatest::ListingValueAsString(listed[i]), pieces[i].value) << pieces[i].key;
    }
}

TEST(HeaderString, ZeroRecord)
{
    const ABFFileHeader h = ZeroHeader();
    const std::string text = HeaderString(h);
    EXPECT_EQ(text.size(), 7818u);
    EXPECT_EQ(text.rfind("fFileVersionNumber=0.000000;", 0), 0u);
    const std::string tail = ";lLegacyNumSamplesPerEpisode=0;";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

    std::vector<Piece> pieces = metatest::SplitHeaderString(text);
    EXPECT_EQ(pieces.size(), kKeysShown);
    std::map<std::string, int> seen;
    for (const Piece& p : pieces) ++seen[p.key];
    for (const auto& [key, n] : seen) EXPECT_EQ(n, 1) << key;
    EXPECT_EQ(metatest::CompareWithRecord(pieces, h), "");
}

TEST(HeaderListing, ZeroRecordMessagesAndLines)
{
    const ABFFileHeader h = ZeroHeader();
    const std::vector<std::string> listing = Listing(h);
    ASSERT_EQ(listing.size(), 146u);
    EXPECT_EQ(listing.front().rfind("fFileVersionNumber = 0.000000\rnOperationMode = 0\r", 0), 0u);
    EXPECT_EQ(listing.back(),
              "fLegacyADCSequenceInterval = 0.000000\rfLegacyADCSecondSequenceInterval = 0.000000\r"
              "lLegacyClockChange = 0\rlLegacyNumSamplesPerEpisode = 0\r");
    // Only these items end a history line.
    for (const std::string& m : listing) EXPECT_EQ(m.find('\n'), std::string::npos);

    // Items 12 to 20 share one line: eight lists joined by their ";" endings, then
    // the block of nSignalType.
    const std::vector<std::string> lines = metatest::Split(Joined(listing), '\r');
    const std::string* telegraph = nullptr;
    for (const std::string& l : lines)
        if (l.rfind("nTelegraphEnable = ", 0) == 0) telegraph = &l;
    ASSERT_NE(telegraph, nullptr);
    const char* order[] = {"nTelegraphEnable = ",    "nTelegraphInstrument = ",
                           "fTelegraphAdditGain=",   "fTelegraphFilter=",
                           "fTelegraphMembraneCap=", "fTelegraphAccessResistance=",
                           "nTelegraphMode = ",      "nTelegraphDACScaleFactorEnable = ",
                           "nSignalType = 0"};
    std::size_t at = 0;
    for (const char* key : order) {
        const std::size_t found = telegraph->find(key, at);
        ASSERT_NE(found, std::string::npos) << key;
        EXPECT_TRUE(found == 0 || (*telegraph)[found - 1] == ';') << key;
        at = found + 1;
    }
    const std::string end = ";nSignalType = 0";
    ASSERT_GT(telegraph->size(), end.size());
    EXPECT_EQ(telegraph->substr(telegraph->size() - end.size()), end);

    ExpectListingMatchesString(listing, HeaderString(h));
}

struct TrimCase {
    const char* name;
    std::string field;    // bytes of sCreatorInfo (16 characters, NUL-filled beyond)
    std::string listing;  // trailing blanks and NULs gone
    std::string string;   // both ends trimmed
};

TEST(HeaderText, TextFieldTrimming)
{
    const std::vector<TrimCase> cases = {
        {"empty", "", "", ""},
        {"blanks only", std::string(16, ' '), "", ""},
        {"leading blank kept in the listing", " abc" + std::string(12, ' '), " abc", "abc"},
        {"full width without NUL", "abcdefghijklmnop", "abcdefghijklmnop", "abcdefghijklmnop"},
        {"ends at the first NUL", std::string("ab\0cd  ", 7), "ab", "ab"},
        {"blanks before a NUL in the middle stay", std::string("ab  \0cd", 7), "ab  ", "ab  "},
        {"tabs are not blanks", "a\tb\t   ", "a\tb\t", "a\tb\t"},
        {"separators copied unchanged", "k=v;w,x", "k=v;w,x", "k=v;w,x"},
    };
    for (const TrimCase& c : cases) {
        ABFFileHeader h = ZeroHeader();
        SetText(h, "sCreatorInfo", c.field);
        const std::vector<std::string> listing = Listing(h);
        const std::string expectedMessage = "sCreatorInfo = " + c.listing + "\r";
        int found = 0;
        for (const std::string& m : listing) found += m == expectedMessage;
        EXPECT_EQ(found, 1) << c.name;
        const std::string text = HeaderString(h);
        EXPECT_NE(text.find(";sCreatorInfo=" + c.string + ";sModifierInfo="), std::string::npos) << c.name;
    }
}

TEST(HeaderText, TextListElements)
{
    ABFFileHeader h = ZeroHeader();
    SetText(h, "sADCUnits", "mV", 0);
    SetText(h, "sADCUnits", "pA      ", 1);
    SetText(h, "sADCUnits", " nA", 2);
    const std::vector<std::string> listing = Listing(h);
    std::size_t at = 0;
    while (at < listing.size() && listing[at] != "sADCUnits = ") ++at;
    ASSERT_LT(at + 16, listing.size());
    EXPECT_EQ(listing[at + 1], "mV;");
    EXPECT_EQ(listing[at + 2], "pA      ;");
    EXPECT_EQ(listing[at + 3], " nA;");
    for (int k = 4; k < 16; ++k) EXPECT_EQ(listing[at + k], ";") << k;
    EXPECT_EQ(listing[at + 16], "\r");

    const std::string text = HeaderString(h);
    EXPECT_NE(text.find(";sADCUnits=mV,pA,nA" + std::string(13, ',') + ";fDACScaleFactor="), std::string::npos);
}

struct ConversionCase {
    const char* key;
    int element;
    std::vector<unsigned char> bytes;  // little-endian value
    std::string shown;
};

TEST(HeaderText, ValueConversions)
{
    auto f32 = [](float v) {
        std::vector<unsigned char> b(4);
        std::memcpy(b.data(), &v, 4);
        return b;
    };
    const std::vector<ConversionCase> cases = {
        {"nStatsActiveChannels", 0, {0xFF, 0xFF}, "65535"},
        {"nStatsSearchRegionFlags", 0, {0x00, 0x80}, "32768"},
        {"bEnableFileCompression", 0, {0xFF}, "255"},
        {"uFileStartDate", 0, {0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
        {"uFileStartTimeMS", 0, {0x00, 0x00, 0x00, 0x80}, "-2147483648"},
        {"uFileCompressionRatio", 0, {0x02, 0x00, 0x00, 0x00}, "2"},
        {"nOperationMode", 0, {0xFF, 0xFF}, "-1"},
        {"lActualAcqLength", 0, {0xFF, 0xFF, 0xFF, 0x7F}, "2147483647"},
        {"fADCRange", 0, f32(1.5f), "1.500000"},
        {"fCellID1", 0, f32(-4e-7f), "-0.000000"},
        {"fCellID2", 0, f32(123456.789f), "123456.789062"},
        {"nLowpassFilterType", 0, {0x80}, "-128"},
        {"nPostProcessLowpassFilterType", 15, {0x7F}, "127"},
        {"nTelegraphEnable", 15, {0x00, 0x80}, "-32768"},
        {"lStatsStart", 7, {0x00, 0x00, 0x00, 0x80}, "-2147483648"},
        {"fPostProcessLowpassFilter", 3, f32(-2.25f), "-2.250000"},
        {"nAlternateDigitalTrainValue", 9, {0x39, 0x30}, "12345"},
    };
    for (const ConversionCase& c : cases) {
        ABFFileHeader h = ZeroHeader();
        std::memcpy(FieldBytes(h, c.key, c.element), c.bytes.data(), c.bytes.size());
        const std::vector<Piece> pieces = metatest::SplitHeaderString(HeaderString(h));
        const Piece* p = FindPiece(pieces, c.key);
        ASSERT_NE(p, nullptr) << c.key;
        const std::vector<std::string> values = metatest::Split(p->value, ',');
        ASSERT_LT(static_cast<std::size_t>(c.element), values.size()) << c.key;
        EXPECT_EQ(values[c.element], c.shown) << c.key;
        EXPECT_EQ(metatest::CompareWithRecord(pieces, h), "") << c.key;

        const std::vector<Piece> listed = metatest::SplitListing(Joined(Listing(h)));
        const Piece* l = FindPiece(listed, c.key);
        ASSERT_NE(l, nullptr) << c.key;
        EXPECT_EQ(metatest::ListingValueAsString(*l), p->value) << c.key;
    }
}

// Every number of the record at its longest: single-precision extremes, the most
// negative (or largest unsigned) integers, every text full width without a NUL.
ABFFileHeader ExtremeHeader(bool negative)
{
    ABFFileHeader h = ZeroHeader();
    unsigned char* base = reinterpret_cast<unsigned char*>(&h);
    for (const AbfFieldInfo& f : kAbfRecordFields) {
        for (int i = 0; i < f.rows * f.cols; ++i) {
            unsigned char* p = base + f.offset + i * f.width;
            switch (f.kind) {
            case AbfFieldKind::kF32: {
                const float v = negative ? -FLT_MAX : FLT_MAX;
                std::memcpy(p, &v, 4);
                break;
            }
            case AbfFieldKind::kChar: std::memset(p, negative ? 'W' : '~', f.width); break;
            case AbfFieldKind::kI8: *p = negative ? 0x80 : 0x7F; break;
            case AbfFieldKind::kU8: *p = 0xFF; break;
            case AbfFieldKind::kI16: {
                const int16_t v = negative ? INT16_MIN : INT16_MAX;
                std::memcpy(p, &v, 2);
                break;
            }
            case AbfFieldKind::kU16: std::memset(p, 0xFF, 2); break;
            default: {
                const int32_t v = negative ? INT32_MIN : INT32_MAX;
                std::memcpy(p, &v, 4);
                break;
            }
            }
        }
    }
    return h;
}

TEST(HeaderText, ExtremeValuesNeitherOverflowNorCut)
{
    for (bool negative : {true, false}) {
        SCOPED_TRACE(negative ? "lowest values" : "highest values");
        const ABFFileHeader h = ExtremeHeader(negative);
        const std::string text = HeaderString(h);
        EXPECT_GT(text.size(), 20480u) << "this header does not fit the customary 20480 characters";
        EXPECT_LT(text.size(), kHeaderStringBufferSize);
        const std::vector<Piece> pieces = metatest::SplitHeaderString(text);
        EXPECT_EQ(pieces.size(), kKeysShown);
        EXPECT_EQ(metatest::CompareWithRecord(pieces, h), "");
        ASSERT_FALSE(pieces.empty());
        EXPECT_EQ(pieces.back().key, "lLegacyNumSamplesPerEpisode");

        const std::vector<std::string> listing = Listing(h);
        ASSERT_EQ(listing.size(), 146u);
        const Piece* gain = nullptr;
        const std::vector<Piece> listed = metatest::SplitListing(Joined(listing));
        for (const Piece& p : listed)
            if (p.key == "fTelegraphAdditGain") gain = &p;
        ASSERT_NE(gain, nullptr);
        const std::vector<std::string> values = metatest::Split(gain->value, ',');
        ASSERT_EQ(values.size(), 16u);
        for (const std::string& v : values)
            EXPECT_EQ(std::strtod(v.c_str(), nullptr), negative ? -double{FLT_MAX} : double{FLT_MAX}) << v;
        std::size_t longest = 0;
        for (const std::string& m : listing) longest = std::max(longest, m.size());
        EXPECT_GT(longest, 512u);
        EXPECT_LT(longest, kListingBufferSize);
        ExpectListingMatchesString(listing, text);
    }
}

// The number formatting of the renderings, on its own: printf's "%f" and "%d" as glibc
// writes them, in every build (the texts are literal: the Windows C libraries write
// some of these differently, and the renderings must not).
TEST(NumberText, FixedAndIntegerAsPrintf)
{
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        const char* text;
    } fixed[] = {
        {0.0, "0.000000"},
        {-0.0, "-0.000000"},
        {1.5, "1.500000"},
        {1e-5, "0.000010"},
        {0.0001, "0.000100"},
        {0.0000005, "0.000000"},
        {1.5e-6, "0.000002"},
        {123456.5, "123456.500000"},
        {123456.789f, "123456.789062"},
        // Ties of the sixth decimal (x * 10^6 ends in .5 exactly): to the even digit.
        {0.0078125, "0.007812"},
        {0.0234375, "0.023438"},
        {-0.0078125, "-0.007812"},
        {0.9999995f, "1.000000"},
        {9.9999994e-7f, "0.000001"},
        {std::numeric_limits<float>::denorm_min(), "0.000000"},
        {-std::numeric_limits<float>::denorm_min(), "-0.000000"},
        {std::numeric_limits<float>::min(), "0.000000"},
        {16777217.0, "16777217.000000"},
        {8388607.5f, "8388607.500000"},
        {2147483520.0f, "2147483520.000000"},
        {2147483648.0f, "2147483648.000000"},
        {4294967296.0f, "4294967296.000000"},
        {999999995904.0f, "999999995904.000000"},
        {1e12, "1000000000000.000000"},
        {1e16, "10000000000000000.000000"},
        {0.1f, "0.100000"},
        {2.675f, "2.675000"},
        {1.0 / 3.0, "0.333333"},
        {std::numeric_limits<double>::denorm_min(), "0.000000"},
        {-double{FLT_MAX}, "-340282346638528859811704183484516925440.000000"},
        {inf, "inf"},
        {-inf, "-inf"},
        {std::nan(""), "nan"},
        {-std::nan(""), "-nan"},
    };
    for (const auto& c : fixed) {
        char text[kFixedTextMax];
        EXPECT_EQ(std::string(text, FormatFixed(c.value, text)), c.text) << c.text;
    }
    char big[kFixedTextMax];
    const std::string max(big, FormatFixed(DBL_MAX, big));
    EXPECT_EQ(max.size(), 316u);
    EXPECT_EQ(max.substr(0, 20) + max.substr(max.size() - 10), "17976931348623157081" + std::string("368.000000"));

    const struct {
        int32_t value;
        const char* text;
    } integers[] = {{0, "0"},
                    {7, "7"},
                    {-1, "-1"},
                    {10, "10"},
                    {-32768, "-32768"},
                    {65535, "65535"},
                    {INT32_MAX, "2147483647"},
                    {INT32_MIN, "-2147483648"}};
    for (const auto& c : integers) {
        char text[kIntTextMax];
        EXPECT_EQ(std::string(text, FormatInt(c.value, text)), c.text);
    }

#if defined(__GLIBC__)
    // And against glibc itself over many floats of every magnitude, and doubles.
    std::mt19937 random(2811);
    for (int i = 0; i < 200000; ++i) {
        const uint32_t bits = static_cast<uint32_t>(random());
        float f;
        std::memcpy(&f, &bits, 4);
        const double d = i % 4 == 0 ? std::ldexp(static_cast<double>(random()) / 4294967296.0, i % 64 - 20) : f;
        char mine[kFixedTextMax], theirs[kFixedTextMax + 8];
        const std::string m(mine, FormatFixed(d, mine));
        std::snprintf(theirs, sizeof theirs, "%f", d);
        ASSERT_EQ(m, theirs) << "bits " << bits;
        char n[kIntTextMax];
        std::snprintf(theirs, sizeof theirs, "%d", static_cast<int32_t>(bits));
        ASSERT_EQ(std::string(n, FormatInt(static_cast<int32_t>(bits), n)), theirs);
    }
#endif
}

// The appends cut and count as snprintf does.
TEST(NumberText, AppendsCutAndCountAsSnprintf)
{
    for (std::size_t capacity : {0, 1, 2, 5, 9, 10, 11, 30}) {
        std::vector<char> mine(capacity + 1, 'x'), theirs(capacity + 1, 'x');
        TextBuffer out;
        TextBufferInit(&out, mine.data(), capacity);
        TextAppendText(&out, "key");
        TextAppendChar(&out, '=');
        TextAppendFixed(&out, -2.5);
        TextAppendInt(&out, -12);
        TextAppendChars(&out, ";", 1);
        const int n = std::snprintf(capacity ? theirs.data() : nullptr, capacity, "%s%c%f%d;", "key", '=', -2.5, -12);
        EXPECT_EQ(out.length, static_cast<std::size_t>(n)) << capacity;
        EXPECT_EQ(mine, theirs) << capacity;
    }
}

}  // namespace
