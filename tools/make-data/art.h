// Deterministic drawing helpers shared by the pictures and the movies. Only + - * / and sqrt are used on
// floating point values (all exactly rounded in IEEE arithmetic), so every machine computes the same pixels;
// sine and the noise functions are our own.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace makedata {

constexpr double kPi = 3.14159265358979323846;

// sin(x) by range reduction to [-pi/2, pi/2] and an odd Taylor polynomial (error below 1e-9 there).
inline double Sin(double x) {
    double turns = x / (2 * kPi);
    double whole = double(int64_t(turns >= 0 ? turns + 0.5 : turns - 0.5));
    x = x - whole * 2 * kPi; // now in [-pi, pi]
    if (x > kPi / 2)
        x = kPi - x;
    else if (x < -kPi / 2)
        x = -kPi - x;
    double x2 = x * x;
    double t = x, sum = x;
    for (int k = 1; k < 10; ++k) {
        t = -t * x2 / double((2 * k) * (2 * k + 1));
        sum += t;
    }
    return sum;
}
inline double Cos(double x) {
    return Sin(x + kPi / 2);
}

// atan(x): two angle halvings, x -> x / (1 + sqrt(1 + x^2)), bring |x| below tan(pi/8); then a short series.
inline double Atan(double x) {
    for (int k = 0; k < 2; ++k)
        x = x / (1 + std::sqrt(1 + x * x));
    double x2 = x * x, t = x, sum = x;
    for (int k = 1; k < 12; ++k) {
        t = -t * x2;
        sum += t / double(2 * k + 1);
    }
    return 4 * sum;
}
inline double Atan2(double y, double x) {
    if (x > 0)
        return Atan(y / x);
    if (x < 0)
        return y >= 0 ? Atan(y / x) + kPi : Atan(y / x) - kPi;
    return y > 0 ? kPi / 2 : y < 0 ? -kPi / 2 : 0;
}

inline double Clamp01(double v) {
    return v < 0 ? 0 : v > 1 ? 1 : v;
}
inline double Mix(double a, double b, double t) {
    return a + (b - a) * t;
}
inline double Smooth(double e0, double e1, double x) {
    double t = Clamp01((x - e0) / (e1 - e0));
    return t * t * (3 - 2 * t);
}
inline double Sqrt(double v) {
    return v > 0 ? std::sqrt(v) : 0;
} // IEEE sqrt is exactly rounded
inline double Floor(double v) {
    double t = double(int64_t(v));
    return t > v ? t - 1 : t;
}
inline double Fract(double v) {
    return v - Floor(v);
}

inline uint32_t Hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}
inline uint32_t Hash2(int x, int y, uint32_t seed) {
    return Hash(uint32_t(x) * 0x9E3779B1u ^ Hash(uint32_t(y) + seed));
}
// Uniform in [0, 1).
inline double Rand2(int x, int y, uint32_t seed) {
    return double(Hash2(x, y, seed) >> 8) / 16777216.0;
}

// Smooth value noise in [0, 1].
inline double Noise(double x, double y, uint32_t seed) {
    double fx = Floor(x), fy = Floor(y);
    int ix = int(fx), iy = int(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    double a = Rand2(ix, iy, seed), b = Rand2(ix + 1, iy, seed);
    double c = Rand2(ix, iy + 1, seed), d = Rand2(ix + 1, iy + 1, seed);
    return Mix(Mix(a, b, tx), Mix(c, d, tx), ty);
}
// Fractal sum of octaves, about [0, 1].
inline double Fbm(double x, double y, int octaves, uint32_t seed) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amp * Noise(x, y, seed + 17u * o);
        norm += amp;
        x = x * 2.03 + 11.7;
        y = y * 2.03 - 5.3;
        amp *= 0.5;
    }
    return sum / norm;
}

struct Rgb {
    double r, g, b;
};
inline Rgb operator+(Rgb a, Rgb b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
inline Rgb operator*(Rgb a, double k) {
    return {a.r * k, a.g * k, a.b * k};
}
inline Rgb operator*(Rgb a, Rgb b) {
    return {a.r * b.r, a.g * b.g, a.b * b.b};
}
inline Rgb MixRgb(Rgb a, Rgb b, double t) {
    return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)};
}
inline Rgb Hex(uint32_t v) {
    return {((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0};
}

// A floating-point RGB canvas; colours are nominally 0..1.
struct Canvas {
    int width = 0, height = 0;
    std::vector<Rgb> px;
    Canvas(int w, int h) : width(w), height(h), px(size_t(w) * h, Rgb{0, 0, 0}) {}
    Rgb& At(int x, int y) { return px[size_t(y) * width + x]; }
    const Rgb& At(int x, int y) const { return px[size_t(y) * width + x]; }
    // Adds colour c with weight a (0..1) over the pixel: over-blend.
    void Blend(int x, int y, Rgb c, double a) {
        if (x < 0 || y < 0 || x >= width || y >= height || a <= 0)
            return;
        Rgb& d = At(x, y);
        d = MixRgb(d, c, a > 1 ? 1 : a);
    }
    void Add(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        At(x, y) = At(x, y) + c;
    }
};

// Anti-aliased soft disc: coverage falls off over the last `soft` pixels of the radius.
void Disc(Canvas& c, double cx, double cy, double radius, Rgb colour, double alpha, double soft = 1.0);
// Additive glow: colour × intensity × (1 - d/radius)^2.
void Glow(Canvas& c, double cx, double cy, double radius, Rgb colour, double intensity);
// Anti-aliased thick line from (x0, y0) to (x1, y1), colour blended at alpha.
void Line(Canvas& c, double x0, double y0, double x1, double y1, double width, Rgb colour, double alpha);

// 8-bit RGB with a small ordered dither of `grain` steps (0 for none) to hide banding in smooth gradients.
std::vector<uint8_t> ToRgb8(const Canvas& c, double grain);

} // namespace makedata
