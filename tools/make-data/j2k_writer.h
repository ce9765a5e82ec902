// Raw JPEG 2000 codestreams (no JP2 wrapper) made with OpenJPEG's encoder: the show's movie frames, and the
// pictures of every shape that the tests feed the movie reader.
#pragma once
#include <cstdint>
#include <vector>

namespace makedata {

struct J2kLayout {
    int components = 3; // interleaved 8-bit samples per pixel
    int dx = 1, dy = 1; // every component after the first is subsampled by these
    float ratio = 0;    // 0: lossless 5/3; above 0: 9/7 at this compression ratio
    int tile = 0;       // above 0: the picture is cut into tiles of this side
};

// The codestream, or nothing when OpenJPEG refuses the settings or fails.
std::vector<uint8_t> EncodeJ2k(const std::vector<uint8_t>& samples, int width, int height, const J2kLayout& layout);

} // namespace makedata
