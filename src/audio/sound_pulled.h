#pragma once
#include <cstdint>

// The stream buffer of the devices whose sound card pulls blocks of frames on a thread of its own: SDL's audio
// callback (sound_sdl.cpp) and the browser's pump (sound_web.cpp). This file implements the stream-buffer half of
// sound_device.h for both; the platform files open and close the device and pull from their thread.
//
// The ring is shared between the feeder (writes) and the puller (reads) under a lock; the cursor and the counters
// are published after each pull, so that the feeder's polls and the counters' readers never take the lock. The
// play cursor is where the next pull will start.

// The platform's device is open (true) or closed (false): a stream buffer can be created only while it is open.
void SetPulledDeviceOpen(bool open);

// Fills `out` with the next `frames` frames (2 int16 each) and moves the cursor past them: silence while there is
// no stream buffer or it has not been started, and then the cursor stays where it is.
void PullSoundBlock(int16_t* out, uint32_t frames);
