#pragma once
#include <cstdint>
#include <functional>
#include <vector>

// A platform for the tests: counts what the show asks of the display and the clock.
namespace fake {
extern std::vector<uint32_t> sleeps;                   // every SleepMs, in order
extern std::function<void(uint32_t)> onSleep;          // called by SleepMs (may move the clock)
extern std::function<void(const uint32_t*)> onPresent; // called by PresentFrame with the frame's words
extern uint64_t counter;                               // ReadPerformanceCounter's value
extern uint64_t frequency;
extern int flips;
extern std::vector<int> timelines; // the flip count at each StartFlipTimeline
extern int exitSignal;             // ExitSignal's value
void Reset();
} // namespace fake
