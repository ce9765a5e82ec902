#pragma once

// Raises the calling thread as far as the process may. Linux (thread_priority_sdl.cpp): round-robin real-time
// scheduling where allowed (the threads that use it sleep most of the time, so they cannot starve the machine),
// else the top of the ordinary class (nice -20 and down), else nothing. Browsers have no thread priorities
// (thread_priority_web.cpp).
void RaiseThreadPriority();
