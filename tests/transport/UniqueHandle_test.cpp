// The handle owner: what it closes, when, and what it hands over.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "system/UniqueHandle.h"

#ifdef _WIN32
#include "system/WinHandles.h"
#include "tests/transport/FarEnd.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Handles are numbers; 0 and -1 both mean "none", and every close is written down.
std::vector<int> g_closed;

struct CountedTraits {
    using Handle = int;
    static int Invalid() { return -1; }
    static bool Valid(int handle) { return handle != 0 && handle != -1; }
    static void Close(int handle) { g_closed.push_back(handle); }
};

using Counted = UniqueHandle<CountedTraits>;

class UniqueHandleTest : public ::testing::Test {
  protected:
    void SetUp() override { g_closed.clear(); }
};

TEST_F(UniqueHandleTest, ClosesWhatItHoldsOnceAndNothingElse) {
    {
        Counted empty;
        EXPECT_EQ(empty.Get(), -1);  // the sentinel stays readable
        EXPECT_FALSE(empty.Valid());
        Counted none(0);
        EXPECT_FALSE(none.Valid());
        Counted held(7);
        EXPECT_TRUE(held.Valid());
        held.Reset(7);  // the same handle again: kept, not closed
        EXPECT_TRUE(g_closed.empty());
        held.Reset(8);
        EXPECT_EQ(g_closed, std::vector<int>{7});
        held.Reset();
        EXPECT_EQ(held.Get(), -1);
    }
    // Neither the empty owners nor the one reset to none close anything on their way out.
    EXPECT_EQ(g_closed, (std::vector<int>{7, 8}));
}

TEST_F(UniqueHandleTest, MovingHandsOverAndReleaseGivesUp) {
    Counted first(5);
    Counted second(std::move(first));
    EXPECT_EQ(first.Get(), -1);
    EXPECT_EQ(second.Get(), 5);
    Counted third(6);
    third = std::move(second);  // 6 is closed, 5 changes hands
    EXPECT_EQ(g_closed, std::vector<int>{6});
    EXPECT_EQ(third.Get(), 5);
    EXPECT_EQ(third.Release(), 5);
    EXPECT_FALSE(third.Valid());
    EXPECT_EQ(g_closed, std::vector<int>{6});  // released, not closed
}

#ifdef _WIN32

TEST(WinsockSessionTest, CleansUpOnlyAfterItsOwnSuccessfulStart) {
    const int before = WinsockUses();
    {
        WinsockSession notAsked;
        EXPECT_FALSE(notAsked.Started());
        WinsockSession session(MAKEWORD(2, 2));
        ASSERT_TRUE(session.Started());
        WinsockSession moved(std::move(session));
        EXPECT_FALSE(session.Started());
        EXPECT_TRUE(moved.Started());
        moved.End();
        moved.End();  // only once
    }
    // Every start was matched by one cleanup: the process holds the uses it held before.
    EXPECT_EQ(WinsockUses(), before);
}

TEST(KernelHandleTest, AnEmptyOwnerReadsInvalidHandleValue) {
    UniqueKernelHandle port;
    EXPECT_EQ(port.Get(), INVALID_HANDLE_VALUE);
    UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.Valid());
    const HANDLE raw = event.Get();
    event.Reset();
    EXPECT_EQ(event.Get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetEvent(raw));  // closed
    UniqueDevInfo set;
    EXPECT_EQ(set.Get(), INVALID_HANDLE_VALUE);
}

#else

TEST(UniqueFdTest, ClosesOnResetAndHandsOverOnMove) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    UniqueFd reader(fds[0]);
    {
        UniqueFd writer(fds[1]);
        UniqueFd moved(std::move(writer));
        EXPECT_FALSE(writer.Valid());
        EXPECT_EQ(moved.Get(), fds[1]);
    }
    // The write end is closed now, so the read end sees the end of the stream.
    char c;
    EXPECT_EQ(::read(reader.Get(), &c, 1), 0);
    reader.Reset();
    EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);
}

#endif

}  // namespace
