// Render mode of quimbles-play: the chunks the show would stream, written to a WAV file in order.
#include "play.h"

#include "audio/mixer.h"
#include "music/music.h"
#include "wav_writer.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int SampleRate = 44100;
constexpr int64_t MaxChunks = (30LL * 60 * SampleRate + ChunkFrames - 1) / ChunkFrames; // 30 minutes

} // namespace

int RenderToWav(const PlayOptions& options) {
    WavWriter wav;
    if (!OpenWav(&wav, options.wavPath.c_str())) {
        std::fprintf(stderr, "quimbles-play: cannot write %s\n", options.wavPath.c_str());
        return 1;
    }
    const bool timed = options.seconds >= 0;
    const int64_t chunks =
        timed ? static_cast<int64_t>(std::ceil(options.seconds * SampleRate / ChunkFrames)) : MaxChunks;
    // One module with repeat 1 has played once at its first song end; a list has played once when every module
    // has ended once. The restart the show requests at the start is not a song end.
    const int repeat = options.repeat >= 0 ? options.repeat : options.modules.size() == 1 ? 1 : 0;
    const int32_t endsForOnce = repeat == 1 ? 1 : static_cast<int32_t>(options.modules.size());
    const bool progress = isatty(fileno(stderr));

    int64_t written = 0;
    while (!wav.failed && written < chunks) {
        WriteWavFrames(&wav, RenderFrames(ChunkFrames), ChunkFrames);
        ++written;
        if (progress && written % 25 == 0) {
            double at = static_cast<double>(written) * ChunkFrames / SampleRate;
            std::fprintf(stderr, "\r%d:%04.1f  module %d  position %3d  row %3d", static_cast<int>(at / 60),
                         std::fmod(at, 60.0), player.currentModule, player.orderPosition, player.row);
        }
        if (!timed && SongEndCount() >= endsForOnce)
            break;
    }
    if (progress)
        std::fputc('\n', stderr);
    if (!CloseWav(&wav)) {
        std::fprintf(stderr, "quimbles-play: failed writing %s\n", options.wavPath.c_str());
        return 1;
    }
    return 0;
}
