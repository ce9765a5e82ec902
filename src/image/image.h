// The decoded-picture record shared by the PNG reader, the effects and the movie frames.
#pragma once

#include <cstdint>

// Rows top to bottom without padding; 4 bytes per pixel (R, G, B, A), or one grey byte per pixel when isGrey is 1.
// Whoever holds the record frees pixels with free().
struct Image {
    uint8_t* pixels;
    int32_t width;
    int32_t height;
    int32_t hasAlpha;
    int32_t isGrey;
};
