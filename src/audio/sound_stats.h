#pragma once
#include <cstdint>

// Counters of the Linux and virtual sound devices for soak runs and tests.

// Frames the play cursor has passed since the program started.
uint64_t CountFramesPlayed();
// Times the device asked for audio (SDL's callback; the virtual device counts 1 per advance of its clock).
uint64_t CountDeviceCallbacks();
