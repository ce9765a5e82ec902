#pragma once
#include <cstddef>
#include <cstdint>

// The video's frames: the show's 640x480 picture with every pixel an N x N block and nothing filtered, centred in
// a frame of its own size with black around it, as the encoder takes them: bgr0 words for the lossless path, or
// Y'CbCr planes (BT.709, limited range) in 4:2:0 or 4:4:4 for H.264, converted here at the picture's own size.

constexpr int ShowWidth = 640, ShowHeight = 480; // the show's picture

struct FrameLayout {
    int scale, width, height;
    // Where the picture starts: even, so that at an even scale each of 4:2:0's 2 x 2 chroma samples lies in one
    // block and keeps that pixel's colour exactly.
    int left, top;
};

FrameLayout MakeFrameLayout(int scale, int width, int height);

// `frame` holds width x height words; the borders are the caller's (black once, never written here).
void ScaleWords(const uint32_t* pixels, const FrameLayout& layout, uint32_t* frame);

// The bytes of one frame of planes: Y' at full size, then Cb and Cr at full size (4:4:4) or half each way (4:2:0,
// which needs an even width and height).
size_t PlaneBytes(const FrameLayout& layout, bool chroma444);
// Fills a frame of planes with black.
void BlackPlanes(const FrameLayout& layout, bool chroma444, uint8_t* frame);
// Writes the picture into a frame of planes; in 4:2:0 each chroma sample is the mean of the four pixels it covers.
void ScalePlanes(const uint32_t* pixels, const FrameLayout& layout, bool chroma444, uint8_t* frame);
