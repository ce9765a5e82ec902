// The display on Windows: DirectDraw 7 in exclusive full-screen mode, 640x480 at 32 bits per pixel, a primary
// surface with one back buffer that every frame is copied into and then flipped.
#include "app/display.h"
#include "app/window_win32.h"

#include <ddraw.h>

#include <cstring>

int32_t ScreenWidth = 0;
int32_t ScreenHeight = 0;
HWND mainWindow = nullptr;

namespace {

IDirectDraw7* directDraw = nullptr;
IDirectDrawSurface7* primarySurface = nullptr;
IDirectDrawSurface7* backBuffer = nullptr; // belongs to the primary surface's flip chain; never released alone
bool displayModeSet = false;
// One description, filled for CreateSurface and then by every Lock with the pitch and address of the pixels.
DDSURFACEDESC2 surfaceDescription;

bool Failed(const char* step, HRESULT result) {
    if (SUCCEEDED(result)) {
        return false;
    }
    ReportPlatformFailure("display: %s failed (HRESULT 0x%08lX)", step, static_cast<unsigned long>(result));
    return true;
}

} // namespace

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
    if (!ok) {
        // Give back what was taken, so that a failed start leaves the desktop as it was.
        ShutdownDisplay();
    }
    return ok;
}

bool InitDisplay() {
    if (mainWindow == nullptr) {
        ReportPlatformFailure("display: no window to show the display in");
        return false;
    }
    return InitDisplaySurface(mainWindow);
}

void ShutdownDisplay() {
    if (directDraw != nullptr && displayModeSet) {
        directDraw->RestoreDisplayMode();
    }
    displayModeSet = false;
    if (primarySurface != nullptr) {
        primarySurface->Release(); // takes the attached back buffer with it
    }
    primarySurface = nullptr;
    backBuffer = nullptr;
    if (directDraw != nullptr) {
        directDraw->Release();
    }
    directDraw = nullptr;
}

void PresentFrame(const uint32_t* pixels) {
    if (backBuffer == nullptr) {
        return;
    }
    HRESULT result;
    do {
        // No DDLOCK_WAIT: a busy blitter is retried here at once.
        result = backBuffer->Lock(nullptr, &surfaceDescription, 0, nullptr);
    } while (result == DDERR_WASSTILLDRAWING);
    if (FAILED(result)) {
        // Most likely the surfaces were lost to a mode or focus change: never copy through a failed lock, give the
        // surfaces their memory back and let the next frame draw into them.
        if (result == DDERR_SURFACELOST) {
            primarySurface->Restore();
        }
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

long FlipFrame() {
    if (primarySurface == nullptr) {
        return DDERR_NOTINITIALIZED;
    }
    return primarySurface->Flip(nullptr, DDFLIP_WAIT);
}
