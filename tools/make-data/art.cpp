#include "art.h"

namespace makedata {

void Disc(Canvas& c, double cx, double cy, double radius, Rgb colour, double alpha, double soft) {
    int x0 = std::max(0, int(cx - radius - 2)), x1 = std::min(c.width - 1, int(cx + radius + 2));
    int y0 = std::max(0, int(cy - radius - 2)), y1 = std::min(c.height - 1, int(cy + radius + 2));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            double d = Sqrt(dx * dx + dy * dy);
            double cover = Clamp01((radius - d) / soft + 0.5);
            if (cover > 0)
                c.Blend(x, y, colour, alpha * cover);
        }
}

void Glow(Canvas& c, double cx, double cy, double radius, Rgb colour, double intensity) {
    int x0 = std::max(0, int(cx - radius)), x1 = std::min(c.width - 1, int(cx + radius));
    int y0 = std::max(0, int(cy - radius)), y1 = std::min(c.height - 1, int(cy + radius));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            double d = Sqrt(dx * dx + dy * dy) / radius;
            if (d < 1) {
                double k = (1 - d) * (1 - d) * intensity;
                c.Add(x, y, colour * k);
            }
        }
}

void Line(Canvas& c, double x0, double y0, double x1, double y1, double width, Rgb colour, double alpha) {
    double half = width / 2;
    int bx0 = std::max(0, int(std::min(x0, x1) - half - 2)),
        bx1 = std::min(c.width - 1, int(std::max(x0, x1) + half + 2));
    int by0 = std::max(0, int(std::min(y0, y1) - half - 2)),
        by1 = std::min(c.height - 1, int(std::max(y0, y1) + half + 2));
    double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
    for (int y = by0; y <= by1; ++y)
        for (int x = bx0; x <= bx1; ++x) {
            double px = x + 0.5 - x0, py = y + 0.5 - y0;
            double t = len2 > 0 ? Clamp01((px * dx + py * dy) / len2) : 0;
            double ex = px - t * dx, ey = py - t * dy;
            double d = Sqrt(ex * ex + ey * ey);
            double cover = Clamp01(half - d + 0.5);
            if (cover > 0)
                c.Blend(x, y, colour, alpha * cover);
        }
}

std::vector<uint8_t> ToRgb8(const Canvas& c, double grain) {
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    std::vector<uint8_t> out(size_t(c.width) * c.height * 3);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const Rgb& p = c.At(x, y);
            double d = (bayer[y & 3][x & 3] + 0.5) / 16.0 - 0.5;
            double ch[3] = {p.r, p.g, p.b};
            for (int k = 0; k < 3; ++k) {
                double v = Clamp01(ch[k]) * 255.0 + d * grain + 0.5;
                out[(size_t(y) * c.width + x) * 3 + k] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : int(v));
            }
        }
    return out;
}

} // namespace makedata
