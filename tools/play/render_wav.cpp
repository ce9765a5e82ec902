// Render mode of quimbles-play: the chunks the show would stream, written to a WAV file in order.
#include "play.h"

#include "audio/mixer.h"
#include "music/music.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int SampleRate = 44100;
constexpr int64_t MaxChunks = (30LL * 60 * SampleRate + ChunkFrames - 1) / ChunkFrames; // 30 minutes

void PutLe(uint8_t* at, uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k)
        at[k] = static_cast<uint8_t>(value >> (8 * k));
}

bool WriteHeader(std::FILE* file, uint32_t dataBytes) {
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    PutLe(h + 4, 36 + dataBytes, 4);
    PutLe(h + 16, 16, 4); // fmt chunk size
    PutLe(h + 20, 1, 2);  // PCM
    PutLe(h + 22, 2, 2);  // stereo
    PutLe(h + 24, SampleRate, 4);
    PutLe(h + 28, SampleRate * 4, 4); // bytes per second
    PutLe(h + 32, 4, 2);              // bytes per frame
    PutLe(h + 34, 16, 2);             // bits per sample
    h[36] = 'd', h[37] = 'a', h[38] = 't', h[39] = 'a';
    PutLe(h + 40, dataBytes, 4);
    return std::fwrite(h, 1, sizeof h, file) == sizeof h;
}

bool WriteChunkLe(std::FILE* file, const int16_t* samples) {
    uint8_t bytes[4 * ChunkFrames];
    for (int i = 0; i < 2 * ChunkFrames; ++i)
        PutLe(bytes + 2 * i, static_cast<uint16_t>(samples[i]), 2);
    return std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
}

} // namespace

int RenderToWav(const PlayOptions& options) {
    std::FILE* file = std::fopen(options.wavPath.c_str(), "wb");
    if (!file) {
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

    bool ok = WriteHeader(file, 0);
    int64_t written = 0;
    while (ok && written < chunks) {
        ok = WriteChunkLe(file, RenderFrames(ChunkFrames));
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
    uint64_t dataBytes = static_cast<uint64_t>(written) * 4 * ChunkFrames;
    if (ok)
        ok = std::fseek(file, 0, SEEK_SET) == 0 && WriteHeader(file, static_cast<uint32_t>(dataBytes));
    if (std::fclose(file) != 0)
        ok = false;
    if (!ok) {
        std::fprintf(stderr, "quimbles-play: failed writing %s\n", options.wavPath.c_str());
        return 1;
    }
    return 0;
}
