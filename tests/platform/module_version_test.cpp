// The native stand-ins for the Windows module and version queries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform_hooks.h"

namespace {

struct PlatformTest : ::testing::Test {
    void SetUp() override { KavPlatformReset(); }
    void TearDown() override { KavPlatformReset(); }
};

TEST_F(PlatformTest, ModuleFileName)
{
    void* module = reinterpret_cast<void*>(0x10);
    char buf[16];
    EXPECT_EQ(GetModuleFileNameA(module, buf, sizeof buf), 0u);
    KavPlatformSetModuleFileName(module, "/a/IGOR.exe");
    EXPECT_EQ(GetModuleFileNameA(module, buf, sizeof buf), 11u);
    EXPECT_STREQ(buf, "/a/IGOR.exe");
    // Too small: cut, NUL-terminated, the answer is the buffer size.
    char small[5];
    EXPECT_EQ(GetModuleFileNameA(module, small, sizeof small), 5u);
    EXPECT_STREQ(small, "/a/I");
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<void*>(0x20), buf, sizeof buf), 0u);
    KavPlatformSetModuleFileName(module, nullptr);
    EXPECT_EQ(GetModuleFileNameA(module, buf, sizeof buf), 0u);
}

TEST_F(PlatformTest, FileVersionBlocks)
{
    struct Case {
        int v[4];
        DWORD ms, ls;
    } cases[] = {{{6, 2, 2, 7}, 0x00060002u, 0x00020007u},
                 {{0, 0, 0, 12}, 0, 12},
                 {{65535, 1, 10, 0}, 0xFFFF0001u, 0x000A0000u}};
    for (const Case& c : cases) {
        KavPlatformSetFileVersion("/x/host", c.v[0], c.v[1], c.v[2], c.v[3]);
        DWORD handle = 99;
        DWORD size = GetFileVersionInfoSizeA("/x/host", &handle);
        EXPECT_EQ(handle, 0u);
        ASSERT_GT(size, sizeof(VS_FIXEDFILEINFO));
        std::vector<unsigned char> block(size);
        ASSERT_TRUE(GetFileVersionInfoA("/x/host", 0, size, block.data()));
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        char root[] = "\\";
        ASSERT_TRUE(VerQueryValueA(block.data(), root, reinterpret_cast<LPVOID*>(&info), &length));
        ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(info->dwFileVersionMS, c.ms);
        EXPECT_EQ(info->dwFileVersionLS, c.ls);
        char other[] = "\\StringFileInfo\\040904b0\\FileVersion";
        EXPECT_FALSE(VerQueryValueA(block.data(), other, reinterpret_cast<LPVOID*>(&info), &length));
    }
    EXPECT_EQ(GetFileVersionInfoSizeA("/x/other", nullptr), 0u);
    unsigned char junk[128] = {};
    EXPECT_FALSE(GetFileVersionInfoA("/x/other", 0, sizeof junk, junk));
    VS_FIXEDFILEINFO* info = nullptr;
    char root[] = "\\";
    EXPECT_FALSE(VerQueryValueA(junk, root, reinterpret_cast<LPVOID*>(&info), nullptr));
    KavPlatformReset();
    EXPECT_EQ(GetFileVersionInfoSizeA("/x/host", nullptr), 0u);
}

TEST_F(PlatformTest, DebuggerPresenceCanBeForced)
{
    KavPlatformSetDebuggerPresent(1);
    EXPECT_TRUE(IsDebuggerPresent());
    DebugBreak();  // counted only
    EXPECT_EQ(KavPlatformDebugBreakCount(), 1);
    KavPlatformSetDebuggerPresent(0);
    EXPECT_FALSE(IsDebuggerPresent());
}

}  // namespace
