// Live mode of quimbles-play: the modules play through the sound device with the show's own audio threads, with
// a status line of what is heard now (module, order position, row, time), until the song (or the list) has played
// once, the given time is up, or SIGINT/SIGTERM; then the music stops and the device closes.

#include "play.h"

#include "app/exit_signals.h"
#include "app/system.h"
#include "audio/mixer.h"
#include "audio/sound_device.h"
#include "audio/sound_stats.h"
#include "audio/sound_device.h"
#include "audio/stream.h"
#include "music/music.h"

#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace {

// What the player was at when each chunk was rendered, kept per chunk so that the status line can show the chunk
// being heard, which the threads rendered 0.32 to 0.40 s before.
struct ChunkState {
    std::atomic<uint64_t> chunk{UINT64_MAX};
    std::atomic<int32_t> module{0};
    std::atomic<int32_t> position{0};
    std::atomic<int32_t> row{0};
    std::atomic<int32_t> songEnds{0};
};
constexpr int Remembered = 64;
ChunkState states[Remembered];

// On the audio thread that owns the player, right after it rendered `chunk`.
void NoteChunk(uint64_t chunk, void*) {
    ChunkState& s = states[chunk % Remembered];
    s.module.store(player.currentModule, std::memory_order_relaxed);
    s.position.store(player.orderPosition, std::memory_order_relaxed);
    s.row.store(player.row, std::memory_order_relaxed);
    s.songEnds.store(SongEndCount(), std::memory_order_relaxed);
    s.chunk.store(chunk, std::memory_order_release);
}

} // namespace

int PlayLive(const PlayOptions& options) {
    BuildPeriodTables();
    for (const std::string& path : options.modules) {
        if (LoadModule(path.c_str()) < 0) {
            fprintf(stderr, "quimbles-play: %s\n", ModuleError());
            return 1;
        }
    }
    const int repeat = options.repeat >= 0 ? options.repeat : options.modules.size() == 1 ? 1 : 0;
    const int32_t endsForOnce = repeat == 1 ? 1 : int32_t(options.modules.size());
    CatchExitSignals();
    if (OpenSound() != 1)
        return 1;
    // As the show does it: repeat and full volume before the start, the module requested right after it.
    SetRepeatMode(repeat);
    SetFadeMode(4);
    SetChunkObserver(NoteChunk, nullptr);
    StartMusic();
    RequestModule(0);

    const bool tty = isatty(fileno(stderr));
    const uint64_t framesBefore = CountFramesPlayed();
    int exitStatus = 0;
    for (uint64_t tick = 0;; ++tick) {
        if (ExitSignal() != 0) {
            exitStatus = 128 + ExitSignal();
            break;
        }
        if (StreamFault()) {
            exitStatus = 1;
            break;
        }
        // The first lap of the ring (0.64 s) is silence; chunk k is heard from frame 28224 + 3528 k on.
        const uint64_t played = CountFramesPlayed() - framesBefore;
        const double seconds = played > 28224 ? double(played - 28224) / 44100.0 : 0.0;
        const uint64_t heard = played > 28224 ? (played - 28224) / ChunkFrames : 0;
        const ChunkState& s = states[heard % Remembered];
        const bool known = s.chunk.load(std::memory_order_acquire) == heard;
        if (known && tick % 10 == 0) {
            const int minutes = int(seconds / 60);
            if (tty)
                fprintf(stderr, "\rmodule %d  position %3d  row %3d  %d:%04.1f ", s.module.load(), s.position.load(),
                        s.row.load(), minutes, seconds - 60.0 * minutes);
        }
        if (known && options.seconds < 0 && s.songEnds.load() >= endsForOnce)
            break;
        if (options.seconds >= 0 && seconds >= options.seconds)
            break;
        SleepMs(10);
    }
    if (tty)
        fputc('\n', stderr);
    StopMusic();
    CloseSound();
    printf("played %.1f s, %llu underruns%s%s\n", double(CountFramesPlayed() - framesBefore) / 44100.0,
           (unsigned long long)CountUnderruns(), StreamFault() ? ", audio fault: " : "",
           StreamFault() ? StreamFault() : "");
    return exitStatus != 0 ? exitStatus : StreamFault() ? 1 : 0;
}
