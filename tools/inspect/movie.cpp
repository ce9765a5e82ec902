// quimbles-inspect movie FILE FRAME OUT: one movie frame drawn into the frame buffer, the 640 x 480 words written
// little-endian to OUT; prints the movie's frame count.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "movie/movie.h"
#include "show/effects.h"

int InspectMovie(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quimbles-inspect movie FILE FRAME OUT\n");
        return ExitUsage;
    }
    const char* path = argv[0];
    char* end = nullptr;
    const long frame = std::strtol(argv[1], &end, 10);
    if (*end || end == argv[1]) {
        std::fprintf(stderr, "quimbles-inspect: FRAME must be a number, not '%s'\n", argv[1]);
        return ExitUsage;
    }
    const int32_t size = FileSize(path);
    if (size < 0) {
        std::fprintf(stderr, "quimbles-inspect: cannot read %s\n", path);
        return ExitInputRefused;
    }
    if (!LoadMovie(path, size)) {
        std::fprintf(stderr, "quimbles-inspect: %s\n", ShowError());
        return ExitInputRefused;
    }
    if (frame < 0 || frame >= MovieFrameCount) {
        std::fprintf(stderr, "quimbles-inspect: %s has no frame %ld (frames 0 to %d)\n", path, frame,
                     int(MovieFrameCount) - 1);
        FreeMovie();
        return ExitInputRefused;
    }
    if (!AllocFrameBuffer()) {
        std::fprintf(stderr, "quimbles-inspect: %s\n", ShowError());
        FreeMovie();
        return ExitInputRefused;
    }
    ClearFrame();
    const bool drawn = DrawMovieFrame(int32_t(frame));
    int status = 0;
    if (!drawn) {
        std::fprintf(stderr, "quimbles-inspect: %s frame %ld: %s\n", path, frame, ShowError());
        status = ExitInputRefused;
    } else {
        FILE* out = std::fopen(argv[2], "wb");
        uint8_t bytes[640 * 4];
        for (int row = 0; out && row < 480; row++) {
            for (int x = 0; x < 640; x++) {
                const uint32_t w = FrameBuffer[row * 640 + x];
                bytes[4 * x] = uint8_t(w), bytes[4 * x + 1] = uint8_t(w >> 8);
                bytes[4 * x + 2] = uint8_t(w >> 16), bytes[4 * x + 3] = uint8_t(w >> 24);
            }
            std::fwrite(bytes, 1, sizeof bytes, out);
        }
        if (!out || std::fclose(out) != 0) {
            std::fprintf(stderr, "quimbles-inspect: cannot write %s: %s\n", argv[2], std::strerror(errno));
            status = ExitCannotWrite;
        } else {
            std::printf("%d\n", int(MovieFrameCount));
        }
    }
    FreeFrameBuffer();
    FreeMovie();
    return status;
}
