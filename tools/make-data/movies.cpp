// The three movies, drawn at 320 × 240. Every animation is periodic over its frame count, because the show
// plays each movie twice in a row. Rows near the top and bottom are cut off on screen, so the action stays in
// the middle band.
#include "art.h"
#include "data_set.h"
#include "movie_writer.h"

#include <cstdio>
#include <cstdlib>

namespace makedata {
namespace {

constexpr int kW = 320, kH = 240;

// A flight down a neon tunnel: polar texture coordinates, scrolled one texture period per loop.
Canvas TunnelFrame(int frame, int count) {
    Canvas c(kW, kH);
    const double phase = double(frame) / count;
    // The tunnel's centre wanders on a closed curve, so the end of the loop meets its start.
    const double cx = kW / 2 + 28 * Sin(2 * kPi * phase), cy = kH / 2 + 16 * Sin(4 * kPi * phase);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            double d = Sqrt(dx * dx + dy * dy) + 1e-6;
            double a = Atan2(dy, dx) / (2 * kPi) + 0.5; // 0..1 around
            double v = 48.0 / d + phase * 2;            // two rings of tiles pass per loop
            double u = a * 8 + phase;                   // a slow eighth of a turn per loop
            double fu = Fract(u), fv = Fract(v * 2);
            // Tiles with glowing seams whose colour runs around the tunnel.
            double seam = std::max(Smooth(0.12, 0.0, std::min(fu, 1 - fu)), Smooth(0.14, 0.0, std::min(fv, 1 - fv)));
            bool odd = (int(Floor(u)) + int(Floor(v * 2))) & 1;
            // Tiles: a lit panel with a glowing stud in its middle, every other one darker.
            double cu = fu - 0.5, cv = fv - 0.5;
            double stud = Smooth(0.2, 0.05, Sqrt(cu * cu + cv * cv));
            Rgb tile = odd ? Hex(0x2A1660) : Hex(0x12386A);
            tile = tile * (0.7 + 0.6 * (1 - std::abs(cv) * 2));
            Rgb neon = MixRgb(Hex(0x2DE2FF), Hex(0xFF3DCB), 0.5 + 0.5 * Sin(2 * kPi * (a * 2 + phase)));
            Rgb col = MixRgb(tile, neon, seam);
            col = col + Hex(0xFFD27A) * (stud * (odd ? 0.9 : 0.4));
            // Depth fog: far away is dark, with a bright core at the vanishing point.
            double fog = Clamp01(d / 150.0);
            col = col * (0.15 + 0.85 * fog);
            col = col + Hex(0xFFE6FF) * (Smooth(24, 0, d) * 0.9);
            c.At(x, y) = col;
        }
    return c;
}

// Shared cartoon body of rocu: an orange ball with eyes, squashed by `squash` (1 is round).
void DrawRocu(Canvas& c, double x, double y, double r, double squash, double look, bool happyEyes, double mouth) {
    const double rx = r * squash, ry = r / squash;
    for (int py = int(y - ry - 3); py < y + ry + 3; ++py)
        for (int px = int(x - rx - 3); px < x + rx + 3; ++px) {
            double dx = (px + 0.5 - x) / rx, dy = (py + 0.5 - y) / ry;
            double d = Sqrt(dx * dx + dy * dy);
            double cover = Clamp01((1 - d) * std::min(rx, ry) + 0.5);
            if (cover <= 0)
                continue;
            double light = Clamp01(0.6 - 0.5 * dx - 0.6 * dy + 0.2 * Sqrt(Clamp01(1 - d * d)));
            Rgb col = MixRgb(Hex(0xB8360F), Hex(0xFF9A2E), light);
            col = MixRgb(col, Hex(0xFFF1C2), Smooth(0.85, 1.05, light) * 0.7);
            c.Blend(px, py, col, cover);
        }
    const double ey = y - ry * 0.25;
    for (int e = -1; e <= 1; e += 2) {
        double ex = x + e * rx * 0.33 + look * rx * 0.12;
        if (happyEyes) {
            // Closed, smiling eyes: two short arcs.
            for (int k = 0; k < 6; ++k) {
                double t0 = kPi * (0.15 + 0.7 * k / 6), t1 = kPi * (0.15 + 0.7 * (k + 1) / 6);
                Line(c, ex - Cos(t0) * r * 0.16, ey - Sin(t0) * r * 0.12, ex - Cos(t1) * r * 0.16,
                     ey - Sin(t1) * r * 0.12, r * 0.06 + 1, Hex(0x2A0A05), 1.0);
            }
        } else {
            Disc(c, ex, ey, r * 0.2, Hex(0xFFFFFF), 1.0, 1.0);
            Disc(c, ex + look * r * 0.07, ey + r * 0.03, r * 0.1, Hex(0x1A0A05), 1.0, 1.0);
            Disc(c, ex + look * r * 0.07 - r * 0.04, ey - r * 0.03, r * 0.035, Hex(0xFFFFFF), 1.0, 0.8);
        }
    }
    if (mouth > 0) {
        // Open mouth: a dark ellipse with a tongue.
        double my = y + ry * 0.32, mw = rx * 0.38, mh = ry * 0.3 * mouth;
        for (int py = int(my - mh - 2); py < my + mh + 2; ++py)
            for (int px = int(x - mw - 2); px < x + mw + 2; ++px) {
                double dx = (px + 0.5 - x) / mw, dy = (py + 0.5 - my) / std::max(mh, 0.5);
                double d = Sqrt(dx * dx + dy * dy);
                double cover = Clamp01((1 - d) * std::min(mw, std::max(mh, 1.0)) + 0.5);
                if (dy < -0.1)
                    continue; // a grin: the top of the ellipse is cut flat
                Rgb col = dy > 0.45 ? Hex(0xE0506A) : Hex(0x3A0808);
                c.Blend(px, py, col, cover * Clamp01((dy + 0.1) * mh + 0.5));
            }
    } else {
        for (int k = 0; k < 8; ++k) {
            double t0 = kPi * (0.2 + 0.6 * k / 8), t1 = kPi * (0.2 + 0.6 * (k + 1) / 8);
            Line(c, x + Cos(t0) * rx * 0.3, y + ry * 0.2 + Sin(t0) * ry * 0.22, x + Cos(t1) * rx * 0.3,
                 y + ry * 0.2 + Sin(t1) * ry * 0.22, r * 0.05 + 1, Hex(0x3A0808), 1.0);
        }
    }
}

// rocu bounces along through rolling hills; the hills scroll by whole periods over the loop.
Canvas RocuFrame(int frame, int count) {
    Canvas c(kW, kH);
    const double phase = double(frame) / count;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            c.At(x, y) = MixRgb(Hex(0x5FB8FF), Hex(0xFFE3B0), Smooth(20, 170, y));
    // Sun and two drifting clouds.
    Disc(c, 250, 58, 22, Hex(0xFFF7D0), 1.0, 1.5);
    Glow(c, 250, 58, 70, Hex(0xFFE890), 0.35);
    for (int k = 0; k < 2; ++k) {
        double cx = Fract(k * 0.5 - phase) * (kW + 120) - 60, cy = 50 + k * 22;
        for (int b = 0; b < 5; ++b)
            Disc(c, cx + (b - 2) * 13,
                 cy - (b == 2  ? 8
                       : b % 2 ? 4
                               : 0),
                 13 - std::abs(b - 2) * 2, Hex(0xFFFFFF), 0.9, 1.5);
    }
    // Three layers of hills; a layer that moves `laps` screen widths per loop repeats every kW / wave pixels.
    const struct {
        double base, amp, laps;
        int wave;
        uint32_t colour;
    } layers[3] = {{150, 18, 0.5, 2, 0x8FC5A0}, {172, 16, 1, 3, 0x4E9F5A}, {196, 10, 2, 5, 0x2F7A38}};
    for (const auto& L : layers) {
        double shift = phase * L.laps * kW;
        for (int x = 0; x < kW; ++x) {
            double u = (x + shift) / kW * 2 * kPi;
            double h = L.base - L.amp * (0.6 * Sin(u * L.wave) + 0.4 * Sin(u * L.wave * 2 + 1.3));
            for (int y = std::max(0, int(h)); y < kH; ++y) {
                Rgb col = Hex(L.colour) * (1 - 0.25 * Smooth(h, h + 50, y));
                c.Blend(x, y, col, Clamp01(y + 1 - h));
            }
            // Flowers on the nearest layer.
            if (L.laps == 2 && (int(x + shift) % 23) == 0)
                Disc(c, x, h + 6, 2.2, (int(x + shift) / 23) % 2 ? Hex(0xFFF07A) : Hex(0xFF7AB0), 1.0, 1.0);
        }
    }
    // Four bounces per loop: height is a parabola per bounce; squash at the bottom, stretch on the way.
    double b = Fract(phase * 4);
    double height = 4 * b * (1 - b);
    double ground = 186, r = 26;
    double squash = height < 0.12 ? 1.25 - height * 2 : 0.92 + 0.08 * height;
    double y = ground - r / squash - height * 80;
    double shadowScale = 1 - height * 0.5;
    for (int py = int(ground - 4); py < ground + 6; ++py)
        for (int px = int(130 - 40); px < 130 + 40; ++px) {
            double dx = (px - 130) / (r * 1.1 * shadowScale), dy = (py - ground - 1) / (5.0 * shadowScale);
            if (dx * dx + dy * dy < 1)
                c.Blend(px, py, Hex(0x1E3A1E), 0.45 * shadowScale);
        }
    DrawRocu(c, 130, y, r, squash, 0.6, false, height > 0.5 ? 0.6 : 0);
    return c;
}

// rocu eats a cherry pie: a close-up, three chomps per loop, crumbs flying out.
Canvas RocuEatsFrame(int frame, int count) {
    Canvas c(kW, kH);
    const double phase = double(frame) / count;
    // Kitchen: a gingham tablecloth under a warm wall.
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            if (y < 150) {
                c.At(x, y) = MixRgb(Hex(0xFFD9A0), Hex(0xE89B6A), Smooth(0, 150, y));
            } else {
                double u = (x - 160) * (1 + (y - 150) / 60.0) / 22 + 100, v = (y - 150) / (5 + (y - 150) * 0.15);
                bool a = int(Floor(u)) & 1, b = int(Floor(v)) & 1;
                c.At(x, y) = a && b ? Hex(0xC8283C) : (a || b) ? Hex(0xE88A94) : Hex(0xFFF4EE);
            }
        }
    // The pie, on the right, with a lattice crust.
    Disc(c, 250, 178, 52, Hex(0xD9D9E0), 1.0, 1.5); // plate
    Disc(c, 250, 172, 40, Hex(0xB8682A), 1.0, 1.5);
    Disc(c, 250, 170, 35, Hex(0x9A1030), 1.0, 1.5);
    for (int k = -2; k <= 2; ++k) {
        Line(c, 250 + k * 12 - 30, 150, 250 + k * 12 + 30, 192, 5, Hex(0xE8A050), 1.0);
        Line(c, 250 + k * 12 + 30, 150, 250 + k * 12 - 30, 192, 5, Hex(0xE8A050), 1.0);
    }
    Disc(c, 250, 172, 44, Hex(0xD88A3A), 0.0, 1.5);
    // Chomp cycle: three per loop, the mouth wide open at the start of each.
    double cyc = Fract(phase * 3);
    double open = cyc < 0.5 ? 1 - cyc * 2 : 0;
    double squash = 1 + 0.06 * Sin(2 * kPi * cyc);
    DrawRocu(c, 120, 120, 62, squash, 0.8, cyc > 0.5, open);
    // Crumbs flung out on each bite, falling on parabolas.
    for (int k = 0; k < 10; ++k) {
        double t = cyc, vx = 30 + Rand2(k, 0, 5) * 60, vy = -40 - Rand2(k, 1, 5) * 50;
        double x = 150 + vx * t, y = 150 + vy * t + 160 * t * t;
        Disc(c, x, y, 1.5 + Rand2(k, 2, 5) * 2, k % 3 ? Hex(0xE8A050) : Hex(0x9A1030), 1 - t, 1.0);
    }
    // Little hearts rising from the happy eater.
    for (int k = 0; k < 3; ++k) {
        double t = Fract(phase + k / 3.0), hx = 70 + k * 40 + 8 * Sin(2 * kPi * t + k), hy = 70 - t * 60;
        double a = Smooth(0, 0.2, t) * (1 - Smooth(0.7, 1, t)), s = 5 + 2 * k;
        Disc(c, hx - s * 0.5, hy, s * 0.6, Hex(0xFF4F7A), a, 1.0);
        Disc(c, hx + s * 0.5, hy, s * 0.6, Hex(0xFF4F7A), a, 1.0);
        for (int r = 0; r < 8; ++r)
            Line(c, hx - s * (1 - r / 8.0), hy + r * s / 8.0, hx + s * (1 - r / 8.0), hy + r * s / 8.0, 1.5,
                 Hex(0xFF4F7A), a);
    }
    return c;
}

} // namespace

std::vector<uint8_t> MakeMovie(const std::string& name, size_t size) {
    std::vector<Canvas> frames;
    if (name == "tabi.movie") {
        for (int i = 0; i < 48; ++i)
            frames.push_back(TunnelFrame(i, 48));
    } else if (name == "rocu.movie") {
        for (int i = 0; i < 48; ++i)
            frames.push_back(RocuFrame(i, 48));
    } else if (name == "rocu_mange.movie") {
        for (int i = 0; i < 24; ++i)
            frames.push_back(RocuEatsFrame(i, 24));
    } else {
        std::fprintf(stderr, "make-data: no movie called %s\n", name.c_str());
        std::exit(1);
    }
    return BuildMovie(frames, size);
}

} // namespace makedata
