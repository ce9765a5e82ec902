// Loads one module of either format from the fuzzer's bytes and plays a few hundred ticks of it, twice: in
// straight runs and frame by frame, which must give the same bits.
#include "audio/mixer.h"
#include "music/music.h"
#include "music/voice_run.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loaders read files, so the input goes through one private temporary file.
    static const std::string modulePath = "/tmp/quimbles-module-fuzz-" + std::to_string(getpid());
    std::FILE* file = std::fopen(modulePath.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    // Rendered twice, in straight runs and frame by frame: the two must agree to the bit.
    static std::vector<int16_t> first;
    first.clear();
    for (int path : {2, -1}) {
        VoiceRunPath = path;
        ReleaseMusic();
        std::memset(channels, 0, sizeof channels);
        player.masterVolume = 1.0f;
        player.patternLoopCount = player.patternLoopRow = player.patternDelay = 0;
        BuildPeriodTables();
        if (LoadModule(modulePath.c_str()) != 0)
            break;
        SetRepeatMode(0);
        SetFadeMode(4);
        PrepareMusic();
        RequestModule(0);
        // 100 chunks are 400 ticks at the default tempo (more at faster ones): enough for every effect of a few
        // dozen rows to act, and cheap enough for a useful number of runs.
        for (int chunk = 0; chunk < 100; ++chunk) {
            const int16_t* out = RenderFrames(ChunkFrames);
            if (path == 2) {
                first.insert(first.end(), out, out + 2 * ChunkFrames);
            } else if (std::memcmp(out, first.data() + size_t(chunk) * 2 * ChunkFrames,
                                   sizeof(int16_t) * 2 * ChunkFrames) != 0) {
                std::fprintf(stderr, "module_fuzz: runs and frame-by-frame part in chunk %d\n", chunk);
                std::abort();
            }
        }
    }
    VoiceRunPath = 2;
    ReleaseMusic();
    std::remove(modulePath.c_str());
    return 0;
}
