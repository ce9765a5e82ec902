// Movie files: five header bytes, a frame count, and length-prefixed JPEG 2000 codestreams made with
// OpenJPEG's encoder, padded with zero bytes after the last record to an exact size.
#pragma once
#include "art.h"

#include <cstdint>
#include <vector>

namespace makedata {

// The movie file of exactly targetSize bytes; exits when the frames cannot be made to fit.
std::vector<uint8_t> BuildMovie(const std::vector<Canvas>& frames, size_t targetSize);

} // namespace makedata
