// Text coverage masks rendered with FreeType from the DejaVu fonts that Debian installs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace makedata {

struct Mask {
    int width = 0, height = 0;
    std::vector<uint8_t> cover; // 0..255 per pixel, rows top to bottom
    int At(int x, int y) const {
        return (x < 0 || y < 0 || x >= width || y >= height) ? 0 : cover[size_t(y) * width + x];
    }
};

// Path of a DejaVu font file ("DejaVuSans-Bold.ttf" ...); exits with a message when it is not installed.
std::string FontPath(const std::string& file);

// Width in pixels of text at pixelSize, with kerning.
int TextWidth(const std::string& fontFile, int pixelSize, const std::string& text);

// Renders text (ASCII) into a mask of width × height with the pen starting at (x, baseline).
void DrawText(Mask& mask, const std::string& fontFile, int pixelSize, const std::string& text, int x, int baseline);

} // namespace makedata
