#include "movie_writer.h"

#include <cstdio>
#include <cstdlib>

#include "j2k_writer.h"

namespace makedata {
namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "make-data: OpenJPEG %s\n", what);
    std::exit(1);
}

// One lossy frame (9/7 with the colour transform) aiming at targetBytes; OpenJPEG may overshoot by a few bytes.
std::vector<uint8_t> EncodeFrame(const std::vector<uint8_t>& rgb, int width, int height, size_t targetBytes) {
    J2kLayout layout;
    layout.ratio = float(double(width) * height * 3 / double(targetBytes));
    std::vector<uint8_t> code = EncodeJ2k(rgb, width, height, layout);
    if (code.empty())
        Fail("fails to encode a frame");
    return code;
}

} // namespace

std::vector<uint8_t> BuildMovie(const std::vector<Canvas>& frames, size_t targetSize) {
    const size_t n = frames.size();
    std::vector<std::vector<uint8_t>> rgb;
    for (const Canvas& f : frames)
        rgb.push_back(ToRgb8(f, 0));
    // Start from an even share of the file and shrink the share until everything fits; the encoder can
    // overshoot its target slightly, which the loop absorbs.
    size_t share = (targetSize - 9) / n - 4;
    for (;;) {
        std::vector<uint8_t> file = {'Q', 'M', 'O', 'V', '1'};
        for (int s = 0; s < 32; s += 8)
            file.push_back(uint8_t(n >> s));
        for (size_t i = 0; i < n; ++i) {
            std::vector<uint8_t> cs = EncodeFrame(rgb[i], frames[i].width, frames[i].height, share);
            for (int s = 0; s < 32; s += 8)
                file.push_back(uint8_t(cs.size() >> s));
            file.insert(file.end(), cs.begin(), cs.end());
        }
        if (file.size() <= targetSize) {
            std::fprintf(stderr, "  %zu frames of about %zu bytes, %zu bytes of padding\n", n, share,
                         targetSize - file.size());
            file.resize(targetSize, 0); // bytes after the last record are not read
            return file;
        }
        size_t over = file.size() - targetSize;
        size_t cut = std::max<size_t>(over / n + 1, share / 100);
        if (cut >= share)
            break;
        share -= cut;
    }
    std::fprintf(stderr, "make-data: the movie does not fit in %zu bytes\n", targetSize);
    std::exit(1);
}

} // namespace makedata
