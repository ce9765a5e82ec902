#pragma once
#include <cstdint>

// Time and threads. One implementation per platform (system_win32.cpp, system_sdl.cpp, system_virtual.cpp);
// on the virtual platform time only moves when every thread of the show waits.

// SleepMs(0) on an audio thread gives the processor to any other thread ready to run, whatever its priority, and
// returns as soon as this thread is scheduled again.
void SleepMs(uint32_t milliseconds);
uint64_t ReadPerformanceCounter();
uint64_t ReadPerformanceFrequency();

// The two audio threads of the music output. Both run at the highest priority the platform grants (where the
// platform refuses a raised priority the thread still runs, at normal priority).
//
// Starts `feeder`, then `mixer`, each on its own thread. Returns false with a one-line reason on stderr when a
// thread cannot be created; no audio thread is left running then.
bool StartAudioThreads(void (*feeder)(), void (*mixer)());

// Waits up to `milliseconds` for both audio threads to return, then lets go of them. A thread still running after
// the bound is terminated where the platform can do that and otherwise left detached; the result is true only when
// both threads returned by themselves. Calling it with no threads started returns true at once.
bool JoinAudioThreads(uint32_t milliseconds);
