// Host waves: the record behind a wave handle and the type names of the command line.
#include <gtest/gtest.h>

#include <cstring>

#include "host/host.h"

using kavhost::Host;
using kavhost::Wave;

namespace {

// The record of the host's width, as the toolkit lays out its version-1 record:
// 32-bit counts on a 32-bit host, 64-bit counts (and so later offsets) otherwise.
struct RecordOffsets {
    std::size_t points, type, version, dims, data;
};
constexpr RecordOffsets kOffsets =
    sizeof(void*) == 8 ? RecordOffsets{16, 24, 34, 80, 400} : RecordOffsets{12, 16, 26, 68, 320};

CountInt CountAt(const char* p)
{
    CountInt v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
int16_t Int16At(const char* p)
{
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

struct WaveCase {
    const char* name;
    int type;
    std::vector<int32_t> dims;
    std::size_t elementSize;
    int32_t points;
};
void PrintTo(const WaveCase& c, std::ostream* os) { *os << c.name; }

class WaveRecord : public ::testing::TestWithParam<WaveCase> {};

TEST_P(WaveRecord, HeaderFieldsSitAtTheirOffsets)
{
    const WaveCase& c = GetParam();
    Host h;
    for (bool direct : {false, true}) {
        h.SetDirectWaves(direct);
        Wave* w = h.MakeWave(c.type, c.dims);
        ASSERT_NE(w, nullptr);
        const char* rec = *w->handle;
        EXPECT_EQ(CountAt(rec + kOffsets.points), c.points);
        EXPECT_EQ(Int16At(rec + kOffsets.type), c.type);
        // Version 1 (read it directly) only where the host offers it: never in Igor64.exe.
        EXPECT_EQ(Int16At(rec + kOffsets.version), direct && Host::kOffersDirectWaves ? 1 : 2);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(CountAt(rec + kOffsets.dims + sizeof(CountInt) * i), i < c.dims.size() ? c.dims[i] : 0)
                << "dimension " << i;
        EXPECT_EQ(w->Dimensions(), static_cast<int>(c.dims.size()));
        EXPECT_EQ(kavhost::WaveElementSize(c.type), c.elementSize);
        EXPECT_EQ(h.Heap().Size(w->handle), kOffsets.data + c.elementSize * static_cast<std::size_t>(c.points));
        EXPECT_EQ(w->Data(), *w->handle + kOffsets.data);
        EXPECT_EQ(kavhost::WaveTypeFromName(kavhost::WaveTypeName(c.type)), c.type);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, WaveRecord,
                         ::testing::Values(WaveCase{"f32", 2, {1000}, 4, 1000}, WaveCase{"f64", 4, {10, 2}, 8, 20},
                                           WaveCase{"c64", 3, {7}, 8, 7}, WaveCase{"c128", 5, {3, 3}, 16, 9},
                                           WaveCase{"i8", 8, {2, 3, 4}, 1, 24}, WaveCase{"u8", 0x48, {5}, 1, 5},
                                           WaveCase{"i16", 0x10, {4}, 2, 4}, WaveCase{"u16", 0x50, {1, 1, 1, 2}, 2, 2},
                                           WaveCase{"i32", 0x20, {6}, 4, 6}, WaveCase{"u32", 0x60, {6}, 4, 6},
                                           WaveCase{"text", 0, {3}, 0, 3}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Waves, InvalidShapesAndTypesAreRefused)
{
    Host h;
    EXPECT_EQ(h.MakeWave(2, {}), nullptr);
    EXPECT_EQ(h.MakeWave(2, {1, 2, 3, 4, 5}), nullptr);
    EXPECT_EQ(h.MakeWave(2, {-3}), nullptr);
    EXPECT_EQ(h.MakeWave(6, {3}), nullptr);     // no such numeric type
    EXPECT_EQ(h.MakeWave(0x42, {3}), nullptr);  // unsigned float
    // More points than a count of the host's width allows (2^31 - 1 on 32-bit hosts;
    // the stand-in's 2^40 on 64-bit ones, where memory is the real limit).
    const CountInt side = sizeof(CountInt) == 8 ? CountInt{1} << 21 : 65536;
    EXPECT_EQ(h.MakeWave(2, {side, side}), nullptr);
    EXPECT_EQ(kavhost::WaveTypeFromName("f16"), -1);
}

TEST(Waves, ValuesConvertEveryIntegerType)
{
    Host h;
    Wave* u8 = h.MakeWave(0x48, {2});
    u8->As<uint8_t>()[0] = 255;
    Wave* i16 = h.MakeWave(0x10, {2});
    i16->As<int16_t>()[1] = -2;
    Wave* u32 = h.MakeWave(0x60, {1});
    u32->As<uint32_t>()[0] = 4000000000u;
    Wave* c = h.MakeWave(3, {2});
    c->As<float>()[2] = 1.5f;  // real part of point 1
    c->As<float>()[3] = 9.0f;
    EXPECT_EQ(u8->Values(), (std::vector<double>{255, 0}));
    EXPECT_EQ(i16->Values(), (std::vector<double>{0, -2}));
    EXPECT_EQ(u32->Values(), (std::vector<double>{4000000000.0}));
    EXPECT_EQ(c->Values(), (std::vector<double>{0, 1.5}));
}

}  // namespace
