// The MOD playback engine: one tick at a time, with its own voice rendering.
#include "music/music.h"

void ModTick(Module* module)
{
    player.channelCount = module->channelCount;
    player.writePosition += player.samplesPerTick;
}
