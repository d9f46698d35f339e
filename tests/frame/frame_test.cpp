// The frame against an in-process host: CallHost and the record, the start-up
// handshake, the message handler, the wave and string services.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_host.h"
#include "frame/host_services.h"
#include "frame/xop.h"
#if !defined(_WIN32)
#include "platform/platform_hooks.h"
#endif

// The frame is tested with a table of its own: distinct functions at every index.
namespace {
template <int N>
int TableEntry(void*)
{
    return N;
}
}  // namespace
const XopExternalFunction kExternalFunctions[kFunctionCount] = {
    TableEntry<0>,  TableEntry<1>,  TableEntry<2>,  TableEntry<3>,  TableEntry<4>,  TableEntry<5>,  TableEntry<6>,
    TableEntry<7>,  TableEntry<8>,  TableEntry<9>,  TableEntry<10>, TableEntry<11>, TableEntry<12>, TableEntry<13>,
    TableEntry<14>, TableEntry<15>, TableEntry<16>, TableEntry<17>, TableEntry<18>, TableEntry<19>, TableEntry<20>,
    TableEntry<21>, TableEntry<22>, TableEntry<23>, TableEntry<24>,
};

namespace {

constexpr intptr_t kFullRecord = static_cast<intptr_t>(sizeof(IORec));

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fakehost::Reset();
        record_ = fakehost::NewRecord(kFullRecord);
        recordHandle = record_;
#if !defined(_WIN32)
        KavPlatformReset();
#endif
    }
    void TearDown() override
    {
        recordHandle = nullptr;
        DisposeHandle(reinterpret_cast<Handle>(record_));
        fakehost::Reset();
#if !defined(_WIN32)
        KavPlatformReset();
#endif
    }
    IORecHandle record_ = nullptr;
};

TEST_F(FrameTest, CallHostSendsItemsAndReturnsTheHostsResult)
{
    fakehost::SetAnswer([](IORec& rec) -> XopItem {
        EXPECT_EQ(rec.result, 0);  // cleared before the callback
        return rec.items[0] + rec.items[2];
    });
    (*record_)->result = 99;
    XopItem r = CallHost(kMsgChangeWave, {7, 8, 35});
    EXPECT_EQ(r, 42);
    ASSERT_EQ(fakehost::Messages().size(), 1u);
    const auto& m = fakehost::Messages()[0];
    EXPECT_EQ(m.message, kMsgChangeWave);
    EXPECT_EQ(m.itemCount, 3);
    EXPECT_EQ(m.items, (std::vector<XopItem>{7, 8, 35}));
    EXPECT_EQ(m.recordSize, kFullRecord);
}

TEST_F(FrameTest, CallHostGrowsASmallRecordToFullSize)
{
    SetHandleSize(reinterpret_cast<Handle>(record_), 40);
    CallHost(kMsgWaveModified, {5});
    ASSERT_EQ(fakehost::Messages().size(), 1u);
    EXPECT_EQ(fakehost::Messages()[0].recordSize, kFullRecord);
}

TEST_F(FrameTest, CallHostFallsBackToExactlyTheItemsWhenFullSizeIsRefused)
{
    struct Case {
        int items;
    } cases[] = {{1}, {2}, {3}, {5}};
    for (const Case& c : cases) {
        fakehost::Reset();
        SetHandleSize(reinterpret_cast<Handle>(record_), 40);
        fakehost::FailResizeAbove(static_cast<intptr_t>(IORecSizeForItems(c.items)));
        XopItem items[5] = {11, 12, 13, 14, 15};
        fakehost::SetAnswer([](IORec&) -> XopItem { return 3; });
        EXPECT_EQ(CallHost(kMsgSetWaveScaling, c.items, items), 3);
        ASSERT_EQ(fakehost::Messages().size(), 1u) << c.items;
        const auto& m = fakehost::Messages()[0];
        EXPECT_EQ(m.recordSize, static_cast<intptr_t>(IORecSizeForItems(c.items))) << c.items;
        EXPECT_EQ(m.items, std::vector<XopItem>(items, items + c.items));
    }
#if KAV_WIN32
    EXPECT_EQ(IORecSizeForItems(5), 60u);
#elif KAV_WIN64
    EXPECT_EQ(IORecSizeForItems(5), 100u);
#endif
}

TEST_F(FrameTest, CallHostSendsNothingWhenTheRecordCannotBeGrown)
{
    SetHandleSize(reinterpret_cast<Handle>(record_), 40);
    fakehost::FailResizeAbove(40);
    std::vector<char> before = fakehost::Bytes(reinterpret_cast<Handle>(record_));
    XopItem items[2] = {1, 2};
    XopItem result = 0;
    EXPECT_FALSE(CallHostSent(kMsgSetWaveNote, 2, items, &result));
    EXPECT_EQ(CallHost(kMsgSetWaveNote, 2, items), kCallHostRecordError);
    EXPECT_TRUE(fakehost::Messages().empty());
    EXPECT_EQ(fakehost::Bytes(reinterpret_cast<Handle>(record_)), before);
    // The services report it as a failure, not as an answer.
    waveHndl wave = NewHandle(kWaveRecData);
    std::memset(*wave, 0, kWaveRecData);
    int32_t dims = 0;
    EXPECT_EQ(WaveDimensions(wave, &dims), kStatusOutOfMemory);
    EXPECT_EQ(ChangeWave(wave, 10, kWaveFloat32), kStatusOutOfMemory);
    EXPECT_EQ(WaveData(wave), nullptr);
    EXPECT_EQ(WavePoints(wave), -1);
    EXPECT_EQ(WaveType(wave), -1);
    DisposeHandle(wave);
}

#if !defined(_WIN32)
TEST_F(FrameTest, RecordErrorBreaksOnlyUnderADebugger)
{
    SetHandleSize(reinterpret_cast<Handle>(record_), 40);
    fakehost::FailResizeAbove(40);
    KavPlatformSetDebuggerPresent(0);
    CallHost(kMsgWaveModified, {1});
    EXPECT_EQ(KavPlatformDebugBreakCount(), 0);
    EXPECT_STREQ(KavPlatformLastDebugOutput(), "");
    KavPlatformSetDebuggerPresent(1);
    CallHost(kMsgWaveModified, {1});
    EXPECT_EQ(KavPlatformDebugBreakCount(), 1);
    EXPECT_STREQ(KavPlatformLastDebugOutput(), "SetRecHandle error");
    EXPECT_TRUE(fakehost::Messages().empty());
}
#endif

// ---- Start-up -----------------------------------------------------------------

XopItem AnswerVersion(IORec& rec, int32_t version)
{
    if (rec.message != kMsgHostVersion) return 0;
    *reinterpret_cast<int32_t*>(rec.items[0]) = version;
    return 0;
}

TEST_F(FrameTest, StartupAcceptsHostsFromVersion500ByMessage)
{
    struct Case {
        int32_t answer;
        int32_t version;
        int returned;
        XopItem result;
    } cases[] = {
        {4990, 499, 1, kHostTooOld}, {4999, 499, 1, kHostTooOld}, {5000, 500, 0, 0},
        {6220, 622, 0, 0},           {0, 0, 1, kHostTooOld},
    };
    for (const Case& c : cases) {
        fakehost::Reset();
        (*record_)->entry = nullptr;
        int32_t v = c.answer;
        fakehost::SetAnswer([v](IORec& rec) { return AnswerVersion(rec, v); });
        EXPECT_EQ(XOPMainImpl(record_), c.returned) << c.answer;
        EXPECT_EQ(hostVersion, c.version) << c.answer;
        EXPECT_EQ((*record_)->result, c.result) << c.answer;
        EXPECT_EQ((*record_)->entry, &HandleHostMessage) << c.answer;
        EXPECT_EQ(recordHandle, record_);
        EXPECT_EQ(hostWindow, reinterpret_cast<void*>(0x5678));
        ASSERT_EQ(fakehost::Messages().size(), 1u);
        EXPECT_EQ(fakehost::Messages()[0].message, kMsgHostVersion);
        EXPECT_EQ(fakehost::Messages()[0].itemCount, 1);
    }
}

#if !defined(_WIN32)
TEST_F(FrameTest, StartupTakesTheVersionFromTheProgramFileWhenUnanswered)
{
    const char* path = "/opt/host/IGOR.exe";
    struct Case {
        int v[4];
        bool configured;
        int32_t version;
        int returned;
    } cases[] = {
        {{6, 2, 2, 7}, true, 622, 0},  {{4, 9, 9, 0}, true, 499, 1},  {{5, 0, 0, 0}, true, 500, 0},
        {{1, 10, 0, 0}, true, 200, 1}, {{4, 9, 10, 3}, true, 500, 0}, {{6, 2, 2, 7}, false, 0, 1},
    };
    for (const Case& c : cases) {
        fakehost::Reset();
        KavPlatformReset();
        KavPlatformSetModuleFileName(GetIgorModule(), path);
        if (c.configured) KavPlatformSetFileVersion(path, c.v[0], c.v[1], c.v[2], c.v[3]);
        fakehost::SetAnswer([](IORec& rec) -> XopItem { return rec.message == kMsgHostVersion ? 1 : 0; });
        EXPECT_EQ(XOPMainImpl(record_), c.returned) << c.v[0] << c.v[1] << c.v[2];
        EXPECT_EQ(hostVersion, c.version) << c.v[0] << c.v[1] << c.v[2];
        EXPECT_EQ((*record_)->result, c.returned ? kHostTooOld : 0);
        EXPECT_EQ((*record_)->entry, &HandleHostMessage);
    }
}

TEST_F(FrameTest, StartupWithoutAModuleNameGivesVersion0)
{
    fakehost::SetAnswer([](IORec&) -> XopItem { return 1; });
    KavPlatformSetFileVersion("/opt/host/IGOR.exe", 6, 2, 2, 0);
    EXPECT_EQ(XOPMainImpl(record_), 1);
    EXPECT_EQ(hostVersion, 0);
}
#endif

// ---- The message handler ---------------------------------------------------------

TEST_F(FrameTest, FunctionAddressAnswersByIndex)
{
    struct Case {
        int itemCount;
        XopItem index;
        int expect;  // index into the table, or -1 for null
    } cases[] = {{0, 24, 0}, {1, 0, 0}, {1, 11, 11}, {1, 24, 24}, {1, 25, -1}, {1, -1, -1}, {1, 100000, -1}, {2, 3, 3}};
    for (const Case& c : cases) {
        (*record_)->message = kMsgFunctionAddress;
        (*record_)->itemCount = static_cast<int16_t>(c.itemCount);
        (*record_)->items[0] = c.index;
        (*record_)->result = 12345;
        HandleHostMessage();
        XopItem expected = c.expect < 0 ? 0 : reinterpret_cast<XopItem>(kExternalFunctions[c.expect]);
        EXPECT_EQ((*record_)->result, expected) << c.itemCount << " " << c.index;
        XopExternalFunction f = FunctionAddress();
        if (c.expect < 0)
            EXPECT_EQ(f, nullptr);
        else
            EXPECT_TRUE(f && f(nullptr) == c.expect) << c.index;
    }
}

TEST_F(FrameTest, OtherMessagesAreAnsweredWithZero)
{
    for (int16_t message : {int16_t{0}, int16_t{1}, int16_t{14}, int16_t{16}, int16_t{-15}, int16_t{238}}) {
        (*record_)->message = message;
        (*record_)->itemCount = 1;
        (*record_)->items[0] = 0;
        (*record_)->result = 777;
        HandleHostMessage();
        EXPECT_EQ((*record_)->result, 0) << message;
    }
    EXPECT_TRUE(fakehost::Messages().empty());
}

// ---- Waves ----------------------------------------------------------------------

// A wave record of this build's layout (kWaveRecord: CountInt counts).
waveHndl MakeWaveRecord(int16_t flag, int16_t type, CountInt points, const CountInt dims[4])
{
    waveHndl w = NewHandle(static_cast<intptr_t>(kWaveRecData + 64));
    std::memset(*w, 0, kWaveRecData + 64);
    std::memcpy(*w + kWaveRecDirect, &flag, 2);
    std::memcpy(*w + kWaveRecType, &type, 2);
    std::memcpy(*w + kWaveRecPoints, &points, sizeof points);
    std::memcpy(*w + kWaveRecDimSizes, dims, 4 * sizeof(CountInt));
    return w;
}

// The 64-bit Windows build never reads the record (kReadWaveRecords): it asks.
#if !KAV_WIN64
TEST_F(FrameTest, DirectWavesAreReadFromTheirRecord)
{
    struct Case {
        int16_t type;
        CountInt points;
        CountInt dims[4];
        int32_t dimCount;
    } cases[] = {{kWaveFloat32, 16, {16, 0, 0, 0}, 1},
                 {kWaveFloat64, 20, {10, 2, 0, 0}, 2},
                 {kWaveFloat32 | kWaveComplex, 8, {2, 2, 2, 0}, 3},
                 {kWaveInt16, 24, {2, 3, 2, 2}, 4},
                 {kWaveFloat64, 0, {0, 5, 0, 0}, 0},
                 {kWaveFloat64, 6, {3, 0, 2, 0}, 1}};
    for (const Case& c : cases) {
        waveHndl w = MakeWaveRecord(1, c.type, c.points, c.dims);
        EXPECT_TRUE(WaveIsDirect(w));
        EXPECT_EQ(WaveType(w), c.type);
        EXPECT_EQ(WavePoints(w), c.points);
        EXPECT_EQ(WaveData(w), static_cast<void*>(*w + kWaveRecData));
        int32_t n = -1;
        EXPECT_EQ(WaveDimensions(w, &n), 0);
        EXPECT_EQ(n, c.dimCount);
        DisposeHandle(w);
    }
    EXPECT_TRUE(fakehost::Messages().empty());
}
#endif

TEST_F(FrameTest, OtherWavesAreAskedAbout)
{
    const CountInt dims[4] = {99, 99, 99, 99};  // must not be read
    // Only the value 1 marks a record for direct reads, and never on Win64.
    waveHndl w = MakeWaveRecord(KAV_WIN64 ? 1 : 2, 77, 77, dims);
    static double data[4];
    // A 64-bit host's count can pass 2^32 points.
    static const CountInt kPoints = sizeof(CountInt) == 8 ? static_cast<CountInt>(int64_t{5} << 30) : 1234;
    fakehost::SetAnswer([w](IORec& rec) -> XopItem {
        EXPECT_EQ(rec.items[0], ItemOf(w));
        switch (rec.message) {
        case kMsgWaveType: return kWaveFloat64;
        case kMsgWavePoints: return kPoints;
        case kMsgWaveData: return ItemOf(data);
        case kMsgWaveDimensions:
            EXPECT_EQ(rec.itemCount, 3);
            EXPECT_EQ(rec.items[2], 0);
            *reinterpret_cast<int32_t*>(rec.items[1]) = 2;
            return 0;
        default: return -5;
        }
    });
    EXPECT_FALSE(WaveIsDirect(w));
    EXPECT_EQ(WaveType(w), kWaveFloat64);
    EXPECT_EQ(WavePoints(w), kPoints);
    EXPECT_EQ(WaveData(w), static_cast<void*>(data));
    int32_t n = 0;
    EXPECT_EQ(WaveDimensions(w, &n), 0);
    EXPECT_EQ(n, 2);
    std::vector<int> sent;
    for (const auto& m : fakehost::Messages()) sent.push_back(m.message);
    EXPECT_EQ(sent, (std::vector<int>{34, 35, 37, 78}));

    fakehost::SetAnswer([](IORec&) -> XopItem { return 412; });
    EXPECT_EQ(WaveDimensions(w, &n), 412);
    EXPECT_EQ(ChangeWave(w, 10, kWaveFloat64), 412);
    DisposeHandle(w);
}

TEST_F(FrameTest, WaveChangesCarryTheirItems)
{
    waveHndl w = reinterpret_cast<waveHndl>(0x4000);
    fakehost::SetAnswer([](IORec& rec) -> XopItem {
        if (rec.message == kMsgSetWaveScaling) {
            EXPECT_EQ(rec.itemCount, 5);
            EXPECT_EQ(*reinterpret_cast<double*>(rec.items[1]), 0.25);
            EXPECT_EQ(*reinterpret_cast<double*>(rec.items[2]), -3.5);
            EXPECT_EQ(rec.items[3], 0);
            EXPECT_EQ(rec.items[4], 0);
        }
        if (rec.message == kMsgSetWaveUnits) {
            EXPECT_STREQ(reinterpret_cast<const char*>(rec.items[1]), "s");
            EXPECT_STREQ(reinterpret_cast<const char*>(rec.items[2]), "pA");
        }
        if (rec.message == kMsgHistoryPrint) {
            EXPECT_STREQ(reinterpret_cast<const char*>(rec.items[0]), "line\r");
        }
        return 0;
    });
    SetWaveScaling(w, 0.25, -3.5);
    SetWaveUnits(w, "s", "pA");
    Handle note = fakehost::MakeText("k=v");
    SetWaveNote(w, note);
    WaveModified(w);
    HistoryPrint("line\r");
    EXPECT_EQ(ChangeWave(w, 17, kWaveFloat32), 0);
    const auto& m = fakehost::Messages();
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(m[0].message, kMsgSetWaveScaling);
    EXPECT_EQ(m[1].message, kMsgSetWaveUnits);
    EXPECT_EQ(m[2].message, kMsgSetWaveNote);
    EXPECT_EQ(m[2].items, (std::vector<XopItem>{ItemOf(w), ItemOf(note)}));
    EXPECT_EQ(m[3].message, kMsgWaveModified);
    EXPECT_EQ(m[3].items, (std::vector<XopItem>{ItemOf(w)}));
    EXPECT_EQ(m[4].message, kMsgHistoryPrint);
    EXPECT_EQ(m[5].items, (std::vector<XopItem>{ItemOf(w), 17, kWaveFloat32}));
    DisposeHandle(note);
}

// ---- Paths and strings -------------------------------------------------------------

TEST_F(FrameTest, NativePathGrowsTheHandleByTwoNuls)
{
    Handle path = fakehost::MakeText("C:\\data\\a.abf");
    std::string seen;
    fakehost::SetAnswer([&seen](IORec& rec) -> XopItem {
        seen = reinterpret_cast<const char*>(rec.items[0]);
        return 0;
    });
    EXPECT_EQ(HostNativePath(path), 0);
    EXPECT_EQ(seen, "C:\\data\\a.abf");
    std::vector<char> bytes = fakehost::Bytes(path);
    ASSERT_EQ(bytes.size(), 15u);
    EXPECT_EQ(bytes[13], '\0');
    EXPECT_EQ(bytes[14], '\0');
    ASSERT_EQ(fakehost::Messages().size(), 1u);
    EXPECT_EQ(fakehost::Messages()[0].message, kMsgNativePath);
    EXPECT_EQ(fakehost::Messages()[0].items[0], ItemOf(*path));

    fakehost::FailResizeAbove(15);
    EXPECT_EQ(HostNativePath(path), kStatusOutOfMemory);
    EXPECT_EQ(fakehost::Messages().size(), 1u);
    DisposeHandle(path);
}

TEST_F(FrameTest, TerminateStringHandle)
{
    struct Case {
        const char* text;
        bool fail;
    } cases[] = {{"", false}, {"a", false}, {"C:\\x\\file.abf", false}, {"abc", true}};
    for (const Case& c : cases) {
        fakehost::Reset();
        Handle h = fakehost::MakeText(c.text);
        std::size_t n = std::strlen(c.text);
        if (c.fail) fakehost::FailResizeAbove(static_cast<intptr_t>(n));
        int status = TerminateStringHandle(h);
        if (c.fail) {
            EXPECT_EQ(status, kStatusOutOfMemory);
            EXPECT_EQ(GetHandleSize(h), static_cast<intptr_t>(n));
        } else {
            EXPECT_EQ(status, 0);
            ASSERT_EQ(GetHandleSize(h), static_cast<intptr_t>(n + 1));
            EXPECT_STREQ(*h, c.text);
        }
        DisposeHandle(h);
    }
    EXPECT_EQ(TerminateStringHandle(nullptr), kStatusOutOfMemory);
}

TEST_F(FrameTest, SetStringVariable)
{
    struct Case {
        const char* initial;  // null: the variable holds null
        const char* text;
        int failNew;
        intptr_t resizeLimit;
        int status;
    } cases[] = {
        {nullptr, "0;1;2", 0, -1, 0},   {nullptr, "", 0, -1, 0},    {"long old text", "ab", 0, -1, 0},
        {"x", "longer text", 0, -1, 0}, {nullptr, "abc", 1, -1, 1}, {"x", "longer", 0, 1, 1},
    };
    for (const Case& c : cases) {
        fakehost::Reset();
        int live = fakehost::LiveHandles();
        Handle var = c.initial ? fakehost::MakeText(c.initial) : nullptr;
        Handle before = var;
        fakehost::FailNewHandles(c.failNew);
        fakehost::FailResizeAbove(c.resizeLimit);
        int status = SetStringVariable(&var, c.text, std::strlen(c.text));
        EXPECT_EQ(status, c.status) << c.text;
        if (status == 0) {
            ASSERT_NE(var, nullptr);
            std::vector<char> bytes = fakehost::Bytes(var);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.text);
            if (before) {
                EXPECT_EQ(var, before);  // resized, not replaced
            }
        } else {
            EXPECT_EQ(var, before);
            if (var) {
                std::vector<char> bytes = fakehost::Bytes(var);
                EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.initial);
            }
        }
        if (var) DisposeHandle(var);
        EXPECT_EQ(fakehost::LiveHandles(), live);
    }
}

TEST_F(FrameTest, CopyAndMakeStringHandles)
{
    Handle h = fakehost::MakeText("hello.abf");
    char buf[64];
    EXPECT_EQ(CopyStringHandle(h, buf, sizeof buf), 9u);
    EXPECT_STREQ(buf, "hello.abf");
    char small[5];
    EXPECT_EQ(CopyStringHandle(h, small, sizeof small), 9u);
    EXPECT_STREQ(small, "hell");
    EXPECT_EQ(CopyStringHandle(nullptr, buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(StringHandleLength(h), 9u);

    Handle made = nullptr;
    EXPECT_EQ(NewStringHandle("xyz", 3, &made), 0);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(fakehost::Bytes(made), (std::vector<char>{'x', 'y', 'z'}));
    Handle empty = nullptr;
    EXPECT_EQ(NewStringHandle("", 0, &empty), 0);
    EXPECT_EQ(GetHandleSize(empty), 0);
    Handle failed = nullptr;
    fakehost::FailNewHandles(1);
    EXPECT_NE(NewStringHandle("q", 1, &failed), 0);
    EXPECT_EQ(failed, nullptr);
    DisposeHandle(h);
    DisposeHandle(made);
    DisposeHandle(empty);
}

}  // namespace
