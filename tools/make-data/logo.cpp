// The closing logo: the word QUIMBLES in bevelled chrome over a neon horizon.
#include "font.h"
#include "pictures.h"

namespace makedata {
namespace {

// Box blur of a mask into doubles 0..1, radius r, run twice for a softer, rounder profile.
std::vector<double> Blur(const std::vector<double>& in, int w, int h, int r) {
    std::vector<double> a = in, b(in.size());
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double s = 0;
                for (int k = -r; k <= r; ++k)
                    s += a[size_t(y) * w + std::clamp(x + k, 0, w - 1)];
                b[size_t(y) * w + x] = s / (2 * r + 1);
            }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double s = 0;
                for (int k = -r; k <= r; ++k)
                    s += b[size_t(std::clamp(y + k, 0, h - 1)) * w + x];
                a[size_t(y) * w + x] = s / (2 * r + 1);
            }
    }
    return a;
}

} // namespace

Canvas DrawLogo() {
    Canvas c(640, 480);
    const double horizon = 300;
    // Night sky with a violet glow rising from the horizon, stars above.
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double t = y / horizon;
            Rgb sky = MixRgb(Hex(0x05020F), Hex(0x3A0C5C), Smooth(0.3, 1.0, t));
            sky = MixRgb(sky, Hex(0xFF3D9A), Smooth(0.85, 1.0, t) * 0.8);
            c.At(x, y) = sky;
        }
    for (int i = 0; i < 700; ++i) {
        double sx = Rand2(i, 0, 123) * 640, sy = Rand2(i, 1, 123) * 260;
        double b = Rand2(i, 2, 123) * Rand2(i, 3, 123);
        Disc(c, sx, sy, 0.5 + b * 1.2, Hex(0xF0E8FF), 0.3 + 0.7 * b, 1.0);
    }
    // Perspective floor grid running to the horizon.
    for (int y = int(horizon); y < 480; ++y) {
        double z = 40.0 / (y - horizon + 1.0);
        for (int x = 0; x < 640; ++x) {
            double wx = (x - 320) * z * 0.08;
            double gz = Fract(z * 1.2), gx = Fract(wx);
            double lineZ = Smooth(0.06 * (1 + z), 0.0, std::min(gz, 1 - gz));
            double lineX = Smooth(0.04 * (1 + z), 0.0, std::min(gx, 1 - gx));
            double fade = Smooth(0.0, 110.0, y - horizon);
            Rgb floor = MixRgb(Hex(0x14042A), Hex(0x050108), Smooth(300, 480, y));
            c.At(x, y) = floor + Hex(0x27E6FF) * (std::max(lineZ * fade, lineX) * (0.25 + 0.75 * fade));
        }
    }
    for (int x = 0; x < 640; ++x)
        c.Add(x, int(horizon), Hex(0xFF9AD8) * 0.8);

    // The word, rendered large, as a coverage mask.
    const std::string word = "QUIMBLES";
    const std::string font = "DejaVuSans-Bold.ttf";
    int size = 140;
    while (TextWidth(font, size, word) > 590)
        --size;
    Mask m{640, 480, std::vector<uint8_t>(640 * 480, 0)};
    int tw = TextWidth(font, size, word);
    const int baseline = 250;
    DrawText(m, font, size, word, (640 - tw) / 2, baseline);
    std::vector<double> cover(640 * 480);
    for (size_t i = 0; i < cover.size(); ++i)
        cover[i] = m.cover[i] / 255.0;
    std::vector<double> soft = Blur(cover, 640, 480, 3);
    std::vector<double> wide = Blur(cover, 640, 480, 14);

    // Neon glow behind the letters, then a deep extruded shadow stepping down-right.
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            c.Add(x, y, Hex(0xFF2FA0) * (wide[size_t(y) * 640 + x] * 0.9));
    for (int d = 14; d >= 1; --d)
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                double a = m.At(x - d, y - d) / 255.0;
                if (a > 0)
                    c.Blend(x, y, MixRgb(Hex(0x1A0630), Hex(0x6A1E8C), 1 - d / 14.0), a);
            }
    // Chrome face: a sky-to-ground gradient with a hard horizon line, bent by the bevel's normal.
    const int top = baseline - int(size * 0.73), bottom = baseline;
    for (int y = 1; y < 479; ++y)
        for (int x = 1; x < 639; ++x) {
            double a = cover[size_t(y) * 640 + x];
            if (a <= 0)
                continue;
            double gx = soft[size_t(y) * 640 + x + 1] - soft[size_t(y) * 640 + x - 1];
            double gy = soft[size_t(y + 1) * 640 + x] - soft[size_t(y - 1) * 640 + x];
            double v = Clamp01((y - top) / double(bottom - top) + gy * 1.6);
            Rgb chrome;
            if (v < 0.52)
                chrome = MixRgb(Hex(0x1E3A8A), Hex(0xE8F6FF), Smooth(0.0, 0.52, v));
            else
                chrome = MixRgb(Hex(0x3A1A08), Hex(0xFFC46A), Smooth(0.52, 1.0, v));
            double light = Clamp01(0.75 - (gx + gy) * 4.0);
            chrome = chrome * (0.55 + 0.6 * light);
            double glint = Smooth(0.6, 1.0, Clamp01(-(gx + gy) * 6.0));
            chrome = chrome + Rgb{1, 1, 1} * (glint * 0.7);
            c.Blend(x, y, chrome, a);
        }
    // A thin bright rim where the face meets the bevel, and a few star glints on the metal.
    for (int y = 1; y < 479; ++y)
        for (int x = 1; x < 639; ++x) {
            double a = cover[size_t(y) * 640 + x];
            double edge = a * (1 - Clamp01(soft[size_t(y) * 640 + x] * 1.6 - 0.2));
            if (edge > 0)
                c.Blend(x, y, Hex(0xFFF4FF), edge * 0.6);
        }
    const double glints[3][2] = {{0.18, 0.22}, {0.55, 0.18}, {0.86, 0.3}};
    for (const auto& g : glints) {
        double gx = (640 - tw) / 2 + g[0] * tw, gy = top + g[1] * (bottom - top);
        Glow(c, gx, gy, 22, Hex(0xFFFFFF), 0.9);
        Line(c, gx - 26, gy, gx + 26, gy, 1.5, Hex(0xFFFFFF), 0.8);
        Line(c, gx, gy - 18, gx, gy + 18, 1.5, Hex(0xFFFFFF), 0.8);
    }
    // Reflection of the word on the floor, faded and rippled.
    for (int y = int(horizon) + 2; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double ry = baseline + (y - horizon) * 1.6 - 4 * Sin(y * 0.35);
            int sy = int(2 * baseline - ry) + 8;
            double a = m.At(x, sy) / 255.0 * 0.28 * (1 - Smooth(horizon, 470, y));
            if (a > 0)
                c.Blend(x, y, Hex(0xFF7AD0), a);
        }
    // The line beneath: a small strapline in the plain face.
    Mask s{640, 480, std::vector<uint8_t>(640 * 480, 0)};
    const std::string strap = "a demo in ten files";
    int sw = TextWidth("DejaVuSans.ttf", 22, strap);
    DrawText(s, "DejaVuSans.ttf", 22, strap, (640 - sw) / 2, baseline + 52);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            if (int a = s.At(x, y))
                c.Blend(x, y, Hex(0xBFF6FF), a / 255.0);
    return c;
}

} // namespace makedata
