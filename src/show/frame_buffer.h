#pragma once
#include <cstdint>

// The frame buffer: every frame of the show is composed here, then presented to the display.

// The frame's size in pixels, which is the display's (ScreenWidth x ScreenHeight once the display is set up).
constexpr int32_t FrameWidth = 640;
constexpr int32_t FrameHeight = 480;

// FrameWidth x FrameHeight words of 0x00RRGGBB, rows one after another; null outside the show. Main thread only.
extern uint32_t* FrameBuffer;

bool AllocFrameBuffer();
void FreeFrameBuffer();
// All black; nothing when there is no frame buffer.
void ClearFrame();
