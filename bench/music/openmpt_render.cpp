// openmpt_render: libopenmpt's side of the render-speed comparison. Renders a module as quimbles-play --wav does, to
// a WAV file in the same format through the same writer: 44100 Hz, stereo, 16-bit, linear interpolation (an
// interpolation filter of length 2), in chunks of 3528 frames, for a given number of seconds (the song repeating as
// long as it takes).
#include "render_args.h"
#include "wav_writer.h"

#include <libopenmpt/libopenmpt.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    RenderArgs args;
    if (!ParseRenderArgs(argc, argv, "openmpt_render", &args))
        return 2;
    const char* wavPath = args.wavPath;
    const char* modulePath = args.modulePath;
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
    const long chunks = RenderChunks(args.seconds);
    std::vector<int16_t> buffer(2 * RenderChunkFrames);
    for (long c = 0; c < chunks && !wav.failed; ++c) {
        openmpt_module_read_interleaved_stereo(module, 44100, RenderChunkFrames, buffer.data());
        WriteWavFrames(&wav, buffer.data(), RenderChunkFrames);
    }
    openmpt_module_destroy(module);
    return CloseWav(&wav) ? 0 : 1;
}
