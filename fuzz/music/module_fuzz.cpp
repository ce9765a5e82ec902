// Loads one module of either format from the fuzzer's bytes and plays a few thousand ticks of it.
#include "audio/mixer.h"
#include "music/music.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loaders read files, so the input goes through one private temporary file.
    static const std::string path = "/tmp/quimbles-module-fuzz-" + std::to_string(getpid());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    ReleaseMusic();
    std::memset(channels, 0, sizeof channels);
    player.masterVolume = 1.0f;
    player.patternLoopCount = player.patternLoopRow = player.patternDelay = 0;
    BuildPeriodTables();
    if (LoadModule(path.c_str()) == 0) {
        SetRepeatMode(0);
        SetFadeMode(4);
        PrepareMusic();
        RequestModule(0);
        // 250 chunks are 1000 ticks at the default tempo (more at faster ones): enough for every effect of a few
        // dozen rows to act, and cheap enough for a useful number of runs on a busy machine.
        for (int chunk = 0; chunk < 250; ++chunk)
            RenderFrames(ChunkFrames);
    }
    ReleaseMusic();
    std::remove(path.c_str());
    return 0;
}
