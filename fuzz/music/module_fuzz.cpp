// Loads one module of either format from the fuzzer's bytes, scans its song's length, and plays a few hundred ticks
// of it with a seek and a pause, twice: in straight runs and frame by frame, which must give the same bits.
#include "audio/mixer.h"
#include "music/music.h"
#include "music/voice_run.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy so ASan sees any read past the module.
    std::vector<uint8_t> module(data, data + size);
    // Rendered twice, in straight runs and frame by frame: the two must agree to the bit.
    static std::vector<int16_t> first;
    first.clear();
    for (int path : {2, -1}) {
        VoiceRunPath = path;
        ReleaseMusic();
        ResetPlayer();
        BuildPeriodTables();
        if (LoadModuleFromMemory(module.data(), module.size(), "fuzz") != 0)
            break;
        SongLengthFrames(0);
        SetRepeatMode(0);
        SetFadeMode(4);
        PrepareMusic();
        RequestModule(0);
        // 100 chunks are 400 ticks at the default tempo (more at faster ones): enough for every effect of a few
        // dozen rows to act, and cheap enough for a useful number of runs.
        for (int chunk = 0; chunk < 100; ++chunk) {
            if (chunk == 30)
                RequestPosition(module[size / 2] % 4); // a loaded module has a header
            SetPauseMode(chunk >= 50 && chunk < 55);
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
    return 0;
}
