#pragma once
#include <cstdint>

// What the headless capture and the tests see of the virtual platform. Its clock starts at 0 and moves only when
// every thread of the show waits (a flip, a sleep, a poll of the play cursor that finds no progress); the threads
// run one at a time in a fixed order, so the same run gives the same pictures and the same sound every time.
// Time 0 is the first refresh of the display and the first audio frame a listener hears.

// Refreshes per second of the virtual display (default 60). Set it before the show starts.
void SetVirtualRefreshRate(int32_t perSecond);

// Called at every refresh with the picture the screen shows then (ScreenWidth x ScreenHeight words, 0x00RRGGBB;
// black before the first flip). `refresh` counts from 0.
using VirtualRefreshCallback = void (*)(const uint32_t* pixels, uint64_t refresh, void* context);
void SetVirtualRefreshCallback(VirtualRefreshCallback callback, void* context);

// Called as the clock moves with the audio heard meanwhile: `frames` frames of 16-bit stereo (left first), in
// order and without gaps from frame 0 at time 0; silence before the stream buffer plays.
using VirtualAudioCallback = void (*)(const int16_t* samples, uint32_t frames, void* context);
void SetVirtualAudioCallback(VirtualAudioCallback callback, void* context);

// Brings the clock back to 0 and forgets the display, the sound device and the callbacks. Only while no audio
// thread runs.
void ResetVirtualPlatform();

// Makes the sound device refuse OpenSound (no device), for tests of set-up failures.
void SetVirtualSoundAvailable(bool available);
// Loses the stream buffer: writes report it lost until it is restored.
void LoseVirtualStreamBuffer();
// Makes the next `writes` writes into the stream buffer fail (not lost: a failure that restoring does not cure).
void FailVirtualStreamWrites(int32_t writes);
// Stops the play cursor (a stuck device) or lets it run again.
void FreezeVirtualPlayCursor(bool frozen);

// Called for every write into the stream buffer (before it is made), for tests of the stream's offsets.
using VirtualWriteObserver = void (*)(uint32_t offset, uint32_t bytes, void* context);
void SetVirtualWriteObserver(VirtualWriteObserver observer, void* context);
