#pragma once
#include <cstdint>

// Inside the virtual platform: the clock and the baton that lets one thread of the show run at a time.

constexpr uint64_t VirtualSecond = 1000000000; // the clock counts nanoseconds

uint64_t VirtualNow();
// Hands the baton on and returns once the clock has reached `time` and this thread holds the baton again.
void VirtualWaitUntil(uint64_t time);
// Index of the calling thread among the show's threads (0 is the main thread).
int VirtualThreadIndex();
constexpr int VirtualThreadSlots = 3;

// Called with the baton held each time the clock moves from `from` to `to` (from < to): the display shows the
// refreshes in between and the sound device plays the frames in between.
void AdvanceVirtualDisplay(uint64_t from, uint64_t to);
void AdvanceVirtualSound(uint64_t from, uint64_t to);
void ResetVirtualDisplay();
// Time of the first refresh not yet shown.
uint64_t NextVirtualRefreshTime();
void ResetVirtualSound();

// Audio frames completed by `time`.
inline uint64_t VirtualFrameAt(uint64_t time) {
    return time * 44100 / VirtualSecond;
}
// The first time at which `frames` frames are completed.
inline uint64_t VirtualTimeOfFrame(uint64_t frames) {
    return (frames * VirtualSecond + 44099) / 44100;
}
