// xmp_render: libxmp's side of the render-speed comparison. Renders a module as quimbles-play --wav does, to a WAV
// file in the same format through the same writer: 44100 Hz, stereo, 16-bit, linear interpolation, in chunks of
// 3528 frames, for a given number of seconds (the song repeating as long as it takes).
#include "render_args.h"
#include "wav_writer.h"

#include <xmp.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    RenderArgs args;
    if (!ParseRenderArgs(argc, argv, "xmp_render", &args))
        return 2;
    const char* wavPath = args.wavPath;
    const char* modulePath = args.modulePath;
    xmp_context context = xmp_create_context();
    if (xmp_load_module(context, const_cast<char*>(modulePath)) != 0) {
        std::fprintf(stderr, "xmp_render: libxmp cannot load %s\n", modulePath);
        return 1;
    }
    if (xmp_start_player(context, 44100, 0) != 0) {
        std::fprintf(stderr, "xmp_render: libxmp cannot start %s\n", modulePath);
        return 1;
    }
    xmp_set_player(context, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
    WavWriter wav;
    if (!OpenWav(&wav, wavPath)) {
        std::fprintf(stderr, "xmp_render: cannot write %s\n", wavPath);
        return 1;
    }
    const long chunks = RenderChunks(args.seconds);
    std::vector<int16_t> buffer(2 * RenderChunkFrames);
    for (long c = 0; c < chunks && !wav.failed; ++c) {
        // A loop count of 0 plays on past the song's end, repeating it.
        xmp_play_buffer(context, buffer.data(), static_cast<int>(buffer.size() * sizeof(int16_t)), 0);
        WriteWavFrames(&wav, buffer.data(), RenderChunkFrames);
    }
    xmp_end_player(context);
    xmp_release_module(context);
    xmp_free_context(context);
    return CloseWav(&wav) ? 0 : 1;
}
