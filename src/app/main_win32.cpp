// The Windows entry point: a borderless window over the desktop, the display and the sound device, the show, and
// everything given back in reverse order. There is no message loop: the show runs to its end whatever is pressed.
#include "app/display.h"
#include "app/window_win32.h"
#include "audio/sound_device.h"
#include "audio/stream.h"
#include "show/script.h"

#include <cfloat>
#include <cstdio>

// From the music player: empties the module table and builds the period table.
void BuildPeriodTables();

namespace {

// A GUI program started from a console has no stderr of its own unless the caller redirected it; borrow the
// parent's console then, so that a failed start can say why.
void AttachParentConsoleForErrors() {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        return;
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        freopen("CONOUT$", "w", stderr);
    }
}

} // namespace

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            // Nobody reads the queue during the show, so this quit request is never acted on.
            PostMessageA(window, WM_QUIT, 0, 0);
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
#if defined(__i386__)
    // 53-bit precision for the x87 unit, as the movie scaler and the frame clock expect. The 64-bit build does
    // its floating point in SSE registers, which have no precision control.
    _controlfp(_PC_53, _MCW_PC);
#endif
    AttachParentConsoleForErrors();

    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = hInstance;
    windowClass.lpszClassName = "QUIMBLES";
    RegisterClassA(&windowClass);

    RECT desktop;
    GetClientRect(GetDesktopWindow(), &desktop);
    mainWindow = CreateWindowExA(0, "QUIMBLES", "QUIMBLES", WS_POPUP, 0, 0, desktop.right - desktop.left,
                                 desktop.bottom - desktop.top, nullptr, nullptr, hInstance, nullptr);
    if (mainWindow == nullptr) {
        ReportPlatformFailure("window: CreateWindowEx failed (error %lu)", GetLastError());
        return 1;
    }
    // No cursor on the class and none now: the pointer stays hidden over the show.
    SetCursor(nullptr);
    ShowWindow(mainWindow, nCmdShow);
    UpdateWindow(mainWindow);

    int status = 0;
    if (!InitDisplaySurface(mainWindow)) {
        status = 1;
    } else {
        if (OpenSound() != 1) {
            status = 1;
        } else {
            BuildPeriodTables();
            const bool shown = RunDemoScript();
            StopMusic(); // a show that ended early may have left the music playing
            if (!shown || StreamFault() != nullptr) {
                status = 1;
            }
            CloseSound();
        }
        ShutdownDisplay();
    }
    PostMessageA(mainWindow, WM_CLOSE, 0, 0);
    return status;
}
