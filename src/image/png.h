// PNG reader: bit depth 8, no interlacing, colour types 0 (grey), 2 (RGB), 3 (palette) and 6 (RGBA).
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/image.h"

// How colour-type-2 pixels get their alpha byte; only the low 8 bits of the value passed to LoadPng count.
// Values 8..255 give opaque pixels.
enum AlphaMode : int32_t {
    AlphaOpaque = 0,       // 255
    AlphaDarkKey = 1,      // 0 when R + G + B < 10, else 255
    AlphaLuminanceKey = 2, // ramp from luminance 0.2 (transparent) to 0.7 (opaque)
    AlphaHalf = 3,         // 128
    AlphaFaint = 4,        // 70
    AlphaStrong = 5,       // 150
    AlphaOpaqueToo = 6,    // 255
    AlphaMagentaKey = 7,   // near-magenta pixels become (0, 0, 0, 0), others opaque
};

// The most bytes LoadPng may take for a picture's pixels or for its inflated rows. By default only sizes that
// overflow are refused (and those the allocation fails); a fuzzer lowers it so that a header alone cannot ask for
// more memory than it allows.
extern uint64_t PngByteLimit;

// Fills image from the PNG file at path. A picture of 0 rows or 0 columns is empty, with a pixels buffer all the
// same. On refusal returns false, leaves image zeroed (pixels null, nothing allocated) and PngError() names the
// file and the reason.
bool LoadPng(const char* path, Image* image, int alphaMode);

// The same decode from a file image already in memory; name is used in error messages only.
bool LoadPngFromMemory(const uint8_t* file, size_t fileLength, const char* name, Image* image, int alphaMode);

// Which code the reader runs: 0 the plain code (the reference), 1 (the default) the vector code where the
// processor has it: SSE4.1 row filters and a CRC by carry-less multiplication. Tests set it to compare the two.
extern int PngFilterPath;

// One-line reason for the last refused load.
const char* PngError();

// CRC-32 of a chunk's four type bytes followed by its data, as stored big-endian after the data.
uint32_t ChunkCrc(const uint8_t* type, const uint8_t* data, size_t dataLength);
// The same CRC-32 over `bytes` more bytes, continuing from `crc` (0 to start), as zlib's crc32() computes it.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t bytes);

// The Paeth predictor of the PNG row filters: a left, b above, c above-left.
uint8_t PaethPredictor(int a, int b, int c);
