#pragma once
// Drives the MOD engine tick by tick the way the mix-down does, with the player state of a song start
// (50 ticks per second, 882 frames per tick, speed 6, every channel silent and centred).
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mod_file.h"
#include "music/music.h"

struct ModPlayerHarness {
    Module* module = nullptr;
    std::vector<int16_t> buffers[2][MaxChannels];
    std::vector<int16_t> lastTick[MaxChannels]; // the frames of the last tick, two values per frame

    void Start() {
        FillPeriodTable();
        memset(&player, 0, sizeof player);
        memset(channels, 0, sizeof channels);
        for (int b = 0; b < 2; ++b)
            for (int ch = 0; ch < MaxChannels; ++ch) {
                buffers[b][ch].assign(2 * MixBufferFrames, 0);
                player.mixBuffers[b][ch] = buffers[b][ch].data();
            }
        for (int ch = 0; ch < MaxChannels; ++ch) {
            player.channelPan[ch] = 0.5f;
            channels[ch].noteCutTick = -1;
            channels[ch].noteDelayTick = -1;
        }
        player.ticksPerSecond = 50.0f;
        player.samplesPerTick = 882;
        player.blockFrames = BlockFrames;
        player.masterVolume = 1.0f;
        player.speed = 6;
        player.module = module;
        player.channelCount = module->channelCount;
    }

    bool Load(const ModFile& file, const char* name = "engine.mod") {
        Free();
        FillPeriodTable(); // the loader finds note indices in it, as after the start-up's BuildPeriodTables
        module = static_cast<Module*>(calloc(1, sizeof(Module)));
        if (!LoadModFile(WriteTempFile(name, file.Bytes()).c_str(), module))
            return false;
        Start();
        return true;
    }

    bool LoadPath(const std::string& path) {
        Free();
        FillPeriodTable();
        module = static_cast<Module*>(calloc(1, sizeof(Module)));
        if (!LoadModFile(path.c_str(), module))
            return false;
        Start();
        return true;
    }

    void Free() {
        if (module)
            FreeModule(module);
        module = nullptr;
    }

    // One tick; stale values are left in the buffers first so that a channel which writes nothing shows up.
    void Tick() {
        for (int ch = 0; ch < MaxChannels; ++ch)
            std::fill(buffers[0][ch].begin(), buffers[0][ch].end(), static_cast<int16_t>(0x5A5A));
        player.tickBudget = 1;
        int start = player.writePosition;
        ModTick(module);
        for (int ch = 0; ch < module->channelCount; ++ch)
            lastTick[ch].assign(buffers[0][ch].begin() + 2 * start, buffers[0][ch].begin() + 2 * player.writePosition);
        player.writePosition = 0;
    }

    void Ticks(int n) {
        for (int i = 0; i < n; ++i)
            Tick();
    }

    // True when every frame of the channel's last tick is (left, right).
    bool AllFrames(int ch, int left, int right) const {
        const std::vector<int16_t>& t = lastTick[ch];
        if (t.empty())
            return false;
        for (size_t i = 0; i < t.size(); i += 2)
            if (t[i] != left || t[i + 1] != right)
                return false;
        return true;
    }
};

// Where a voice stands after `frames` frames at `period`, by the playback formula: the step is 14318181 / (2 x
// period) / ticksPerSecond / samplesPerTick, held as a float, and the position is a float summed frame by frame.
inline float AdvancePosition(float pos, int period, int frames = 882, float ticksPerSecond = 50.0f,
                             int samplesPerTick = 882) {
    float step = static_cast<float>(14318181.0 / (2.0 * period) / static_cast<double>(ticksPerSecond) /
                                    static_cast<double>(samplesPerTick));
    for (int f = 0; f < frames; ++f)
        pos = pos + step;
    return pos;
}
