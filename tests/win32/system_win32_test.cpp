// Time and audio threads on Windows, checked against the operating system's own view of them.
#include "app/system.h"
#include "app/window_win32.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

double ElapsedMs(uint64_t from, uint64_t to) {
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(ReadPerformanceFrequency());
}

std::atomic<int> feederRuns{0};
std::atomic<int> mixerRuns{0};
std::atomic<int> feederPriority{-100};
std::atomic<int> mixerPriority{-100};
std::atomic<DWORD> feederThreadId{0};
std::atomic<DWORD> mixerThreadId{0};

void RecordingFeeder() {
    feederPriority = GetThreadPriority(GetCurrentThread());
    feederThreadId = GetCurrentThreadId();
    ++feederRuns;
}

void RecordingMixer() {
    mixerPriority = GetThreadPriority(GetCurrentThread());
    mixerThreadId = GetCurrentThreadId();
    ++mixerRuns;
}

std::atomic<int> release{0};
std::atomic<int> stuckFinished{0};

void StuckThread() {
    while (release.load() == 0) {
        Sleep(1);
    }
    ++stuckFinished;
}

void QuickThread() {}

TEST(SystemWin32, AudioThreadsRunOnceEachAtHighestPriorityAndJoin) {
    EXPECT_TRUE(JoinAudioThreads(0)) << "nothing started: nothing to wait for";
    ASSERT_TRUE(StartAudioThreads(RecordingFeeder, RecordingMixer));
    EXPECT_FALSE(StartAudioThreads(RecordingFeeder, RecordingMixer)) << "a second pair while the first runs";
    EXPECT_TRUE(JoinAudioThreads(5000));
    EXPECT_FALSE(audioThreadsTerminated.load());
    EXPECT_EQ(feederRuns.load(), 1);
    EXPECT_EQ(mixerRuns.load(), 1);
    EXPECT_EQ(feederPriority.load(), THREAD_PRIORITY_HIGHEST);
    EXPECT_EQ(mixerPriority.load(), THREAD_PRIORITY_HIGHEST);
    EXPECT_NE(feederThreadId.load(), mixerThreadId.load());
    EXPECT_NE(feederThreadId.load(), GetCurrentThreadId());
    // Joined threads are let go: a new pair may start.
    ASSERT_TRUE(StartAudioThreads(RecordingFeeder, RecordingMixer));
    EXPECT_TRUE(JoinAudioThreads(5000));
    EXPECT_EQ(feederRuns.load(), 2);
}

TEST(SystemWin32, JoinGivesUpAfterItsBoundAndEndsTheStuckThread) {
    release = 0;
    ASSERT_TRUE(StartAudioThreads(QuickThread, StuckThread));
    const uint64_t before = ReadPerformanceCounter();
    EXPECT_FALSE(JoinAudioThreads(150));
    const double ms = ElapsedMs(before, ReadPerformanceCounter());
    EXPECT_GE(ms, 140.0);
    EXPECT_LT(ms, 3000.0);
    // The stuck thread was terminated: releasing it now lets nothing run to its end.
    release = 1;
    Sleep(100);
    EXPECT_EQ(stuckFinished.load(), 0);
    EXPECT_TRUE(JoinAudioThreads(0)) << "the threads were let go after the bound";
    EXPECT_TRUE(audioThreadsTerminated.load()) << "CloseSound must keep out of DirectSound now";
    audioThreadsTerminated = false;
}

} // namespace
