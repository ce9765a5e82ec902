// The browser display: the page's own thread draws the 640x480 frame into its canvas at an animation frame
// (display_web.js), while the show runs on a worker thread. Flips keep the show's timeline of 60 a second
// (pacing.h), whatever the rate of animation frames: a flip waits for its time, hands its frame over and waits for
// the page to draw it, but never past its time: a frame the page has not drawn by then is drawn over by the next,
// and a hidden page, which draws nothing, holds nothing up. The canvas keeps its 640x480 pixels; the page scales
// it to the window with its aspect kept.

#include "app/display.h"
#include "app/pacing.h"
#include "app/system.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <emscripten/emscripten.h>
#include <emscripten/threading.h>

int32_t ScreenWidth = 640;
int32_t ScreenHeight = 480;

namespace {

constexpr int32_t RecordedFlips = 8192; // flip times kept for the page's checks; the show has about 3800

// Two frames in the canvas's order (R, G, B, 255 for every pixel), shared with the page: the show writes one while
// the page may draw the other. Each has a lock word: 0 free, 1 the show writes it, 2 the page reads it.
uint32_t frames[2][640 * 480];
std::atomic<int32_t> locks[2];
// Shared with the page's drawing loop: the last flip handed over, as flip x 2 + the frame that holds it (0 before
// the first), and the last flip drawn. Only the show writes `posted`, only the page `drawn` (and wakes the show).
std::atomic<uint32_t> posted{0};
std::atomic<uint32_t> drawn{0};
// When each flip was handed over (milliseconds of the page's clock; 0 for a flip left out), for the checks.
double flipTimes[RecordedFlips];
bool displayOpen = false;
FlipPacing pacing{};
uint32_t flips = 0;     // flips asked for since the display was opened
int32_t writing = 0;    // the frame PresentFrame fills, the one not handed over last
bool presented = false; // a frame waits in frames[writing] for its flip

uint64_t Now() {
    return CounterNanoseconds(ReadPerformanceCounter(), ReadPerformanceFrequency());
}

void Lock(int32_t frame) {
    int32_t free = 0;
    while (!locks[frame].compare_exchange_strong(free, 1)) {
        // The page copies a frame in a millisecond or so.
        emscripten_futex_wait(&locks[frame], free, 1.0);
        free = 0;
    }
}

void Unlock(int32_t frame) {
    locks[frame].store(0);
    emscripten_futex_wake(&locks[frame], 1);
}

} // namespace

bool InitDisplay() {
    ScreenWidth = 640;
    ScreenHeight = 480;
    memset(frames, 0, sizeof frames);
    memset(flipTimes, 0, sizeof flipTimes);
    locks[0].store(0);
    locks[1].store(0);
    posted.store(0);
    drawn.store(0);
    pacing = FlipPacing{};
    flips = 0;
    writing = 0;
    presented = false;
    static_assert(sizeof(std::atomic<uint32_t>) == 4, "the page reads the counters as 32-bit words");
    const int result = MAIN_THREAD_EM_ASM_INT({ return Module["quimblesDisplay"].open($0, $1, $2, $3, $4, $5); },
                                              frames, locks, &posted, &drawn, flipTimes, RecordedFlips);
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
    // The bytes are put in the canvas's order here, on the show's thread, so that the page only copies them.
    const size_t count = size_t(ScreenWidth) * size_t(ScreenHeight);
    uint32_t* out = frames[writing];
    Lock(writing);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = pixels[i];
        out[i] = 0xff000000u | ((v & 0xffu) << 16) | (v & 0xff00u) | ((v >> 16) & 0xffu);
    }
    Unlock(writing);
    presented = true;
}

void StartFlipTimeline() {
    pacing.started = false;
}

long FlipFrame() {
    if (!displayOpen)
        return -1;
    const uint32_t flip = ++flips;
    const FlipPlan plan = PlanFlip(&pacing, Now(), true, true);
    uint64_t now = Now();
    if (plan.showAt > now)
        SleepMs(uint32_t((plan.showAt - now + 999999) / 1000000));
    if (plan.show && presented) {
        posted.store(flip * 2 + uint32_t(writing), std::memory_order_release);
        if (flip <= RecordedFlips)
            flipTimes[flip - 1] = emscripten_get_now();
        writing ^= 1;
        presented = false;
        // Until the page has drawn it, or the flip's time is up.
        const uint64_t deadline = plan.showAt + PacingSecond / PacingFlipsPerSecond;
        for (uint32_t seen = drawn.load(std::memory_order_acquire); seen != flip;
             seen = drawn.load(std::memory_order_acquire)) {
            now = Now();
            if (now >= deadline)
                break;
            emscripten_futex_wait(&drawn, seen, double(deadline - now) / 1e6);
        }
    }
    return 0;
}
