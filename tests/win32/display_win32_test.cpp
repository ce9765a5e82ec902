// The DirectDraw display and the show's window: set-up makes the window and gives the display back, the window keeps
// answering while its thread waits and ignores close requests, and the choice of what to do when the display was
// taken away. The cases with a window need an X screen under Wine (640x480 for the display).
#include "app/display.h"
#include "app/system.h"
#include "app/window_win32.h"
#include "devices_required.h"

#include <ddraw.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(DisplayWin32, NothingWithoutADisplay) {
    // Not set up: presenting copies nothing and flipping reports a failure, neither crashes.
    std::vector<uint32_t> frame(640 * 480, 0x00123456);
    PresentFrame(frame.data());
    EXPECT_LT(FlipFrame(), 0);
    ShutdownDisplay();
}

TEST(DisplayWin32, TakesTheDisplayAndGivesItBack) {
    mainWindow = nullptr;
    testing::internal::CaptureStderr();
    const bool taken = InitDisplay();
    const std::string reason = testing::internal::GetCapturedStderr();
    if (!taken && !DevicesRequired() && reason.find("window:") != std::string::npos) {
        GTEST_SKIP() << "no window station";
    }
    ASSERT_TRUE(taken) << reason;
    ASSERT_TRUE(IsWindow(mainWindow));
    const HWND window = mainWindow;
    EXPECT_EQ(ScreenWidth, 640);
    EXPECT_EQ(ScreenHeight, 480);
    std::vector<uint32_t> frame(640 * 480, 0x00FF8000);
    for (int i = 0; i < 3; ++i) {
        PresentFrame(frame.data());
        EXPECT_GE(FlipFrame(), 0);
    }
    ShutdownDisplay();
    EXPECT_LT(FlipFrame(), 0) << "given back";
    // Taken again after being given back, in the same window: nothing was left holding the exclusive mode.
    ASSERT_TRUE(InitDisplay());
    EXPECT_EQ(mainWindow, window);
    ShutdownDisplay();
    DestroyWindow(window);
    mainWindow = nullptr;
}

TEST(DisplayWin32, WindowAnswersWhileItsThreadWaitsAndCannotBeClosed) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QUIMBLES-TEST";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "QUIMBLES-TEST", "QUIMBLES-TEST", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (window == nullptr) {
        ASSERT_FALSE(DevicesRequired()) << "no window, although the test run provides an X screen";
        GTEST_SKIP() << "no window station";
    }
    windowThreadId = GetCurrentThreadId();
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(window, WM_SYSKEYDOWN, VK_F4, 0x203E0001);
    std::atomic<bool> answered{false};
    std::atomic<double> answerMs{-1};
    std::thread prober([&] {
        Sleep(100);
        const uint64_t before = ReadPerformanceCounter();
        DWORD_PTR reply = 0;
        answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &reply) != 0;
        answerMs = double(ReadPerformanceCounter() - before) * 1000.0 / double(ReadPerformanceFrequency());
    });
    const uint64_t before = ReadPerformanceCounter();
    SleepMs(600);
    const double sleptMs = double(ReadPerformanceCounter() - before) * 1000.0 / double(ReadPerformanceFrequency());
    prober.join();
    windowThreadId = 0;
    EXPECT_TRUE(answered.load());
    EXPECT_LT(answerMs.load(), 300.0) << "answered during the wait, not after it";
    EXPECT_GE(sleptMs, 599.0) << "messages do not cut the wait short";
    EXPECT_TRUE(IsWindow(window)) << "close requests and Alt+F4 are ignored";
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) << "the queue was drained, WM_QUIT dropped";
    DestroyWindow(window);
}

TEST(DisplayWin32, RecoveryFollowsTheCooperativeLevel) {
    EXPECT_FALSE(DisplayLost(DD_OK));
    EXPECT_FALSE(DisplayLost(DDERR_WASSTILLDRAWING)) << "a busy blitter is retried, not recovered from";
    EXPECT_TRUE(DisplayLost(DDERR_SURFACELOST));
    EXPECT_TRUE(DisplayLost(DDERR_NOEXCLUSIVEMODE));
    EXPECT_EQ(ChooseDisplayRecovery(DD_OK), RecoverRestoreSurfaces);
    EXPECT_EQ(ChooseDisplayRecovery(DDERR_WRONGMODE), RecoverSetModeAndRestore);
    EXPECT_EQ(ChooseDisplayRecovery(DDERR_NOEXCLUSIVEMODE), RecoverLater);
    EXPECT_EQ(ChooseDisplayRecovery(DDERR_EXCLUSIVEMODEALREADYSET), RecoverLater);
}

} // namespace
