#pragma once
#include <cstdint>

// The display: a 640x480 surface of 0x00RRGGBB words that frames are copied into and flipped to the screen.
// One implementation per platform (display_win32.cpp, display_sdl.cpp, display_virtual.cpp).

extern int32_t ScreenWidth;
extern int32_t ScreenHeight;

// Copies ScreenWidth x ScreenHeight words, rows in order, into the back buffer.
void PresentFrame(const uint32_t* pixels);

// Makes the back buffer visible, waiting for the display's refresh. The result is informational only.
long FlipFrame();
