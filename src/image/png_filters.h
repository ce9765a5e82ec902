// The PNG row filters undone straight into the Image's layout, one row per call.
//
// Each function reads the filtered row `in` (without its filter byte) and writes the unfiltered row `out`, given
// the row above as already written (`prev`, in out's layout; zeros above the first row). `in` may lie in the same
// buffer as `out`, at or after it: the functions go from left to right and read each block of `in` before they
// store the block of `out` made from it. Rows whose pixels keep their size (grey, RGBA) may start anywhere at or
// after `out`; RGB rows, whose pixels grow by a byte, must start at least `width` bytes after it, so that no store
// reaches a byte not yet read (png.cpp places the rows so). Loads may reach 16 bytes past the end of `in`; `prev`
// is read only within out's row length.
#pragma once

#include <cstddef>
#include <cstdint>

// One byte per pixel (grey samples, palette indices): `length` bytes.
void UnfilterByteRow(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t length, uint8_t filter);

// RGBA samples to RGBA pixels: `width` pixels of 4 bytes.
void UnfilterRgbaRow(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, uint8_t filter);

// RGB samples (3 bytes a pixel) to RGBA pixels whose alpha is `alpha`.
void UnfilterRgbRow(const uint8_t* in, uint8_t* out, const uint8_t* prev, size_t width, uint8_t filter, uint8_t alpha);

// The Paeth predictor with p = a + b - c written out: p - a, p - b, p - c become b - c, a - c and a + b - 2c.
inline int Paeth(int a, int b, int c) {
    const int pa = b - c < 0 ? c - b : b - c;
    const int pb = a - c < 0 ? c - a : a - c;
    const int pc = a + b - 2 * c < 0 ? 2 * c - a - b : a + b - 2 * c;
    const int bc = pb <= pc ? b : c;
    return pa <= pb && pa <= pc ? a : bc;
}
