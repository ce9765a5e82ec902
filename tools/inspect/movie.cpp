// quimbles-inspect movie FILE FRAME OUT: one movie frame drawn as the show draws it, the 640 x 480 words written
// little-endian to OUT; prints the movie's frame count.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/files.h"
#include "commands.h"
#include "movie/movie.h"

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
    uint8_t* file = nullptr;
    size_t size = 0;
    const ReadFileResult read = ReadWholeFile(path, SIZE_MAX, &file, &size);
    if (read != ReadFileOk) {
        std::fprintf(stderr, "quimbles-inspect: %s: %s\n", path, ReadFileReason(read));
        return ExitInputRefused;
    }
    const bool loaded = LoadMovieFromMemory(file, size);
    std::free(file);
    if (!loaded) {
        std::fprintf(stderr, "quimbles-inspect: %s: %s\n", path, MovieError());
        return ExitInputRefused;
    }
    if (frame < 0 || frame >= MovieFrameCount) {
        std::fprintf(stderr, "quimbles-inspect: %s has no frame %ld (frames 0 to %d)\n", path, frame,
                     int(MovieFrameCount) - 1);
        FreeMovie();
        return ExitInputRefused;
    }
    std::vector<uint32_t> picture(size_t(MovieFrameWidth) * MovieFrameHeight);
    const bool drawn = DrawMovieFrame(int32_t(frame), picture.data());
    int status = 0;
    if (!drawn) {
        std::fprintf(stderr, "quimbles-inspect: %s frame %ld: %s\n", path, frame, MovieError());
        status = ExitInputRefused;
    } else {
        FILE* out = std::fopen(argv[2], "wb");
        uint8_t bytes[640 * 4];
        for (int row = 0; out && row < 480; row++) {
            for (int x = 0; x < 640; x++) {
                const uint32_t w = picture[size_t(row) * 640 + size_t(x)];
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
    FreeMovie();
    return status;
}
