// The command line and the chunking that xmp_render and openmpt_render share with quimbles-play --wav:
// --wav OUT.wav [--seconds S] MODULE, rendered in chunks of 3528 frames at 44100 Hz.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct RenderArgs {
    const char* wavPath = nullptr;
    const char* modulePath = nullptr;
    double seconds = 60;
};

constexpr int RenderChunkFrames = 3528;

// Reads the command line; false, with the usage printed for `program`, when the WAV file or the module is missing.
inline bool ParseRenderArgs(int argc, char** argv, const char* program, RenderArgs* args) {
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--wav") && i + 1 < argc)
            args->wavPath = argv[++i];
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            args->seconds = std::atof(argv[++i]);
        else
            args->modulePath = argv[i];
    }
    if (args->wavPath && args->modulePath)
        return true;
    std::fprintf(stderr, "usage: %s --wav OUT.wav [--seconds S] MODULE\n", program);
    return false;
}

// The chunks that cover `seconds` of music, the last one whole.
inline long RenderChunks(double seconds) {
    return static_cast<long>(std::ceil(seconds * 44100 / RenderChunkFrames));
}
