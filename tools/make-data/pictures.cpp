#include "pictures.h"

#include <cstdio>
#include <cstdlib>

namespace makedata {

Canvas DrawHairyOne() {
    Canvas c(640, 480);
    // Dusk: violet above, warm rose towards the ground, a faint mottling of haze.
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double t = y / 479.0;
            Rgb sky = MixRgb(Hex(0x1B0B3A), Hex(0xC2537A), Smooth(0.0, 0.85, t));
            sky = MixRgb(sky, Hex(0xF29E6D), Smooth(0.6, 1.0, t) * 0.6);
            c.At(x, y) = sky;
        }
    // Bokeh lights drifting behind.
    for (int i = 0; i < 60; ++i) {
        double bx = Rand2(i, 1, 11) * 640, by = Rand2(i, 2, 11) * 330;
        double r = 6 + Rand2(i, 3, 11) * 22;
        Rgb col = MixRgb(Hex(0xFFD38A), Hex(0xFF7FBF), Rand2(i, 4, 11));
        Disc(c, bx, by, r, col, 0.10 + 0.12 * Rand2(i, 5, 11), 2.5);
    }
    // Ground: a mossy hill in silhouette with grass blades.
    for (int x = 0; x < 640; ++x) {
        double h = 392 + 18 * Sin(x / 97.0) + 12 * Fbm(x / 40.0, 0.5, 4, 21);
        for (int y = int(h); y < 480; ++y) {
            double d = (y - h) / 80.0;
            c.At(x, y) = MixRgb(Hex(0x2A1B3D), Hex(0x0D0716), Clamp01(d)) * (0.9 + 0.2 * Fbm(x / 16.0, y / 16.0, 2, 5));
        }
        if (x % 2 == 0)
            for (int k = 0; k < 2; ++k) {
                double lean = (Rand2(x, k, 33) - 0.5) * 10, len = 6 + Rand2(x, k + 7, 33) * 14;
                Line(c, x, h + 2, x + lean, h - len, 1.2, Hex(0x1E1230), 0.9);
            }
    }
    // The creature: thousands of hairs grown outward from a body, lit from the upper left.
    const double cx = 420, cy = 250, radius = 128;
    Glow(c, cx, cy, radius * 1.9, Hex(0xFF9FD0), 0.25);
    Disc(c, cx, cy, radius * 0.93, Hex(0x3A2A6A), 1.0, 3);
    for (int i = 0; i < 17000; ++i) {
        double a = Rand2(i, 0, 77) * 2 * kPi;
        double rr = Sqrt(Rand2(i, 1, 77)) * radius;
        double bx = cx + Cos(a) * rr, by = cy + Sin(a) * rr * 1.04;
        double nx = (bx - cx) / radius, ny = (by - cy) / radius;
        // Outer hairs point outwards and droop; inner hairs follow a noise flow.
        double flow = (Fbm(bx / 50.0, by / 50.0, 3, 9) - 0.5) * 4;
        double dx = nx * 0.8 + Cos(flow) * 0.5, dy = ny * 0.8 + Sin(flow) * 0.5 + 0.35;
        double dl = Sqrt(dx * dx + dy * dy) + 1e-9;
        double len = 10 + 16 * Rand2(i, 2, 77) + 10 * (rr / radius);
        double light = Clamp01(0.55 - 0.45 * (nx * 0.7 + ny * 0.7) + 0.25 * Sqrt(Clamp01(1 - nx * nx - ny * ny)));
        Rgb fur = MixRgb(Hex(0x3C2F8F), Hex(0x5FD0C8), Rand2(i, 3, 77) * 0.5 + light * 0.5);
        fur = MixRgb(fur, Hex(0xF5E8FF), Smooth(0.75, 1.0, light) * 0.6);
        fur = fur * (0.35 + 0.85 * light);
        Line(c, bx, by, bx + dx / dl * len, by + dy / dl * len, 1.1, fur, 0.55);
    }
    // Eyes, looking slightly up towards the text's future place.
    for (int e = 0; e < 2; ++e) {
        double ex = cx - 42 + e * 84, ey = cy - 18;
        Disc(c, ex, ey + 3, 33, Hex(0x120A20), 0.7, 3);
        Disc(c, ex, ey, 30, Hex(0xFBF7F2), 1.0, 1.5);
        Disc(c, ex - 7, ey - 4, 15, Hex(0x2B1240), 1.0, 1.2);
        Disc(c, ex - 8, ey - 5, 8, Hex(0x050208), 1.0, 1.0);
        Disc(c, ex - 3, ey - 10, 4.5, Hex(0xFFFFFF), 0.95, 1.0);
    }
    // A small mouth and two cheeks.
    Line(c, cx - 14, cy + 38, cx, cy + 46, 3, Hex(0x1A0A22), 0.9);
    Line(c, cx, cy + 46, cx + 14, cy + 38, 3, Hex(0x1A0A22), 0.9);
    Glow(c, cx - 70, cy + 24, 26, Hex(0xFF6F9F), 0.45);
    Glow(c, cx + 70, cy + 24, 26, Hex(0xFF6F9F), 0.45);
    // Fireflies.
    for (int i = 0; i < 40; ++i) {
        double fx = Rand2(i, 8, 99) * 640, fy = 80 + Rand2(i, 9, 99) * 330;
        Glow(c, fx, fy, 10 + 8 * Rand2(i, 10, 99), Hex(0xFFE9A0), 0.8);
        Disc(c, fx, fy, 1.4, Hex(0xFFFFE0), 1.0, 1.0);
    }
    return c;
}

Canvas DrawTwoMoons() {
    Canvas c(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double t = y / 479.0;
            Rgb sky = MixRgb(Hex(0x04121E), Hex(0x1F5B6E), Smooth(0.0, 0.55, t));
            sky = MixRgb(sky, Hex(0xF0A35E), Smooth(0.45, 0.72, t));
            c.At(x, y) = sky;
        }
    // Stars, thinning towards the horizon glow.
    for (int i = 0; i < 900; ++i) {
        double sx = Rand2(i, 0, 5) * 640, sy = Rand2(i, 1, 5) * 300;
        double b = Rand2(i, 2, 5) * (1 - sy / 300);
        Disc(c, sx, sy, 0.6 + b, Hex(0xE8F4FF), b, 1.0);
    }
    // The ringed planet, upper right, with banded weather and a shadowed limb.
    const double px = 470, py = 130, pr = 95;
    auto ring = [&](bool front) {
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                double dx = x + 0.5 - px, dy = y + 0.5 - py;
                // Tilted ellipse: rotate, then squash.
                double u = dx * 0.94 + dy * 0.34, v = (-dx * 0.34 + dy * 0.94) / 0.22;
                double r = Sqrt(u * u + v * v);
                if (r < pr * 1.35 || r > pr * 2.2)
                    continue;
                if ((v > 0) != front)
                    continue;
                double band = 0.5 + 0.5 * Sin(r * 0.55) * Sin(r * 0.13);
                double a = 0.55 * band * Smooth(pr * 1.35, pr * 1.45, r) * (1 - Smooth(pr * 2.05, pr * 2.2, r));
                c.Blend(x, y, MixRgb(Hex(0xE9C99A), Hex(0x8FB7C2), band), a);
            }
    };
    ring(false);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double dx = x + 0.5 - px, dy = y + 0.5 - py;
            double d = Sqrt(dx * dx + dy * dy);
            if (d > pr + 1)
                continue;
            double nz = Sqrt(Clamp01(1 - d * d / (pr * pr)));
            double lat = dy / pr + 0.15 * dx / pr;
            double bands = Fbm(lat * 6, dx / pr * 0.8, 5, 41);
            Rgb surf = MixRgb(Hex(0xD9774A), Hex(0xF6E1B5), bands);
            surf = MixRgb(surf, Hex(0x7A3B2E), Smooth(0.55, 0.8, Fbm(lat * 14, dx / pr * 3, 3, 43)) * 0.6);
            double light = Clamp01(0.15 + 0.95 * (-dx / pr * 0.6 - dy / pr * 0.2 + nz * 0.6));
            c.Blend(x, y, surf * light, Clamp01(pr + 0.5 - d));
        }
    ring(true);
    // A small second moon, cold and cratered.
    const double mx = 150, my = 90, mr = 26;
    for (int y = int(my - mr - 2); y < my + mr + 2; ++y)
        for (int x = int(mx - mr - 2); x < mx + mr + 2; ++x) {
            double dx = x + 0.5 - mx, dy = y + 0.5 - my, d = Sqrt(dx * dx + dy * dy);
            double crater = Smooth(0.55, 0.75, Fbm(dx / 7.0, dy / 7.0, 3, 61));
            double light = Clamp01(0.2 + 0.9 * (dx / mr * 0.7 - dy / mr * 0.3 + 0.5));
            c.Blend(x, y, MixRgb(Hex(0xC9E2EE), Hex(0x6E8796), crater) * light, Clamp01(mr + 0.5 - d));
        }
    Glow(c, mx, my, 70, Hex(0x6FB7D0), 0.18);
    // Five ridges, far to near: each nearer one darker, sharper and less hazy.
    for (int layer = 0; layer < 5; ++layer) {
        double base = 250 + layer * 42, amp = 40 + layer * 18, scale = 160.0 - layer * 22;
        Rgb fog = MixRgb(Hex(0xE58C5A), Hex(0x0A1820), layer / 4.0);
        Rgb rock = MixRgb(Hex(0x9C5A4A), Hex(0x05090C), layer / 4.0);
        for (int x = 0; x < 640; ++x) {
            double ridge = Fbm(x / scale, layer * 3.1, 6, 100 + layer);
            double h = base - amp * ridge + amp * 0.4;
            for (int y = std::max(0, int(h)); y < 480; ++y) {
                double depth = (y - h) / 60.0;
                double tex = Fbm(x / 16.0, y / 16.0 + layer * 9, 2, 200 + layer);
                Rgb col = MixRgb(rock * (0.85 + 0.3 * tex), fog, 0.55 * Clamp01(1 - depth) * (1 - layer / 5.0));
                c.Blend(x, y, col, Clamp01(y + 1 - h));
            }
        }
    }
    // A lone figure with a lantern on the nearest ridge.
    const double fx = 212, fy = 418;
    Line(c, fx, fy, fx, fy - 28, 6, Hex(0x020305), 1.0);
    Disc(c, fx, fy - 33, 5, Hex(0x020305), 1.0, 1.0);
    Line(c, fx, fy - 20, fx + 12, fy - 12, 2, Hex(0x020305), 1.0);
    Glow(c, fx + 13, fy - 9, 40, Hex(0xFFB04A), 0.9);
    Disc(c, fx + 13, fy - 9, 2.5, Hex(0xFFF2C0), 1.0, 1.0);
    return c;
}

Canvas DrawDeepWater() {
    Canvas c(640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double t = y / 479.0;
            Rgb water = MixRgb(Hex(0x3FC3D6), Hex(0x0B3D6B), Smooth(0.0, 0.6, t));
            water = MixRgb(water, Hex(0x03142B), Smooth(0.5, 1.0, t));
            // Caustic net near the surface: the folded ridges of two noise fields.
            double n1 = Fbm(x / 45.0 + y / 200.0, y / 30.0, 3, 7), n2 = Fbm(x / 38.0, y / 26.0 + 3, 3, 8);
            double net = Clamp01(1 - std::abs(n1 - n2) * 6);
            net = double(int(net * net * 4.999)) / 4;
            water = water + Hex(0xBFF6FF) * (net * 0.35 * (1 - Smooth(0.0, 0.45, t)));
            c.At(x, y) = water;
        }
    // Light shafts fanning from above.
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double u = (x - 320 + y * 0.45) / (60 + y * 0.5);
            // Few discrete levels keep the shafts crisp and the rows cheap to compress.
            double shaft = double(int(Smooth(0.5, 0.95, Fbm(u * 3, 0.3, 3, 19)) * 3.999)) / 3;
            c.Add(x, y, Hex(0x9FE8F0) * (shaft * 0.16 * (1 - Smooth(0.1, 0.95, y / 479.0))));
        }
    // Sand floor with ripples.
    for (int x = 0; x < 640; ++x) {
        double h = 400 + 14 * Fbm(x / 110.0, 2, 4, 31);
        for (int y = int(h); y < 480; ++y) {
            double ripple =
                double(int(2.999 * (0.5 + 0.5 * Sin(x * 0.09 + y * 0.6 + 3 * Fbm(x / 30.0, y / 10.0, 2, 32))))) / 2;
            Rgb sand = MixRgb(Hex(0x8C7A58), Hex(0x3B3A3E), Smooth(400, 480, y)) * (0.85 + 0.15 * ripple);
            c.Blend(x, y, sand, Clamp01(y + 1 - h));
        }
    }
    // Kelp: swaying ribbons rooted in the sand, darker when nearer.
    for (int k = 0; k < 14; ++k) {
        double rootX = 20 + Rand2(k, 0, 44) * 600, height = 160 + Rand2(k, 1, 44) * 200;
        double phase = Rand2(k, 2, 44) * 6.28, near = Rand2(k, 3, 44);
        Rgb col = MixRgb(Hex(0x2F7A5A), Hex(0x08231F), near);
        double prevX = rootX, prevY = 470;
        for (int s = 1; s <= 40; ++s) {
            double t = s / 40.0;
            double xx = rootX + 26 * t * Sin(phase + t * 5) + 10 * t * t;
            double yy = 470 - height * t;
            Line(c, prevX, prevY, xx, yy, 9 * (1 - t * 0.7), col, 0.95);
            if (s % 5 == 0)
                Line(c, xx, yy, xx + 16 * Sin(phase + s), yy - 10, 4, col, 0.85);
            prevX = xx;
            prevY = yy;
        }
    }
    // A shoal of small fish crossing to the right.
    for (int f = 0; f < 36; ++f) {
        double fx = 120 + Rand2(f, 0, 55) * 380 + f * 3, fy = 120 + Rand2(f, 1, 55) * 140 + Sin(f * 0.7) * 20;
        double s = 5 + Rand2(f, 2, 55) * 5;
        Rgb body = MixRgb(Hex(0xFFC15E), Hex(0xFF7A50), Rand2(f, 3, 55));
        for (int k = -3; k <= 3; ++k)
            Disc(c, fx + k * s * 0.35, fy, s * 0.55 * Sqrt(1 - k * k / 12.0), body, 1.0, 1.0);
        Line(c, fx - s * 1.2, fy, fx - s * 1.9, fy - s * 0.6, 2, body, 1.0);
        Line(c, fx - s * 1.2, fy, fx - s * 1.9, fy + s * 0.6, 2, body, 1.0);
        Disc(c, fx + s * 0.7, fy - s * 0.12, 1.1, Hex(0x101010), 1.0, 0.8);
    }
    // Rising bubbles: thin bright rims with a highlight.
    for (int b = 0; b < 70; ++b) {
        double bx = 60 + Rand2(b, 0, 66) * 180 + 12 * Sin(b * 1.3), by = 30 + Rand2(b, 1, 66) * 420;
        double r = 1.5 + Rand2(b, 2, 66) * 6;
        Disc(c, bx, by, r, Hex(0xD8FBFF), 0.35, 1.0);
        Disc(c, bx, by, r - 1.2, Hex(0x2A7DA0), 0.25, 1.0);
        Disc(c, bx - r * 0.35, by - r * 0.35, r * 0.3, Hex(0xFFFFFF), 0.9, 0.8);
    }
    return c;
}

Canvas DrawBeachSunset() {
    Canvas c(640, 480);
    const double horizon = 290, sunX = 320, sunY = 215, sunR = 105;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double t = y / horizon;
            Rgb sky = MixRgb(Hex(0x2A0E4F), Hex(0xC2306E), Smooth(0.0, 0.7, t));
            sky = MixRgb(sky, Hex(0xFFB25C), Smooth(0.6, 1.0, t));
            double cloud =
                Smooth(0.55, 0.75, Fbm(x / 120.0, y / 18.0, 5, 71)) * Smooth(60, 200, y) * (1 - Smooth(240, 290, y));
            sky = MixRgb(sky, Hex(0x6A2456), cloud * 0.8);
            c.At(x, y) = sky;
        }
    // The sun, cut by horizontal bars that widen towards the horizon.
    for (int y = int(sunY - sunR); y < horizon; ++y)
        for (int x = int(sunX - sunR); x < sunX + sunR; ++x) {
            double dx = x + 0.5 - sunX, dy = y + 0.5 - sunY, d = Sqrt(dx * dx + dy * dy);
            double v = (y - (sunY - sunR)) / (2 * sunR);
            double bar = (y > sunY) ? Fract((y - sunY) / (10 - v * 4)) < 0.18 + v * 0.45 : false;
            if (bar)
                continue;
            c.Blend(x, y, MixRgb(Hex(0xFFF27A), Hex(0xFF4F6A), Smooth(0.1, 0.9, v)), Clamp01(sunR + 0.5 - d));
        }
    Glow(c, sunX, sunY, 260, Hex(0xFF7A4A), 0.35);
    // The sea, its swell lines catching the sun in a broken column of light.
    for (int y = int(horizon); y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            double depth = (y - horizon) / (480 - horizon);
            Rgb sea = MixRgb(Hex(0x7A2E6E), Hex(0x1B0B3A), Smooth(0.0, 1.0, depth));
            double swell = Fbm(x / (30 + depth * 90), y / (2 + depth * 10), 4, 81);
            double column = 1 - Smooth(0.0, 60 + depth * 140, std::abs(x - sunX));
            double glint = Smooth(0.6, 0.8, swell) * (column * 0.9 + 0.12);
            sea = MixRgb(sea, Hex(0xFFD27A), glint * (1 - depth * 0.5));
            c.At(x, y) = sea;
        }
    // Beach in the foreground, then the palm and its shadow-dark leaves.
    for (int x = 0; x < 640; ++x) {
        double h = 430 - 40 * Smooth(0, 640, x) + 6 * Sin(x / 50.0);
        for (int y = int(h); y < 480; ++y)
            c.Blend(x, y, MixRgb(Hex(0x3A1A3A), Hex(0x160A1E), Smooth(h, 480, y)) * (0.85 + 0.3 * Rand2(x, y, 3)),
                    Clamp01(y + 1 - h));
    }
    Rgb palm = Hex(0x12061A);
    double tx = 560, ty = 460, topX = 505, topY = 150;
    for (int s = 0; s < 30; ++s) {
        double t0 = s / 30.0, t1 = (s + 1) / 30.0;
        auto at = [&](double t, double& x, double& y) {
            x = Mix(tx, topX, t) + 30 * Sin(t * 3.0);
            y = Mix(ty, topY, t);
        };
        double x0, y0, x1, y1;
        at(t0, x0, y0);
        at(t1, x1, y1);
        Line(c, x0, y0, x1, y1, 16 - 8 * t0, palm, 1.0);
    }
    double crownX = topX + 30 * Sin(3.0), crownY = topY;
    for (int leaf = 0; leaf < 11; ++leaf) {
        double ang = -3.1 + leaf * 0.3 + 0.08 * Sin(leaf * 5.0);
        double len = 105 + 30 * Sin(leaf * 2.3);
        double px = crownX, py = crownY;
        for (int s = 1; s <= 28; ++s) {
            double t = s / 28.0;
            double x = crownX + Cos(ang) * len * t, y = crownY + Sin(ang) * len * t * 0.7 + 80 * t * t;
            Line(c, px, py, x, y, 6 * (1 - t) + 1.2, palm, 1.0);
            // Leaflets hang from both sides of the rib, shorter towards the tip.
            double fx = -(y - py), fy = x - px, fl = Sqrt(fx * fx + fy * fy) + 1e-9;
            double l = 20 * (1 - t * 0.7);
            for (int side = -1; side <= 1; side += 2)
                Line(c, x, y, x + side * fx / fl * l * 0.6 + (x - px) * 1.5, y + std::abs(fy / fl) * l * 0.3 + l * 0.9,
                     1.6, palm, 1.0);
            px = x;
            py = y;
        }
    }
    // Birds far away.
    for (int b = 0; b < 5; ++b) {
        double bx = 140 + b * 38 + Rand2(b, 0, 9) * 20, by = 90 + Rand2(b, 1, 9) * 50, s = 6 + b;
        Line(c, bx - s, by - s * 0.4, bx, by, 2, Hex(0x2A0E3A), 1.0);
        Line(c, bx, by, bx + s, by - s * 0.4, 2, Hex(0x2A0E3A), 1.0);
    }
    return c;
}

} // namespace makedata
