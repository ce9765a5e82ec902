// The player's global state, with the values it holds when the program starts.
#include "music/music.h"

#include <cstring>

namespace {

PlayerState StartUpState() {
    PlayerState state{};
    state.channelCount = 4;
    state.ticksPerSecond = 50.0f;
    state.samplesPerTick = 882;
    state.masterVolume = 1.0f;
    state.speed = 6;
    state.blockFrames = BlockFrames;
    for (float& pan : state.channelPan)
        pan = 0.5f;
    for (int32_t& quiet : state.quietFrom)
        quiet = MixBufferFrames;
    return state;
}

} // namespace

Channel channels[MaxChannels];
PlayerState player = StartUpState();
bool playerTaken = false;

void ResetPlayer() {
    player = StartUpState();
    std::memset(channels, 0, sizeof channels);
}
