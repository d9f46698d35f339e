// The host's handles: relocation, ownership, release auditing and fault injection.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/memory.h"

using kavhost::HandleHeap;
using kavhost::Owner;

namespace {

TEST(HandleHeap, ResizeKeepsContentsAndReportsSize)
{
    HandleHeap heap;
    Handle h = heap.NewHandle(5);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(heap.MemError(), 0);
    std::memcpy(*h, "abcde", 5);
    heap.SetHandleSize(h, 4000);
    EXPECT_EQ(heap.MemError(), 0);
    EXPECT_EQ(heap.GetHandleSize(h), 4000);
    EXPECT_EQ(std::string(*h, 5), "abcde");
    EXPECT_EQ((*h)[3999], 0) << "grown bytes start zeroed";
    heap.SetHandleSize(h, 2);
    EXPECT_EQ(heap.GetHandleSize(h), 2);
    EXPECT_EQ(std::string(*h, 2), "ab");
    heap.DisposeHandle(h);
    EXPECT_EQ(heap.doubleReleased, 0);
    EXPECT_TRUE(heap.violations.empty());
}

TEST(HandleHeap, MoveOnResizeMovesEveryTimeAndPoisonsTheOldBlock)
{
    for (bool move : {false, true}) {
        SCOPED_TRACE(move ? "moving" : "normal");
        HandleHeap heap;
        heap.SetMoveOnResize(move);
        Handle h = heap.NewHandle(64);
        std::memset(*h, 'x', 64);
        char* before = *h;
        heap.SetHandleSize(h, 32);  // shrinking: stays put unless every resize moves
        EXPECT_EQ(*h != before, move);
        EXPECT_EQ(heap.InReleasedBlock(before), move);
        char* again = *h;
        heap.SetHandleSize(h, 32);  // same size
        EXPECT_EQ(*h != again, move);
        EXPECT_EQ(std::string(*h, 32), std::string(32, 'x'));
        heap.DisposeHandle(h);
    }
}

TEST(HandleHeap, DoubleReleaseAndUseAfterReleaseAreCounted)
{
    HandleHeap heap;
    Handle h = heap.NewHandle(8);
    char* block = *h;
    heap.DisposeHandle(h);
    EXPECT_TRUE(heap.IsReleased(h));
    EXPECT_TRUE(heap.InReleasedBlock(block));
    heap.DisposeHandle(h);
    EXPECT_EQ(heap.doubleReleased, 1);
    EXPECT_EQ(heap.GetHandleSize(h), 0);
    heap.SetHandleSize(h, 20);
    EXPECT_NE(heap.MemError(), 0);
    EXPECT_EQ(heap.useAfterRelease, 2);
    heap.DisposeHandle(nullptr);  // harmless
    EXPECT_EQ(heap.doubleReleased, 1);
    EXPECT_EQ(heap.MemError(), 0);
}

TEST(HandleHeap, ForeignAndHostOwnedHandlesAreViolations)
{
    HandleHeap heap;
    char* block = nullptr;
    Handle foreign = &block;
    heap.DisposeHandle(foreign);
    EXPECT_EQ(heap.violations.size(), 1u);
    Handle mine = heap.Allocate(4, Owner::Host);
    heap.DisposeHandle(mine);  // the plug-in may not release what the host owns
    EXPECT_EQ(heap.violations.size(), 2u);
}

TEST(HandleHeap, OwnershipDecidesWhatCountsAsThePluginsHandles)
{
    HandleHeap heap;
    Handle a = heap.NewHandle(1);
    Handle b = heap.Allocate(1, Owner::Host);
    Handle c = heap.Allocate(1, Owner::Plugin);
    auto owned = heap.PluginOwned();
    EXPECT_EQ(owned.size(), 2u);
    heap.SetOwner(a, Owner::Host);
    heap.DisposeHandle(c);
    owned = heap.PluginOwned();
    EXPECT_TRUE(owned.empty());
    EXPECT_TRUE(heap.IsLive(b));
}

TEST(HandleHeap, PtrToHandCopiesAndFailsCleanly)
{
    HandleHeap heap;
    Handle h = nullptr;
    EXPECT_EQ(heap.PtrToHand("hello", &h, 5), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(heap.Text(h), "hello");
    Handle z = nullptr;
    EXPECT_EQ(heap.PtrToHand(nullptr, &z, 0), 0);
    EXPECT_EQ(heap.GetHandleSize(z), 0);
    heap.FailNth(kavhost::kOpPtrToHand, 1);
    Handle f = h;
    EXPECT_NE(heap.PtrToHand("x", &f, 1), 0);
    EXPECT_EQ(f, nullptr);
    EXPECT_NE(heap.PtrToHand("x", nullptr, 1), 0);
    EXPECT_FALSE(heap.violations.empty());
}

struct FailCase {
    const char* name;
    unsigned ops;
    int nth;
    bool sticky;
    std::vector<unsigned> calls;  // the operation of each call in turn
    std::vector<bool> fails;      // whether it fails
};
void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class FaultInjection : public ::testing::TestWithParam<FailCase> {};

TEST_P(FaultInjection, FailsExactlyTheChosenCalls)
{
    const FailCase& c = GetParam();
    HandleHeap heap;
    Handle h = heap.NewHandle(4);
    heap.FailNth(c.ops, c.nth, c.sticky);
    for (std::size_t i = 0; i < c.calls.size(); ++i) {
        bool failed = false;
        switch (c.calls[i]) {
        case kavhost::kOpNew: failed = heap.NewHandle(4) == nullptr; break;
        case kavhost::kOpResize:
            heap.SetHandleSize(h, heap.GetHandleSize(h) + 1);
            failed = heap.MemError() != 0;
            break;
        default: {
            Handle p = nullptr;
            failed = heap.PtrToHand("ab", &p, 2) != 0;
        }
        }
        EXPECT_EQ(failed, c.fails[i]) << "call " << i;
        EXPECT_EQ(heap.MemError() != 0, failed) << "call " << i;
    }
}

using kavhost::kOpNew;
using kavhost::kOpPtrToHand;
using kavhost::kOpResize;
INSTANTIATE_TEST_SUITE_P(
    Table, FaultInjection,
    ::testing::Values(
        FailCase{"NextNew", kOpNew, 1, false, {kOpNew, kOpNew}, {true, false}},
        FailCase{"ThirdNewOnly",
                 kOpNew,
                 3,
                 false,
                 {kOpNew, kOpResize, kOpNew, kOpNew, kOpNew},
                 {false, false, false, true, false}},
        FailCase{"SecondResizeOn",
                 kOpResize,
                 2,
                 true,
                 {kOpResize, kOpNew, kOpResize, kOpResize},
                 {false, false, true, true}},
        FailCase{"AnyOpSecond", kavhost::kOpAll, 2, false, {kOpPtrToHand, kOpResize, kOpNew}, {false, true, false}},
        FailCase{"Off", kOpNew, 0, false, {kOpNew, kOpNew}, {false, false}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(HandleHeap, SizeLimitRefusesOnlyLargerResizes)
{
    HandleHeap heap;
    Handle h = heap.Allocate(40, Owner::Host);
    heap.LimitSize(h, 60);
    heap.SetHandleSize(h, 104);
    EXPECT_NE(heap.MemError(), 0);
    EXPECT_EQ(heap.Size(h), 40u);
    heap.SetHandleSize(h, 60);
    EXPECT_EQ(heap.MemError(), 0);
    EXPECT_EQ(heap.Size(h), 60u);
    heap.ClearLimit(h);
    heap.SetHandleSize(h, 104);
    EXPECT_EQ(heap.MemError(), 0);
}

TEST(HandleHeap, NegativeSizesFail)
{
    HandleHeap heap;
    EXPECT_EQ(heap.NewHandle(-1), nullptr);
    EXPECT_NE(heap.MemError(), 0);
    Handle h = heap.NewHandle(0);
    ASSERT_NE(h, nullptr);
    heap.SetHandleSize(h, -5);
    EXPECT_NE(heap.MemError(), 0);
    EXPECT_EQ(heap.GetHandleSize(h), 0);
}

}  // namespace

namespace {

TEST(HandleHeap, OldestReleasedBlocksLeaveQuarantineAndTheirHandlesNameNothing)
{
    HandleHeap heap;
    std::vector<Handle> handles;
    std::vector<char*> blocks;
    for (int i = 0; i < 80; ++i) {  // 80 MB released, more than the quarantine keeps
        Handle h = heap.NewHandle(1 << 20);
        ASSERT_NE(h, nullptr);
        handles.push_back(h);
        blocks.push_back(*h);
        heap.DisposeHandle(h);
    }
    EXPECT_EQ(*handles.front(), nullptr);
    EXPECT_EQ(*handles.back(), blocks.back()) << "recently released blocks stay, poisoned";
    EXPECT_TRUE(heap.InReleasedBlock(blocks.back() + 100));
    EXPECT_TRUE(heap.IsReleased(handles.front()));
    heap.DisposeHandle(handles.front());
    EXPECT_EQ(heap.doubleReleased, 1);
}

}  // namespace
