// Live mode of quimbles-play: the modules play through the sound device with the show's own audio threads until the
// song (or the list) has played once, the given time is up, q, or SIGINT/SIGTERM; then the music stops and the
// device closes. On a terminal a status area shows what is heard now and keys pause, seek and skip.

#include "play.h"

#include "app/exit_signals.h"
#include "app/system.h"
#include "audio/mixer.h"
#include "audio/sound_device.h"
#include "audio/sound_stats.h"
#include "audio/stream.h"
#include "music/music.h"
#include "terminal.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// What the player was at when each chunk was rendered, kept per chunk so that the status area can show the chunk
// being heard, which the threads rendered 0.32 to 0.40 s before.
struct ChunkState {
    std::atomic<uint64_t> chunk{UINT64_MAX};
    std::atomic<int32_t> module{0};
    std::atomic<int32_t> position{0};
    std::atomic<int32_t> pattern{0};
    std::atomic<int32_t> row{0};
    std::atomic<int32_t> speed{0};
    std::atomic<int32_t> tempo{0};
    std::atomic<int64_t> songFrames{0};
    std::atomic<bool> done{false}; // the song (or the list) has played once
};
constexpr int Remembered = 64;
ChunkState states[Remembered];
std::atomic<uint64_t> lastRendered{UINT64_MAX};

// Read by the audio thread, set before the music starts.
int repeatMode = 1;
int32_t endsSeen = 0;
bool listDone = false;

// On the audio thread that owns the player, right after it rendered `chunk`.
void NoteChunk(uint64_t chunk, void*) {
    // A song end that goes back to the first module ends the list; with repeat 1 any song end is the end of once.
    if (SongEndCount() != endsSeen) {
        endsSeen = SongEndCount();
        listDone = listDone || repeatMode == 1 || player.currentModule == 0;
    }
    ChunkState& s = states[chunk % Remembered];
    s.module.store(player.currentModule, std::memory_order_relaxed);
    s.position.store(player.orderPosition, std::memory_order_relaxed);
    s.pattern.store(player.module ? player.module->orders[player.orderPosition & (MaxOrders - 1)] : 0,
                    std::memory_order_relaxed);
    s.row.store(player.row, std::memory_order_relaxed);
    s.speed.store(player.speed, std::memory_order_relaxed);
    // ticksPerSecond is 0.4 x BPM rounded to a float.
    s.tempo.store(int32_t(std::lround(player.ticksPerSecond * 2.5)), std::memory_order_relaxed);
    s.songFrames.store(SongFrames(), std::memory_order_relaxed);
    s.done.store(listDone, std::memory_order_relaxed);
    s.chunk.store(chunk, std::memory_order_release);
    lastRendered.store(chunk, std::memory_order_release);
}

struct Song {
    std::string file, title;
    int32_t orders;
    int64_t frames;
};

std::string Time(double seconds) {
    return TenthsText(std::lround(seconds * 10));
}

// The status area: two lines, three with the keys; drawn from its first line, the cursor left there.
void DrawStatus(const ChunkState& s, const std::vector<Song>& songs, bool paused, bool keys) {
    const int32_t index = s.module.load() < int32_t(songs.size()) ? s.module.load() : 0;
    const Song& song = songs[size_t(index)];
    std::fprintf(stderr, "\r%d/%zu  %s  %s\x1b[K\n", index + 1, songs.size(), song.file.c_str(), song.title.c_str());
    std::fprintf(stderr, "%s / %s  position %d/%d  pattern %d  row %d  speed %d  tempo %d%s\x1b[K",
                 Time(double(s.songFrames.load()) / 44100).c_str(), Time(double(song.frames) / 44100).c_str(),
                 s.position.load(), song.orders, s.pattern.load(), s.row.load(), s.speed.load(), s.tempo.load(),
                 paused ? "  (paused)" : "");
    if (keys)
        std::fputs("\nspace pause  left/right position  n/p module  q quit\x1b[K\x1b[A", stderr);
    std::fputs("\x1b[A\r", stderr);
}

} // namespace

int PlayLive(const PlayOptions& options) {
    BuildPeriodTables();
    std::vector<Song> songs;
    for (const std::string& path : options.modules) {
        const int index = LoadModule(path.c_str());
        if (index < 0) {
            fprintf(stderr, "quimbles-play: %s\n", ModuleError());
            return 1;
        }
        const Module& module = *player.moduleTable[index];
        std::string title = ShownName(module.name, sizeof module.name);
        songs.push_back(
            {path, title.erase(title.find_last_not_of(' ') + 1), module.songLength, SongLengthFrames(index)});
    }
    repeatMode = options.repeat >= 0 ? options.repeat : options.modules.size() == 1 ? 1 : 0;
    CatchExitSignals();
    if (OpenSound() != 1)
        return 1;
    // As the show does it: repeat and full volume before the start, the module requested right after it.
    SetRepeatMode(repeatMode);
    SetFadeMode(4);
    SetChunkObserver(NoteChunk, nullptr);
    StartMusic();
    RequestModule(0);

    const bool status = StatusTerminal();
    const bool keys = TakeKeys();
    bool paused = false, drawn = false;
    // A command given and not yet seen in a rendered chunk: the next key counts from it, not from the chunk.
    int32_t wantedPosition = -1, wantedModule = -1;
    uint64_t wantedAt = 0;
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
        if (known && options.seconds < 0 && s.done.load())
            break;
        if (options.seconds >= 0 && seconds >= options.seconds)
            break;
        const Key key = keys ? WaitForKey(10) : Key::None;
        if (!keys)
            SleepMs(10);
        if (key == Key::Quit)
            break;
        const uint64_t rendered = lastRendered.load(std::memory_order_acquire);
        if (key != Key::None && rendered != UINT64_MAX) {
            const ChunkState& now = states[rendered % Remembered];
            const bool waiting = rendered < wantedAt + 2;
            const int32_t module = waiting && wantedModule >= 0 ? wantedModule : now.module.load();
            const int32_t position = waiting && wantedPosition >= 0 ? wantedPosition : now.position.load();
            const int32_t count = int32_t(songs.size()), orders = songs[size_t(module)].orders;
            wantedAt = rendered;
            if (key == Key::Pause) {
                paused = !paused;
                SetPauseMode(paused ? 1 : 0);
            } else if (key == Key::NextModule || key == Key::PreviousModule) {
                wantedModule = (module + (key == Key::NextModule ? 1 : count - 1)) % count;
                wantedPosition = -1;
                RequestModule(wantedModule);
            } else if ((key == Key::Next && position + 1 < orders) || (key == Key::Previous && position > 0)) {
                wantedPosition = position + (key == Key::Next ? 1 : -1);
                RequestPosition(wantedPosition);
            }
        }
        if (status && known && (tick % 10 == 0 || key != Key::None)) {
            DrawStatus(s, songs, paused, keys);
            drawn = true;
        }
    }
    GiveKeysBack();
    if (drawn)
        fputs(keys ? "\x1b[2B\n" : "\x1b[B\n", stderr);
    StopMusic();
    CloseSound();
    printf("played %.1f s, %llu underruns%s%s\n", double(CountFramesPlayed() - framesBefore) / 44100.0,
           (unsigned long long)CountUnderruns(), StreamFault() ? ", audio fault: " : "",
           StreamFault() ? StreamFault() : "");
    return exitStatus != 0 ? exitStatus : StreamFault() ? 1 : 0;
}
