// Temporary: reads a PNG through libpng into R, G, B, A bytes so that the show can be built and tested
// before our own decoder reaches this branch. Removed when the image branch is merged.
#include "image/png.h"

#include <png.h>
#include <cstdlib>
#include <cstring>

static const char* lastError = "";

const char* PngError() {
    return lastError;
}

bool LoadPng(const char* path, Image* image, int) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path)) {
        lastError = "cannot read the PNG file";
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    size_t size = PNG_IMAGE_SIZE(png);
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(size));
    if (!pixels || !png_image_finish_read(&png, nullptr, pixels, 0, nullptr)) {
        std::free(pixels);
        png_image_free(&png);
        lastError = "cannot decode the PNG file";
        return false;
    }
    image->pixels = pixels;
    image->width = static_cast<int32_t>(png.width);
    image->height = static_cast<int32_t>(png.height);
    image->hasAlpha = 1;
    image->isGrey = 0;
    return true;
}
