// The display on Windows: the show's window, and DirectDraw 7 in exclusive full-screen mode, 640x480 at 32 bits per
// pixel, a primary surface with one back buffer that every frame is copied into and then flipped.
//
// The show takes no input, yet its window must keep answering: every flip and every wait of the window's thread
// drain its queue, and the window procedure ignores keys and close requests. Flips wait for the vertical blank;
// one that comes back sooner than the show's timeline of 60 a second allows (a faster display, or none with a
// vertical blank at all) waits out the rest of its time (pacing.h). When another program takes the display
// (Alt+Tab, a locked session), frames are skipped at the timeline's pace until it comes back.
#include "app/display.h"
#include "app/pacing.h"
#include "app/system.h"
#include "app/window_win32.h"

#include <ddraw.h>

#include <cstring>

int32_t ScreenWidth = 0;
int32_t ScreenHeight = 0;
HWND mainWindow = nullptr;
int windowShowCommand = SW_SHOWDEFAULT;
std::atomic<DWORD> windowThreadId{0};

namespace {

IDirectDraw7* directDraw = nullptr;
IDirectDrawSurface7* primarySurface = nullptr;
IDirectDrawSurface7* backBuffer = nullptr; // belongs to the primary surface's flip chain; never released alone
bool displayModeSet = false;
bool surfacesReady = false; // false from a failed Lock or Flip until the display is ours again
FlipPacing pacing{};
// One description, filled for CreateSurface and then by every Lock with the pitch and address of the pixels.
DDSURFACEDESC2 surfaceDescription;

bool Failed(const char* step, HRESULT result) {
    if (SUCCEEDED(result)) {
        return false;
    }
    ReportPlatformFailure("display: %s failed (HRESULT 0x%08lX)", step, static_cast<unsigned long>(result));
    return true;
}

// A borderless window over the whole desktop, measured before the mode changes; it lives as long as the process.
bool CreateShowWindow() {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QUIMBLES";
    RegisterClassA(&windowClass); // refused harmlessly when an earlier InitDisplay registered it
    RECT desktop;
    GetClientRect(GetDesktopWindow(), &desktop);
    mainWindow = CreateWindowExA(0, "QUIMBLES", "QUIMBLES", WS_POPUP, 0, 0, desktop.right - desktop.left,
                                 desktop.bottom - desktop.top, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (mainWindow == nullptr) {
        ReportPlatformFailure("window: CreateWindowEx failed (error %lu)", GetLastError());
        return false;
    }
    // SetCursor alone lasts only until the next WM_SETCURSOR; the count hides the pointer for good.
    ShowCursor(FALSE);
    SetCursor(nullptr);
    ShowWindow(mainWindow, windowShowCommand);
    UpdateWindow(mainWindow);
    // Started from a console or a launcher, the window may come up behind it; the exclusive mode needs the front.
    SetForegroundWindow(mainWindow);
    return true;
}

// After a failed Lock or Flip: true when the surfaces can be drawn again.
bool RegainDisplay() {
    switch (ChooseDisplayRecovery(directDraw->TestCooperativeLevel())) {
    case RecoverSetModeAndRestore:
        if (FAILED(directDraw->SetDisplayMode(640, 480, 32, 0, 0))) {
            return false;
        }
        displayModeSet = true;
        return SUCCEEDED(directDraw->RestoreAllSurfaces());
    case RecoverRestoreSurfaces:
        return SUCCEEDED(directDraw->RestoreAllSurfaces());
    case RecoverLater:
        break;
    }
    return false;
}

} // namespace

DisplayRecovery ChooseDisplayRecovery(HRESULT cooperativeLevel) {
    if (SUCCEEDED(cooperativeLevel)) {
        return RecoverRestoreSurfaces;
    }
    if (cooperativeLevel == DDERR_WRONGMODE) {
        return RecoverSetModeAndRestore;
    }
    // DDERR_NOEXCLUSIVEMODE (we were switched away from), DDERR_EXCLUSIVEMODEALREADYSET (another program holds it),
    // and anything else: nothing to do but wait.
    return RecoverLater;
}

bool DisplayLost(HRESULT drawResult) {
    return FAILED(drawResult) && drawResult != DDERR_WASSTILLDRAWING;
}

void DrainMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            DispatchMessageA(&message);
        }
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        // Alt+F4, the taskbar's Close, another program's request: the show runs to its end regardless.
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
        case SC_KEYMENU:      // Alt alone would open a window menu that the full screen hides
        case SC_SCREENSAVE:   // neither the screen saver
        case SC_MONITORPOWER: // nor power saving may blank the show
            return 0;
        default:
            break;
        }
        break;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_CHAR:
    case WM_SYSCHAR:
        return 0; // keys do nothing, Escape included
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            SetCursor(nullptr);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool InitDisplaySurface(HWND window) {
    if (directDraw != nullptr) {
        return true;
    }
    bool ok = !Failed("DirectDrawCreateEx",
                      DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&directDraw), IID_IDirectDraw7, nullptr));
    // Full screen, exclusive, and leave the FPU control word as start-up set it (53-bit precision).
    ok = ok && !Failed("SetCooperativeLevel",
                       directDraw->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE | DDSCL_FPUPRESERVE));
    if (ok) {
        ScreenWidth = 640;
        ScreenHeight = 480;
        ok = !Failed("SetDisplayMode 640x480x32", directDraw->SetDisplayMode(640, 480, 32, 0, 0));
        displayModeSet = ok;
    }
    if (ok) {
        memset(&surfaceDescription, 0, sizeof surfaceDescription);
        surfaceDescription.dwSize = sizeof surfaceDescription;
        surfaceDescription.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
        surfaceDescription.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
        surfaceDescription.dwBackBufferCount = 1;
        ok = !Failed("CreateSurface (primary with one back buffer)",
                     directDraw->CreateSurface(&surfaceDescription, &primarySurface, nullptr));
    }
    if (ok) {
        DDSCAPS2 caps;
        memset(&caps, 0, sizeof caps);
        caps.dwCaps = DDSCAPS_BACKBUFFER;
        ok = !Failed("GetAttachedSurface (back buffer)", primarySurface->GetAttachedSurface(&caps, &backBuffer));
    }
    surfacesReady = ok;
    if (!ok) {
        // Give back what was taken, so that a failed start leaves the desktop as it was.
        ShutdownDisplay();
    }
    return ok;
}

bool InitDisplay() {
    windowThreadId = GetCurrentThreadId();
    if (mainWindow == nullptr && !CreateShowWindow()) {
        ShutdownDisplay();
        return false;
    }
    if (!InitDisplaySurface(mainWindow)) {
        return false;
    }
    pacing = FlipPacing{};
    // Nobody touches the mouse or the keyboard during a show: keep the display on and the machine awake anyway.
    SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED);
    return true;
}

void ShutdownDisplay() {
    if (directDraw != nullptr && displayModeSet) {
        directDraw->RestoreDisplayMode();
    }
    displayModeSet = false;
    surfacesReady = false;
    if (primarySurface != nullptr) {
        primarySurface->Release(); // takes the attached back buffer with it
    }
    primarySurface = nullptr;
    backBuffer = nullptr;
    if (directDraw != nullptr) {
        directDraw->Release();
    }
    directDraw = nullptr;
    SetThreadExecutionState(ES_CONTINUOUS);
    // The window stays, black and answering nothing more, until the process ends a moment later (a later
    // InitDisplay takes it again). Destroying it here would gain nothing, and hiding a window can keep the thread
    // from its messages for a while (an X server without a window manager: two seconds under Wine).
    windowThreadId = 0;
}

void PresentFrame(const uint32_t* pixels) {
    if (backBuffer == nullptr || !surfacesReady) {
        return;
    }
    HRESULT result;
    do {
        // No DDLOCK_WAIT: a busy blitter is retried here at once.
        result = backBuffer->Lock(nullptr, &surfaceDescription, 0, nullptr);
    } while (result == DDERR_WASSTILLDRAWING);
    if (FAILED(result)) {
        // Never copy through a failed lock; FlipFrame sees to getting the surfaces back.
        surfacesReady = false;
        return;
    }
    auto* row = static_cast<uint8_t*>(surfaceDescription.lpSurface);
    const size_t rowBytes = static_cast<size_t>(ScreenWidth) * 4;
    for (int32_t y = 0; y < ScreenHeight; ++y) {
        // The pitch may exceed the row; the words go over unchanged (the surface is taken to be 0x00RRGGBB).
        memcpy(row, pixels + static_cast<size_t>(y) * ScreenWidth, rowBytes);
        row += surfaceDescription.lPitch;
    }
    backBuffer->Unlock(nullptr);
}

namespace {

uint64_t Nanoseconds() {
    return CounterNanoseconds(ReadPerformanceCounter(), ReadPerformanceFrequency());
}

// Waits what is left of the flip's time on the timeline; every frame is shown on Windows, so a late flip only
// starts the count again.
void KeepTimeline() {
    const uint64_t now = Nanoseconds();
    const FlipPlan plan = PlanFlip(&pacing, now, true, false);
    if (plan.showAt > now) {
        SleepMs(uint32_t((plan.showAt - now + 999999) / 1000000));
    }
}

} // namespace

void StartFlipTimeline() {
    pacing.started = false;
}

long FlipFrame() {
    if (primarySurface == nullptr) {
        return DDERR_NOTINITIALIZED;
    }
    // Once per frame at least, whatever the script does between frames.
    DrainMessages();
    HRESULT result = DDERR_SURFACELOST;
    if (surfacesReady) {
        result = primarySurface->Flip(nullptr, DDFLIP_WAIT);
        if (!DisplayLost(result)) {
            KeepTimeline();
            return result;
        }
        surfacesReady = false;
    }
    // This frame is not shown. Ask for the display back; restored surfaces hold nothing worth showing, so the next
    // frame is the first one drawn into them. Meanwhile the flip keeps its time, so that the script keeps its pace
    // and the show goes on where it is when the display returns.
    surfacesReady = RegainDisplay();
    KeepTimeline();
    return result;
}
