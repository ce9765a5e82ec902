// The Linux display: a window over the whole desktop showing the 640x480 frame scaled with its aspect kept,
// through a streaming texture. Flips present with vsync where there is one and otherwise pace themselves to the
// display's refresh rate, so the show runs at the same speed with or without a real vertical blank.

#include "app/display.h"
#include "app/system.h"

#include <SDL.h>
#include <cstdio>

int32_t ScreenWidth = 640;
int32_t ScreenHeight = 480;

namespace {

SDL_Window* window = nullptr;
SDL_Renderer* renderer = nullptr;
SDL_Texture* texture = nullptr;
bool videoStarted = false;
uint64_t refreshPeriod = 1000000000u / 60; // nanoseconds
uint64_t nextFlip = 0;                     // when the next flip may return at the earliest

bool Fail(const char* step) {
    fprintf(stderr, "quimbles: display set-up failed: %s: %s\n", step, SDL_GetError());
    ShutdownDisplay();
    return false;
}

} // namespace

bool InitDisplay() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return Fail("cannot start SDL video");
    videoStarted = true;
    // Without a screen SDL falls back to drivers that draw nowhere; the show needs a real display, unless one of
    // those was asked for by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* wanted = SDL_getenv("SDL_VIDEODRIVER");
    if (driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0) &&
        !(wanted && SDL_strcmp(wanted, driver) == 0)) {
        SDL_SetError("no screen to show on (only the %s video driver could start)", driver);
        return Fail("cannot open the display");
    }
    SDL_DisplayMode desktop{};
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0)
        return Fail("cannot read the desktop mode");
    window = SDL_CreateWindow("QUIMBLES", 0, 0, desktop.w, desktop.h, SDL_WINDOW_FULLSCREEN_DESKTOP);
    if (!window)
        return Fail("cannot create the window");
    renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!renderer)
        renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer)
        return Fail("cannot create a renderer");
    ScreenWidth = 640;
    ScreenHeight = 480;
    if (SDL_RenderSetLogicalSize(renderer, ScreenWidth, ScreenHeight) != 0)
        return Fail("cannot scale to 640x480");
    texture =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, ScreenWidth, ScreenHeight);
    if (!texture)
        return Fail("cannot create the frame texture");
    SDL_ShowCursor(SDL_DISABLE);
    refreshPeriod = 1000000000u / uint64_t(desktop.refresh_rate > 0 ? desktop.refresh_rate : 60);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    SDL_RenderPresent(renderer);
    nextFlip = ReadPerformanceCounter();
    return true;
}

void ShutdownDisplay() {
    if (texture)
        SDL_DestroyTexture(texture);
    if (renderer)
        SDL_DestroyRenderer(renderer);
    if (window) {
        SDL_ShowCursor(SDL_ENABLE);
        SDL_DestroyWindow(window);
    }
    texture = nullptr;
    renderer = nullptr;
    window = nullptr;
    if (videoStarted)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    videoStarted = false;
}

void PresentFrame(const uint32_t* pixels) {
    if (texture)
        SDL_UpdateTexture(texture, nullptr, pixels, ScreenWidth * 4);
}

long FlipFrame() {
    long result = -1;
    if (renderer) {
        SDL_RenderClear(renderer); // the bars beside a scaled frame stay black
        result = SDL_RenderCopy(renderer, texture, nullptr, nullptr);
        SDL_RenderPresent(renderer);
        // The window's events are drained and dropped: the show takes no input, but the window must stay alive.
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    const uint64_t now = ReadPerformanceCounter();
    if (now < nextFlip) {
        SleepMs(uint32_t((nextFlip - now + 999999) / 1000000));
        nextFlip += refreshPeriod;
    } else {
        // Late (or a real vsync held us): count the period from here, never catch up with a burst of flips.
        nextFlip = now + refreshPeriod;
    }
    return result;
}
