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

// The flips from the next one on are a run that keeps 60 flips a second of wall time, the first shown at once
// (pacing.h); the script starts one at each scene, after its loading, and at each movie frame, which the movie's
// own clock paces. The virtual display's flips are its refreshes and take no notice.
void StartFlipTimeline();

// Takes the display over (640x480, 32 bits per pixel) and sets ScreenWidth and ScreenHeight. Returns false with a
// one-line reason on stderr naming the step that failed; whatever was already set up has been given back then.
bool InitDisplay();
// Gives the display back; nothing when it is not set up.
void ShutdownDisplay();
