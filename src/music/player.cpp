// The player's global state, with the values it holds when the program starts.
#include "music/music.h"

Channel channels[MaxChannels];

PlayerState player = [] {
    PlayerState state{};
    state.channelCount = 4;
    state.ticksPerSecond = 50.0f;
    state.samplesPerTick = 882;
    state.masterVolume = 1.0f;
    state.speed = 6;
    state.blockFrames = BlockFrames;
    for (float& pan : state.channelPan)
        pan = 0.5f;
    return state;
}();
