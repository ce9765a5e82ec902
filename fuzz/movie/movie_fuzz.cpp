// LoadMovie + DrawMovieFrame on arbitrary bytes. A raw codestream (starting FF 4F FF 51) is first wrapped into a
// one-record movie so that the JPEG 2000 corpus serves as seeds; anything else is taken as a movie file.
#include <cstdint>
#include <cstring>
#include <vector>

#include "movie/movie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MovieFrameMaxSide = 2048; // a frame of the full 8192 x 8192 budget takes seconds and 1.5 GB
    static std::vector<uint32_t> frame(size_t(MovieFrameWidth) * MovieFrameHeight);
    std::vector<uint8_t> movie;
    if (size >= 4 && data[0] == 0xFF && data[1] == 0x4F && data[2] == 0xFF && data[3] == 0x51) {
        const uint32_t length = uint32_t(size + 3);
        movie = {'f', 'u', 'z', 'z', 0, 2, 0, 0, 0};
        for (int i = 0; i < 4; i++) {
            movie.push_back(uint8_t(length >> (8 * i)));
        }
        movie.insert(movie.end(), {0, 0, 0}); // filler before the codestream
        movie.insert(movie.end(), data, data + size);
    } else {
        movie.assign(data, data + size);
    }
    if (!LoadMovieFromMemory(movie.data(), movie.size())) {
        return 0;
    }
    // The first frame, one past the records (the walk must stop inside the buffer) and a far one.
    DrawMovieFrame(0, frame.data());
    DrawMovieFrame(1, frame.data());
    if (MovieFrameCount > 2) {
        DrawMovieFrame(MovieFrameCount - 1, frame.data());
    }
    for (int r : {0, 39, 441, 479}) {
        for (int x = 0; x < 640; x++) {
            if (frame[size_t(r) * 640 + size_t(x)] != 0) {
                __builtin_trap(); // the bands above and below the picture are always black
            }
        }
    }
    FreeMovie();
    return 0;
}
