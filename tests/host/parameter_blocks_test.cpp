// Parameter blocks built from the function table, and the table and error-text
// resources read back.
#include <gtest/gtest.h>

#include "interface/host_abi.h"
#include "host/xop_table.h"

using kavhost::BlockLayout;
using kavhost::ComputeLayout;

namespace {

struct LayoutCase {
    const char* name;
    std::vector<uint16_t> params;
    uint16_t returnType;
    uint16_t category;
    std::size_t pointerSize;
    std::vector<std::size_t> offsets;  // in table order
    std::size_t resultOffset;
    std::size_t resultSize;
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, LastParameterFirstPackedResultLast)
{
    const LayoutCase& c = GetParam();
    BlockLayout l = ComputeLayout(c.params, c.returnType, c.category, c.pointerSize);
    ASSERT_EQ(l.params.size(), c.offsets.size());
    for (std::size_t i = 0; i < c.offsets.size(); ++i) EXPECT_EQ(l.params[i].offset, c.offsets[i]) << i;
    EXPECT_EQ(l.result.offset, c.resultOffset);
    EXPECT_EQ(l.result.size, c.resultSize);
    EXPECT_EQ(l.size, c.resultOffset + c.resultSize);
}

const uint16_t S = kParamString, N = kParamNumber, W = kParamWave, NR = kParamNumberRef, SR = kParamStringRef;
const uint16_t TS = kCategoryThreadSafe;

// The host's documented blocks, for both widths.
INSTANTIATE_TEST_SUITE_P(Table, Layout,
                         ::testing::Values(
                             // kav_AbfStartTime(string, number, number, number by reference)
                             LayoutCase{"StartTime32", {S, N, N, NR}, N, 0, 4, {20, 12, 4, 0}, 24, 8},
                             LayoutCase{"StartTime64", {S, N, N, NR}, N, 0, 8, {24, 16, 8, 0}, 32, 8},
                             LayoutCase{"NoParams32", {}, N, 0, 4, {}, 0, 8},
                             LayoutCase{"StringResult32", {S}, S, 0, 4, {0}, 4, 4},
                             LayoutCase{"StringResult64", {S}, S, 0, 8, {0}, 8, 8},
                             LayoutCase{"SplitPath32", {S, SR, SR, SR, SR}, N, 0, 4, {16, 12, 8, 4, 0}, 20, 8},
                             LayoutCase{"SplitPath64", {S, SR, SR, SR, SR}, N, 0, 8, {32, 24, 16, 8, 0}, 40, 8},
                             LayoutCase{"EpisodeRead32", {S, N, N, W}, N, 0, 4, {20, 12, 4, 0}, 24, 8},
                             LayoutCase{"EpisodeRead64", {S, N, N, W}, N, 0, 8, {24, 16, 8, 0}, 32, 8},
                             LayoutCase{"OpenDialog32", {S, S, N}, S, 0, 4, {12, 8, 0}, 16, 4},
                             LayoutCase{"OpenDialog64", {S, S, N}, S, 0, 8, {16, 8, 0}, 24, 8},
                             // a threadsafe f(string, number, wave): the thread pointer before the result
                             LayoutCase{"ThreadSafe32", {S, N, W}, N, TS, 4, {12, 4, 0}, 20, 8},
                             LayoutCase{"ThreadSafe64", {S, N, W}, N, TS, 8, {16, 8, 0}, 32, 8}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Layout, ThisBuildUsesItsOwnPointerSize)
{
    BlockLayout l = ComputeLayout({S, N, N, NR}, N);
#if KAV_WIN32
    EXPECT_EQ(l.params[0].offset, 20u);
    EXPECT_EQ(l.params[1].offset, 12u);
    EXPECT_EQ(l.params[2].offset, 4u);
    EXPECT_EQ(l.params[3].offset, 0u);
    EXPECT_EQ(l.result.offset, 24u);
#else
    EXPECT_EQ(l.params[0].offset, sizeof(void*) + 16);
    EXPECT_EQ(l.result.offset, 2 * sizeof(void*) + 16);
#endif
}

std::vector<unsigned char> Bytes(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

TEST(FunctionTable, ParsesNamesCategoriesAndTypes)
{
    // f() -> number; g(string, number by ref) -> string, category 0xA000
    auto b = Bytes(std::string("f\0\x02\x20\x04\x00\x00\x00", 8) +
                   std::string("g\0\x00\xA0\x00\x20\x00\x20\x04\x10\x00\x00", 12) + std::string("\0\0", 2));
    std::vector<kavhost::FunctionInfo> out;
    std::string err;
    ASSERT_TRUE(kavhost::ParseFunctionTable(b.data(), b.size(), &out, &err)) << err;
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].name, "f");
    EXPECT_EQ(out[0].category, 0x2002);
    EXPECT_EQ(out[0].returnType, N);
    EXPECT_TRUE(out[0].params.empty());
    EXPECT_EQ(out[1].index, 1);
    EXPECT_EQ(out[1].category, 0xA000);
    EXPECT_EQ(out[1].returnType, S);
    EXPECT_EQ(out[1].params, (std::vector<uint16_t>{S, NR}));
}

TEST(FunctionTable, MalformedTablesAreRejected)
{
    const std::vector<std::string> bad = {
        std::string("f\0\x02\x20\x04\x00\x00\x00", 8),  // table not closed
        std::string("f\0\x02\x20\x04", 5),              // entry cut short
        std::string("f\0\x02\x20\x04\x00\x00\x20", 8),  // parameter list not closed
        std::string("abc", 3),                          // name not terminated
        std::string("\0\x01", 2),                       // odd end marker
    };
    for (auto& s : bad) {
        auto b = Bytes(s);
        std::vector<kavhost::FunctionInfo> out;
        std::string err;
        EXPECT_FALSE(kavhost::ParseFunctionTable(b.data(), b.size(), &out, &err)) << ::testing::PrintToString(s);
        EXPECT_FALSE(err.empty());
    }
}

TEST(StringList, StopsAtTheEmptyText)
{
    auto b = Bytes(std::string("one\0two\0\0\0ignored\0", 19));
    EXPECT_EQ(kavhost::ParseStringList(b.data(), b.size()), (std::vector<std::string>{"one", "two"}));
}

}  // namespace
