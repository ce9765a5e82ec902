// Puts one frame on the screen through the Windows display path, for the end-to-end check under Wine: it reads a
// 640x480 frame of 0x00RRGGBB words, sets the display up as the show does, presents and flips it, says
// "presented" on stdout and holds the frame for the given number of milliseconds before giving the display back.
// Usage: present-frame FRAME.raw HOLD_MS
#include "app/display.h"
#include "app/system.h"
#include "app/window_win32.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: present-frame FRAME.raw HOLD_MS\n");
        return 2;
    }
    std::vector<uint32_t> frame(640 * 480);
    FILE* file = fopen(argv[1], "rb");
    if (file == nullptr || fread(frame.data(), 4, frame.size(), file) != frame.size()) {
        fprintf(stderr, "present-frame: cannot read 640x480x4 bytes from %s\n", argv[1]);
        return 2;
    }
    fclose(file);
    const uint32_t holdMs = static_cast<uint32_t>(strtoul(argv[2], nullptr, 10));

    // The same window as the show's: a popup over the whole desktop, shown before the display is taken over.
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QUIMBLES";
    RegisterClassA(&windowClass);
    RECT desktop;
    GetClientRect(GetDesktopWindow(), &desktop);
    mainWindow = CreateWindowExA(0, "QUIMBLES", "QUIMBLES", WS_POPUP, 0, 0, desktop.right - desktop.left,
                                 desktop.bottom - desktop.top, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (mainWindow == nullptr) {
        fprintf(stderr, "present-frame: CreateWindowEx failed\n");
        return 1;
    }
    ShowWindow(mainWindow, SW_SHOWNORMAL);
    UpdateWindow(mainWindow);
    if (!InitDisplay()) {
        return 1;
    }
    // Both surfaces of the flip chain get the frame, so whichever is in front shows it.
    for (int i = 0; i < 2; ++i) {
        PresentFrame(frame.data());
        FlipFrame();
    }
    printf("presented %dx%d\n", ScreenWidth, ScreenHeight);
    fflush(stdout);
    // Keep showing it as the show does, frame after frame, without ever reading the message queue.
    const uint64_t frequency = ReadPerformanceFrequency();
    const uint64_t start = ReadPerformanceCounter();
    while ((ReadPerformanceCounter() - start) * 1000 / frequency < holdMs) {
        PresentFrame(frame.data());
        FlipFrame();
        SleepMs(10);
    }
    ShutdownDisplay();
    return 0;
}
