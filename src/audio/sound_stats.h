#pragma once
#include <cstdint>

// Counters of the Linux and virtual sound devices for soak runs and tests.

// Frames the play cursor has passed since the program started.
uint64_t CountFramesPlayed();
