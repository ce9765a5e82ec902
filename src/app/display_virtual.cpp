// The virtual display: a front and a back picture and a refresh every 1/rate seconds of virtual time. A flip
// swaps them at the next refresh, and FlipFrame returns at that refresh, as a flip with wait for the vertical
// blank does.

#include "app/display.h"
#include "app/virtual_clock.h"
#include "app/virtual_platform.h"

#include <cstdlib>
#include <cstring>
#include <utility>

int32_t ScreenWidth = 640;
int32_t ScreenHeight = 480;

namespace {

constexpr size_t PictureWords = 640 * 480;

int32_t refreshRate = 60;
uint32_t* front = nullptr;
uint32_t* back = nullptr;
bool flipPending = false;
uint64_t flipTarget = 0;  // refresh that shows the pending flip
uint64_t nextRefresh = 0; // first refresh not yet shown
VirtualRefreshCallback refreshCallback = nullptr;
void* refreshContext = nullptr;

uint64_t RefreshTime(uint64_t k) {
    return (k * VirtualSecond + uint64_t(refreshRate) - 1) / uint64_t(refreshRate);
}

// The pictures exist from the first use on, so that a show without InitDisplay still has a black screen.
void EnsurePictures() {
    if (!front) {
        front = static_cast<uint32_t*>(calloc(PictureWords, 4));
        back = static_cast<uint32_t*>(calloc(PictureWords, 4));
    }
}

} // namespace

void SetVirtualRefreshRate(int32_t perSecond) {
    refreshRate = perSecond > 0 ? perSecond : 60;
}

void SetVirtualRefreshCallback(VirtualRefreshCallback callback, void* context) {
    refreshCallback = callback;
    refreshContext = context;
}

bool InitDisplay() {
    ScreenWidth = 640;
    ScreenHeight = 480;
    EnsurePictures();
    return true;
}

void ShutdownDisplay() {}

void PresentFrame(const uint32_t* pixels) {
    EnsurePictures();
    memcpy(back, pixels, PictureWords * 4);
}

// Every flip waits for the next refresh: the refreshes are the virtual clock's own timeline.
void StartFlipTimeline() {}

long FlipFrame() {
    EnsurePictures();
    // The refresh at the current instant has already been shown; the flip waits for the next one.
    const uint64_t k = VirtualNow() * uint64_t(refreshRate) / VirtualSecond + 1;
    flipPending = true;
    flipTarget = k;
    VirtualWaitUntil(RefreshTime(k));
    return 0;
}

uint64_t NextVirtualRefreshTime() {
    return RefreshTime(nextRefresh);
}

void AdvanceVirtualDisplay(uint64_t, uint64_t to) {
    EnsurePictures();
    while (RefreshTime(nextRefresh) <= to) {
        if (flipPending && nextRefresh >= flipTarget) {
            std::swap(front, back);
            flipPending = false;
        }
        if (refreshCallback)
            refreshCallback(front, nextRefresh, refreshContext);
        ++nextRefresh;
    }
}

void ResetVirtualDisplay() {
    EnsurePictures();
    memset(front, 0, PictureWords * 4);
    memset(back, 0, PictureWords * 4);
    flipPending = false;
    flipTarget = 0;
    nextRefresh = 0;
    refreshRate = 60;
    refreshCallback = nullptr;
    refreshContext = nullptr;
}
