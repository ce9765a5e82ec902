// openmpt_render: libopenmpt's side of the render-speed comparison. Renders a module as quimbles-play --wav does, to
// a WAV file in the same format through the same writer: 44100 Hz, stereo, 16-bit, linear interpolation (an
// interpolation filter of length 2), in chunks of 3528 frames, for a given number of seconds (the song repeating as
// long as it takes).
#include "wav_writer.h"

#include <libopenmpt/libopenmpt.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    const char* wavPath = nullptr;
    const char* modulePath = nullptr;
    double seconds = 60;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--wav") && i + 1 < argc)
            wavPath = argv[++i];
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else
            modulePath = argv[i];
    }
    if (!wavPath || !modulePath) {
        std::fputs("usage: openmpt_render --wav OUT.wav [--seconds S] MODULE\n", stderr);
        return 2;
    }
    // The file is read once, as the other two players do.
    std::FILE* file = std::fopen(modulePath, "rb");
    if (!file) {
        std::fprintf(stderr, "openmpt_render: cannot read %s\n", modulePath);
        return 1;
    }
    std::vector<char> bytes;
    char block[65536];
    for (size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;)
        bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);
    openmpt_module* module = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                                nullptr, nullptr, nullptr, nullptr);
    if (!module) {
        std::fprintf(stderr, "openmpt_render: libopenmpt cannot load %s\n", modulePath);
        return 1;
    }
    // Repeat count -1 plays on past the song's end, repeating it.
    openmpt_module_set_repeat_count(module, -1);
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);
    WavWriter wav;
    if (!OpenWav(&wav, wavPath)) {
        std::fprintf(stderr, "openmpt_render: cannot write %s\n", wavPath);
        return 1;
    }
    constexpr int ChunkFrames = 3528;
    const long chunks = static_cast<long>(std::ceil(seconds * 44100 / ChunkFrames));
    std::vector<int16_t> buffer(2 * ChunkFrames);
    for (long c = 0; c < chunks && !wav.failed; ++c) {
        openmpt_module_read_interleaved_stereo(module, 44100, ChunkFrames, buffer.data());
        WriteWavFrames(&wav, buffer.data(), ChunkFrames);
    }
    openmpt_module_destroy(module);
    return CloseWav(&wav) ? 0 : 1;
}
