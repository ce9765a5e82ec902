#pragma once
#include <cstdint>

#include "image/image.h"
#include "show/frame_buffer.h"

// The picture slots and the compositing effects the script builds its picture scenes from.
// Main thread only.

// The last reason the show refused something (a picture slot here, the script's other steps), one line.
const char* ShowError();
void SetShowError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The picture of the current scene (640 x 480, R G B A bytes) and the strip of text lines.
extern Image Picture;
extern Image TextStrip;

// Loads a picture that must be 640 x 480 with four bytes per pixel; false with a reason otherwise.
bool LoadPicture(const char* path, int32_t size);
// Loads the text strip, which must hold the four 380 x 72 lines stacked from its top-left corner.
bool LoadTextStrip(const char* path, int32_t size);
void FreePicture();
void FreeTextStrip();

// level 0 (black) .. 256 (the picture unchanged).
void FadePicture(int32_t level);
void SetTextRect(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// Blends the current text rectangle with its top-left corner at (x, y), which may lie off the screen;
// intensity 0..256 scales the colour of the text, not its coverage.
void DrawTextStrip(int32_t x, int32_t y, int32_t intensity);

// Which code the pixel loops use: 2 the widest the processor has, 1 at most SSE2, 0 plain C++. The results are
// the same; tests compare them.
extern int EffectsPath;
