#include "fake_platform.h"

#include "app/display.h"
#include "app/exit_signals.h"
#include "app/system.h"

int32_t ScreenWidth = 640;
int32_t ScreenHeight = 480;

namespace fake {
std::vector<uint32_t> sleeps;
std::function<void(uint32_t)> onSleep;
std::function<void(const uint32_t*)> onPresent;
uint64_t counter = 0;
uint64_t frequency = 1000000;
int flips = 0;
std::vector<int> timelines;
int exitSignal = 0;

void Reset() {
    sleeps.clear();
    timelines.clear();
    onSleep = nullptr, onPresent = nullptr;
    counter = 0, frequency = 1000000, flips = 0, exitSignal = 0;
}
} // namespace fake

void PresentFrame(const uint32_t* pixels) {
    if (fake::onPresent)
        fake::onPresent(pixels);
}

long FlipFrame() {
    fake::flips++;
    return 0;
}

void StartFlipTimeline() {
    fake::timelines.push_back(fake::flips);
}

void SleepMs(uint32_t milliseconds) {
    fake::sleeps.push_back(milliseconds);
    if (fake::onSleep)
        fake::onSleep(milliseconds);
}

uint64_t ReadPerformanceCounter() {
    return fake::counter;
}
uint64_t ReadPerformanceFrequency() {
    return fake::frequency;
}
int ExitSignal() {
    return fake::exitSignal;
}
