#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "j2k_writer.h"

// A raw codestream of interleaved 8-bit samples, lossless unless `ratio` is above 0 (see J2kLayout).
inline std::vector<uint8_t> EncodeJ2k(const std::vector<uint8_t>& samples, int width, int height, int components,
                                      int dx = 1, int dy = 1, float ratio = 0, int tile = 0) {
    return makedata::EncodeJ2k(samples, width, height, {components, dx, dy, ratio, tile});
}

// Wraps codestreams into a movie file: 5 header bytes, the count, and one record per codestream, each record's
// bytes preceded by `prefix` filler bytes.
std::vector<uint8_t> MakeMovie(const std::vector<std::vector<uint8_t>>& frames, int32_t count, size_t prefix = 0);

// Decodes a codestream with OpenJPEG directly (the oracle); components are returned with their sizes.
struct DecodedJ2k {
    bool ok = false;
    int components = 0;
    int width = 0, height = 0; // of the first component
    bool sameSizes = true;
    std::vector<std::vector<int32_t>> planes;
};
DecodedJ2k DecodeJ2k(const std::vector<uint8_t>& code);
