// The song's course without its sound: the engines run tick by tick with nothing to render, for the length of a
// song and for moving to an order position with the speed, tempo and loops it would have there.
#include "music/music.h"

#include <bitset>
#include <cstring>

namespace {

// Longer than any song a scan follows; a song that neither ends nor repeats a row (loops that never settle) stops
// there.
constexpr int64_t MaxScanFrames = int64_t(2) * 3600 * 44100;

} // namespace

void StartSong(Module* module) {
    player.module = module;
    player.ticksPerSecond = 50.0f;
    player.samplesPerTick = 882;
    player.speed = 6;
    if (module && module->isXm) {
        player.speed = module->defaultSpeed;
        SetStartTempo(module->defaultBpm);
    }
    player.songEnded = 0;
    player.orderPosition = 0;
    player.row = 0;
    player.tick = 0;
}

int64_t ScanSong(int32_t stopAt, bool* reached) {
    *reached = false;
    Module* module = player.module;
    if (!module)
        return 0;
    // With no block to fill, a tempo change finds no room either, so the budget stays 0 and no channel renders.
    const int32_t writePosition = player.writePosition, blockFrames = player.blockFrames;
    player.blockFrames = 0;
    std::bitset<MaxOrders * 256> played; // rows started, by order position and row
    int64_t frames = 0;
    while (frames < MaxScanFrames) {
        if (player.tick == 0) {
            if (player.orderPosition == stopAt) {
                *reached = true;
                break;
            }
            if (player.row >= 0 && player.row < 256) {
                const size_t at = size_t(player.orderPosition & (MaxOrders - 1)) * 256 + size_t(player.row);
                // A pattern loop plays its rows again while its count runs; any other return is the song repeating.
                if (played[at] && player.patternLoopCount == 0)
                    break;
                played[at] = true;
            }
        }
        player.writePosition = 0;
        player.tickBudget = 0;
        if (module->isXm)
            XmTick(module);
        else
            ModTick(module);
        frames += player.writePosition;
        if (player.songEnded)
            break;
    }
    player.writePosition = writePosition;
    player.blockFrames = blockFrames;
    return frames;
}

int64_t SongLengthFrames(int32_t index) {
    if (playerTaken || index < 0 || index >= player.moduleCount || !player.moduleTable[index])
        return -1;
    const PlayerState saved = player;
    Channel savedChannels[MaxChannels];
    std::memcpy(savedChannels, channels, sizeof channels);
    StartSong(player.moduleTable[index]);
    player.patternDelay = 0;
    player.patternLoopCount = 0;
    player.patternLoopRow = 0;
    bool reached = false;
    const int64_t frames = ScanSong(-1, &reached);
    player = saved;
    std::memcpy(channels, savedChannels, sizeof channels);
    return frames;
}
