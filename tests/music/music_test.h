// Helpers of the music tests: a clean player, and small XM (through make-data's writer) and MOD files.
#pragma once
#include "audio/mixer.h"
#include "music/music.h"
#include "test_temp.h"
#include "xm_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using makedata::XmCell;
using makedata::XmInstrument;
using makedata::XmPattern;
using makedata::XmSample;
using makedata::XmSong;

// Empties the player between tests: no modules, fresh channels, the values of program start.
inline void ResetMusicState() {
    ReleaseMusic();
    ResetPlayer();
    SetFadeMode(-1);
    SetRepeatMode(0);
    BuildPeriodTables();
}

// A song of one pattern of `rows` rows; `cells` lists rows, each the cells of channels 0, 1, ...
inline XmSong Song(int channels, int rows, int speed, std::vector<std::vector<XmCell>> cells = {}) {
    XmSong song;
    song.channels = channels;
    song.speed = speed;
    song.orders = {0};
    XmPattern p{rows, channels, std::vector<XmCell>(size_t(rows) * channels), {}};
    for (size_t r = 0; r < cells.size(); ++r)
        for (size_t c = 0; c < cells[r].size(); ++c)
            p.At(int(r), int(c)) = cells[r][c];
    song.patterns = {p};
    return song;
}

// One 8-bit sample of `frames` frames of a ramp, mapped to every note.
inline XmInstrument RampInstrument(int frames, int volume = 64) {
    XmSample s;
    for (int i = 0; i < frames; ++i)
        s.data.push_back(i % 200 - 100);
    s.volume = volume;
    s.panning = 128;
    XmInstrument in;
    in.samples = {s};
    return in;
}

inline int LoadXm(const std::string& name, const XmSong& song) {
    const std::vector<uint8_t> bytes = makedata::WriteXm(song);
    return LoadModuleFromMemory(bytes.data(), bytes.size(), name.c_str());
}

// Channel fields side by side, to check a row of hand-worked values at once.
constexpr auto Period = &Channel::period, Volume = &Channel::volume, Finetune = &Channel::finetune,
               Instrument_ = &Channel::instrument;
inline std::vector<int> Fields(const Channel& c, std::initializer_list<int32_t Channel::*> fields) {
    std::vector<int> out;
    for (auto f : fields)
        out.push_back(c.*f);
    return out;
}
using Ints = std::vector<int>;

// A clean player around every test, and the engine driven one tick at a time as the mix-down drives it.
struct MusicTest : ::testing::Test {
    void SetUp() override { ResetMusicState(); }
    void TearDown() override {
        player.module = nullptr;
        ResetMusicState();
    }
    void Start(const XmSong& song) {
        ResetMusicState();
        ASSERT_EQ(LoadXm("engine.xm", song), 0) << ModuleError();
        PrepareMusic();
    }
    // Stale values go into the buffers first, so that a channel which writes nothing shows up.
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            for (auto& buffer : player.mixBuffers[0])
                std::fill_n(buffer, 2 * MixBufferFrames, int16_t(0x5A5A));
            for (int32_t& quiet : player.quietFrom)
                quiet = MixBufferFrames;
            player.tickBudget = 1;
            player.module->isXm ? XmTick(player.module) : ModTick(player.module);
            frames = player.writePosition;
            player.writePosition = 0;
        }
    }
    // True when every frame channel `ch` wrote in the last tick is (left, right).
    bool AllFrames(int ch, int left, int right) const {
        for (int f = 0; f < frames; ++f)
            if (player.mixBuffers[0][ch][2 * f] != left || player.mixBuffers[0][ch][2 * f + 1] != right)
                return false;
        return frames > 0;
    }
    int frames = 0;
};

// A 31-sample MOD file, every field where the format puts it.
struct ModCell {
    int sample = 0, period = 0, effect = 0, param = 0;
};
struct ModSample {
    int lengthWords = 0, finetuneByte = 0, volumeByte = 0, loopStartWords = 0, loopLengthWords = 0;
    std::vector<uint8_t> data; // may be shorter than the length, to cut the file
};
struct ModFile {
    std::string signature;
    int channels;
    int songLength = 1;
    uint8_t orders[128] = {};
    ModSample samples[32]; // 1..31 used
    std::vector<ModCell> cells;

    explicit ModFile(int channelCount = 4, int patterns = 1, const char* sig = "M.K.")
        : signature(sig, 4), channels(channelCount), cells(size_t(patterns) * 64 * channelCount) {}
    ModCell& Cell(int pattern, int row, int channel) {
        return cells[(size_t(pattern) * 64 + row) * channels + channel];
    }
    // A sample of `frames` bytes of `value`.
    void FlatSample(int n, int frames, int8_t value, int volume = 64, int finetuneByte = 0) {
        samples[n] = {frames / 2, finetuneByte, volume, 0, 0, std::vector<uint8_t>(frames, uint8_t(value))};
    }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out(1084, 0);
        std::memcpy(out.data(), "test module", 11);
        for (int n = 1; n <= 31; ++n) {
            uint8_t* h = &out[20 + (n - 1) * 30];
            std::string name = "sample " + std::to_string(n);
            std::memcpy(h, name.data(), name.size());
            const ModSample& s = samples[n];
            auto put16 = [](uint8_t* at, int v) { at[0] = uint8_t(v >> 8), at[1] = uint8_t(v); };
            put16(h + 22, s.lengthWords);
            h[24] = uint8_t(s.finetuneByte);
            h[25] = uint8_t(s.volumeByte);
            put16(h + 26, s.loopStartWords);
            put16(h + 28, s.loopLengthWords);
        }
        out[950] = uint8_t(songLength);
        out[951] = 127;
        std::memcpy(&out[952], orders, 128);
        std::memcpy(&out[1080], signature.data(), 4);
        for (const ModCell& c : cells)
            out.insert(out.end(), {uint8_t((c.sample & 0xF0) | ((c.period >> 8) & 0x0F)), uint8_t(c.period),
                                   uint8_t(((c.sample & 0x0F) << 4) | (c.effect & 0x0F)), uint8_t(c.param)});
        for (int n = 1; n <= 31; ++n)
            out.insert(out.end(), samples[n].data.begin(), samples[n].data.end());
        return out;
    }
};
