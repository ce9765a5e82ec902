// The browser display: the page's own thread draws the 640x480 frame into its canvas at an animation frame
// (display_web.js), while the show runs on a worker thread. FlipFrame hands the back buffer over and waits until
// the page has drawn it, so flips are paced by requestAnimationFrame. The canvas keeps its 640x480 pixels; the page
// scales it to the window with its aspect kept.

#include "app/display.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <emscripten/emscripten.h>
#include <emscripten/threading.h>

int32_t ScreenWidth = 640;
int32_t ScreenHeight = 480;

namespace {

// The frame as the canvas takes it: the bytes R, G, B, 255 for every pixel.
uint32_t backBuffer[640 * 480];
// Shared with the page's drawing loop: the number of the last flip asked for, and of the last one drawn. Only the
// show writes `posted`, only the page writes `drawn` (and wakes the show through it).
std::atomic<uint32_t> posted{0};
std::atomic<uint32_t> drawn{0};
bool displayOpen = false;

} // namespace

bool InitDisplay() {
    ScreenWidth = 640;
    ScreenHeight = 480;
    memset(backBuffer, 0, sizeof backBuffer);
    posted.store(0);
    drawn.store(0);
    static_assert(sizeof(std::atomic<uint32_t>) == 4, "the page reads the counters as 32-bit words");
    const int result =
        MAIN_THREAD_EM_ASM_INT({ return Module["quimblesDisplay"].open($0, $1, $2); }, backBuffer, &posted, &drawn);
    if (result != 0) {
        fprintf(stderr, "quimbles: display set-up failed: %s\n",
                result == 1 ? "the page has no canvas" : "the canvas gives no 2D drawing context");
        return false;
    }
    displayOpen = true;
    return true;
}

void ShutdownDisplay() {
    if (!displayOpen)
        return;
    MAIN_THREAD_EM_ASM({ Module["quimblesDisplay"].close(); });
    displayOpen = false;
}

void PresentFrame(const uint32_t* pixels) {
    // The page reads the back buffer only between a flip and its drawing, and FlipFrame returns after both. The
    // bytes are put in the canvas's order here, on the show's thread, so that the page only copies them.
    const size_t count = size_t(ScreenWidth) * size_t(ScreenHeight);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = pixels[i];
        backBuffer[i] = 0xff000000u | ((v & 0xffu) << 16) | (v & 0xff00u) | ((v >> 16) & 0xffu);
    }
}

long FlipFrame() {
    if (!displayOpen)
        return -1;
    const uint32_t ticket = posted.load(std::memory_order_relaxed) + 1;
    posted.store(ticket, std::memory_order_release);
    for (;;) {
        const uint32_t seen = drawn.load(std::memory_order_acquire);
        if (seen == ticket)
            break;
        // A hidden page draws nothing; the show waits for it, as a display without refreshes would hold a flip.
        emscripten_futex_wait(&drawn, seen, 100.0);
    }
    return 0;
}
