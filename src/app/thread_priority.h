#pragma once

// Linux: raises the calling thread as far as the process may: round-robin real-time scheduling where allowed
// (the threads that use it sleep most of the time, so they cannot starve the machine), else the top of the
// ordinary class (nice -20 and down), else nothing.
void RaiseThreadPriority();
