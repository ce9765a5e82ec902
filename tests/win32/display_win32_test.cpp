// The DirectDraw display: set-up needs a window, gives everything back, and presenting or flipping without a
// display does nothing. Needs an X screen of 640x480 under Wine for the cases with a display.
#include "app/display.h"
#include "app/window_win32.h"
#include "devices_required.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

HWND MakeWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QUIMBLES-TEST";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "QUIMBLES-TEST", "QUIMBLES", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (window != nullptr) {
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
    }
    return window;
}

TEST(DisplayWin32, NothingWithoutADisplay) {
    mainWindow = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(InitDisplay());
    const std::string reason = testing::internal::GetCapturedStderr();
    EXPECT_NE(reason.find("display:"), std::string::npos) << reason;
    // Not set up: presenting copies nothing and flipping reports a failure, neither crashes.
    std::vector<uint32_t> frame(640 * 480, 0x00123456);
    PresentFrame(frame.data());
    EXPECT_LT(FlipFrame(), 0);
    ShutdownDisplay();
}

TEST(DisplayWin32, TakesTheDisplayAndGivesItBack) {
    mainWindow = MakeWindow();
    if (mainWindow == nullptr) {
        if (DevicesRequired()) {
            FAIL() << "no window, although the test run provides an X screen";
        }
        GTEST_SKIP() << "no window station";
    }
    ScreenWidth = 0;
    ScreenHeight = 0;
    ASSERT_TRUE(InitDisplay());
    EXPECT_EQ(ScreenWidth, 640);
    EXPECT_EQ(ScreenHeight, 480);
    std::vector<uint32_t> frame(640 * 480, 0x00FF8000);
    for (int i = 0; i < 3; ++i) {
        PresentFrame(frame.data());
        EXPECT_GE(FlipFrame(), 0);
    }
    ShutdownDisplay();
    EXPECT_LT(FlipFrame(), 0) << "given back";
    // Taken again after being given back: nothing was left holding the exclusive mode.
    ASSERT_TRUE(InitDisplay());
    ShutdownDisplay();
    DestroyWindow(mainWindow);
    mainWindow = nullptr;
}

} // namespace
