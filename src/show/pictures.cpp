// The picture slots: the scene's picture and the strip of text lines, checked for what the effects read.
#include "show/effects.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "app/files.h"
#include "image/png.h"

static char showError[256] = "";

const char* ShowError() {
    return showError;
}

void SetShowError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(showError, sizeof showError, format, args);
    va_end(args);
}

Image Picture = {};
Image TextStrip = {};

static void FreeImage(Image* image) {
    std::free(image->pixels);
    *image = Image{};
}

static bool LoadImageSlot(Image* slot, const char* path, int32_t size) {
    FreeImage(slot);
    if (!WaitForFileSize(path, size)) {
        SetShowError("%s", FileWaitError());
        return false;
    }
    Image image = {};
    if (!LoadPng(path, &image, 0)) {
        SetShowError("%s", PngError()); // names the file
        return false;
    }
    if (!image.pixels || image.isGrey) {
        SetShowError("%s: not four bytes per pixel", path);
        FreeImage(&image);
        return false;
    }
    *slot = image;
    return true;
}

bool LoadPicture(const char* path, int32_t size) {
    if (!LoadImageSlot(&Picture, path, size)) {
        return false;
    }
    // FadePicture reads exactly 640 x 480 pixels; anything else would be read past or shown wrongly.
    if (Picture.width != 640 || Picture.height != 480) {
        SetShowError("%s: %dx%d pixels, the show needs 640x480", path, int(Picture.width), int(Picture.height));
        FreeImage(&Picture);
        return false;
    }
    return true;
}

bool LoadTextStrip(const char* path, int32_t size) {
    if (!LoadImageSlot(&TextStrip, path, size)) {
        return false;
    }
    // The script draws four 380 x 72 lines stacked from the top-left corner.
    if (TextStrip.width < 380 || TextStrip.height < 288) {
        SetShowError("%s: %dx%d pixels, smaller than the four 380x72 lines of text", path, int(TextStrip.width),
                     int(TextStrip.height));
        FreeImage(&TextStrip);
        return false;
    }
    return true;
}

void FreePicture() {
    FreeImage(&Picture);
}

void FreeTextStrip() {
    FreeImage(&TextStrip);
}
