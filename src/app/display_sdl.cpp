// The Linux display: a window over the whole desktop showing the 640x480 frame scaled with its aspect kept,
// through a streaming texture, presented with vsync where there is one. Flips keep the show's timeline of 60 a
// second (pacing.h) on displays of any refresh rate: an early flip waits for its time, a late one is left out, and
// nothing is presented while the window is hidden or minimised.

#include "app/display.h"
#include "app/pacing.h"
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
FlipPacing pacing{};

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
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    SDL_RenderPresent(renderer);
    pacing = FlipPacing{};
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

void StartFlipTimeline() {
    pacing.started = false;
}

long FlipFrame() {
    long result = -1;
    const uint32_t flags = window ? SDL_GetWindowFlags(window) : 0;
    const bool visible = window && !(flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED));
    const FlipPlan plan = PlanFlip(&pacing, ReadPerformanceCounter(), visible, true);
    const uint64_t now = ReadPerformanceCounter();
    if (plan.showAt > now) {
        SleepMs(uint32_t((plan.showAt - now + 999999) / 1000000));
    }
    if (renderer) {
        if (plan.show) {
            SDL_RenderClear(renderer); // the bars beside a scaled frame stay black
            result = SDL_RenderCopy(renderer, texture, nullptr, nullptr);
            SDL_RenderPresent(renderer);
        }
        // The window's events are drained and dropped: the show takes no input, but the window must stay alive.
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    return result;
}
