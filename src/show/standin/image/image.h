#pragma once
#include <cstdint>

// Stand-in for the decoded picture record until the image decoders are merged into this branch.
struct Image {
    uint8_t* pixels;
    int32_t width;
    int32_t height;
    int32_t hasAlpha;
    int32_t isGrey;
};
