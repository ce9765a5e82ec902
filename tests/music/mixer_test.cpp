// The mix-down: saturation in channel order, the surplus carried over, fades and module switching.
#include "music_test.h"

#include <gtest/gtest.h>

namespace {

class Mixer : public ::testing::Test {
protected:
    void SetUp() override { ResetMusicState(); }
    void TearDown() override {
        player.module = nullptr;
        ResetMusicState();
    }

    // A bare module with no song, for mixing what the test puts into the MixBuffers.
    Module bare{};
    void PrepareBare(int channelCount) {
        PrepareMusic();
        bare.isXm = 1;
        bare.channelCount = channelCount;
        player.module = &bare;
    }
    void Fill(int ch, int value, int from = 0, int to = ChunkFrames) {
        for (int f = from; f < to; ++f)
            player.mixBuffers[0][ch][2 * f] = player.mixBuffers[0][ch][2 * f + 1] = static_cast<int16_t>(value);
    }
    // A whole chunk is already rendered: RenderFrames only mixes.
    const int16_t* MixOnly(int surplus = 0) {
        player.writePosition = ChunkFrames + surplus;
        return RenderFrames(ChunkFrames);
    }
};

// A song of `rows` rows at one tick per row on `channels` channels.
XmSong ShortSong(int channels, int rows, int bpm = 125) {
    XmSong song = Song(channels, rows, 1);
    song.bpm = bpm;
    return song;
}

} // namespace

TEST_F(Mixer, SumsSaturateAfterEveryChannel) {
    PrepareMusic(); // nothing loaded: silence
    const int16_t* nothing = RenderFrames(ChunkFrames);
    for (int i = 0; i < 2 * ChunkFrames; ++i)
        ASSERT_EQ(nothing[i], 0);

    PrepareBare(3);
    Fill(0, 30000);
    Fill(1, 30000);
    Fill(2, -30000);
    const int16_t* out = MixOnly();
    for (int i = 0; i < 2 * ChunkFrames; ++i)
        ASSERT_EQ(out[i], 2767) << i; // 32767 after channel 1, then 32767 - 30000

    Fill(0, 20000);
    Fill(1, 20000);
    Fill(2, 0);
    EXPECT_EQ(MixOnly()[0], 32767);
    Fill(0, -20000);
    Fill(1, -20000);
    EXPECT_EQ(MixOnly()[7], -32767); // never -32768
    Fill(0, -32768);
    Fill(1, 0);
    EXPECT_EQ(MixOnly()[100], -32767);
    Fill(0, -30000);
    Fill(1, 30000);
    Fill(2, 30000);
    EXPECT_EQ(MixOnly()[5], 30000); // the same values in another order: no saturation on the way

    bare.channelCount = 0;
    const int16_t* silent = MixOnly();
    for (int i = 0; i < 2 * ChunkFrames; ++i)
        ASSERT_EQ(silent[i], 0);
}

TEST_F(Mixer, FadesTakeTenTicks) {
    ASSERT_EQ(LoadXm("fade.xm", ShortSong(1, 64)), 0) << ModuleError();
    PrepareMusic();
    ASSERT_EQ(player.samplesPerTick, 882); // one RenderFrames(882) is one tick
    player.masterVolume = 1.0f;
    SetFadeMode(1);
    for (int t = 1; t <= 9; ++t) {
        RenderFrames(882);
        ASSERT_GT(player.masterVolume, 0.0f) << t;
        ASSERT_EQ(FadeMode(), 1);
    }
    RenderFrames(882);
    EXPECT_EQ(player.masterVolume, 0.0f);
    EXPECT_EQ(FadeMode(), -1);

    // Fading in from 0: 0.1 up per tick.
    SetFadeMode(2);
    RenderFrames(882);
    EXPECT_FLOAT_EQ(player.masterVolume, 0.1f);
    for (int t = 2; t <= 10; ++t)
        RenderFrames(882);
    EXPECT_EQ(player.masterVolume, 1.0f);
    EXPECT_EQ(FadeMode(), -1);
    // A new mode during a fade takes over from the current volume; 3 and 4 act at once.
    SetFadeMode(1);
    RenderFrames(882);
    RenderFrames(882);
    SetFadeMode(2);
    RenderFrames(882);
    EXPECT_FLOAT_EQ(player.masterVolume, 0.9f);
    SetFadeMode(3);
    RenderFrames(882);
    EXPECT_EQ(player.masterVolume, 0.0f);
    EXPECT_EQ(FadeMode(), -1);
    SetFadeMode(4);
    RenderFrames(882);
    EXPECT_EQ(player.masterVolume, 1.0f);
    EXPECT_EQ(FadeMode(), -1);
    SetFadeMode(7); // unknown: nothing
    RenderFrames(882);
    EXPECT_EQ(player.masterVolume, 1.0f);
}

TEST_F(Mixer, RepeatOneRestartsTheSongEvenWithOtherModulesLoaded) {
    ASSERT_EQ(LoadXm("repeat.xm", ShortSong(1, 3)), 0) << ModuleError();
    ASSERT_EQ(LoadXm("other.xm", ShortSong(2, 5, 126)), 1) << ModuleError();
    SetRepeatMode(1);
    PrepareMusic();
    RequestModule(0);
    RenderFrames(882); // the request restarts the module after this tick
    EXPECT_EQ(player.row, 0);
    RenderFrames(882);
    RenderFrames(882);
    EXPECT_EQ(player.row, 2);
    EXPECT_EQ(SongEndCount(), 0);
    RenderFrames(882); // past the last row: the song ends and starts again
    EXPECT_EQ(SongEndCount(), 1);
    EXPECT_EQ(player.currentModule, 0);
    EXPECT_EQ(player.module, player.moduleTable[0]);
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.songEnded, 0);
}

TEST_F(Mixer, RepeatZeroPlaysTheModulesInTurn) {
    for (int m = 0; m < 3; ++m)
        ASSERT_EQ(LoadXm("list" + std::to_string(m) + ".xm", ShortSong(m + 1, 2 + m, 120 + m)), m);
    SetRepeatMode(0);
    PrepareMusic();
    RequestModule(0);
    std::vector<int> order;
    int last = -1;
    for (int t = 0; t < 40 && order.size() < 5; ++t) {
        RenderFrames(ChunkFrames / 4);
        if (player.currentModule != last) {
            order.push_back(last = player.currentModule);
            EXPECT_EQ(player.module, player.moduleTable[last]);
        }
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 0, 1}));
}

TEST_F(Mixer, RequestsSwitchAfterTheTickAndIgnoreUnknownModules) {
    ASSERT_EQ(LoadXm("a.xm", ShortSong(1, 8)), 0);
    ASSERT_EQ(LoadXm("b.xm", ShortSong(2, 8, 126)), 1);
    SetRepeatMode(1);
    PrepareMusic();
    RenderFrames(882);
    RenderFrames(882);
    EXPECT_EQ(player.row, 2);
    RequestModule(5); // not loaded: nothing changes
    RequestModule(-3);
    RenderFrames(882);
    EXPECT_EQ(player.row, 3);
    EXPECT_EQ(player.currentModule, 0);
    // An unknown index does not replace a request still pending.
    RequestModule(0);
    RequestModule(2);
    RenderFrames(882);
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.currentModule, 0);
    RenderFrames(882);
    RenderFrames(882);

    // Channel 1 holds old frames that module a never rendered; module b must not mix them.
    for (int k = 0; k < 2 * MixBufferFrames; ++k)
        player.mixBuffers[0][1][k] = 999;
    RequestModule(1);
    int16_t* out = RenderFrames(100); // one tick of 882: 782 frames stay in the buffers
    EXPECT_EQ(player.currentModule, 1);
    EXPECT_EQ(player.module, player.moduleTable[1]);
    EXPECT_EQ(player.row, 0);
    EXPECT_EQ(player.samplesPerTick, 874);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(out[i], 0) << i;
    RenderFrames(782 + 874 - 1); // mixes the surplus together with a tick of module b
    EXPECT_EQ(player.channelCount, 2);
    EXPECT_EQ(player.writePosition, 1);
}
