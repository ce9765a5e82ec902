#pragma once
#include <cstdint>

// Time and threads. One implementation per platform (system_win32.cpp, system_sdl.cpp, system_virtual.cpp);
// on the virtual platform time only moves when every thread of the show waits.

void SleepMs(uint32_t milliseconds);
uint64_t ReadPerformanceCounter();
uint64_t ReadPerformanceFrequency();
