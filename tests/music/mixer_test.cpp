// The mix-down: saturation in channel order, the surplus carried over, fades and module switching.
#include "music_test.h"

#include <gtest/gtest.h>

namespace {

struct Mixer : MusicTest {
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
        player.quietFrom[ch] = MixBufferFrames;
    }
    // A whole chunk is already rendered: RenderFrames only mixes.
    const int16_t* MixOnly(int frames = ChunkFrames) {
        player.writePosition = frames;
        return RenderFrames(frames);
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
    // Three channels of one value each, and the mix: held to +-32767 after every channel, in channel order.
    const int sums[][4] = {{30000, 30000, -30000, 2767},
                           {20000, 20000, 0, 32767},
                           {-20000, -20000, 0, -32767},
                           {-32768, 0, 0, -32767},
                           {-30000, 30000, 30000, 30000}};
    for (const auto& s : sums) {
        for (int ch = 0; ch < 3; ++ch)
            Fill(ch, s[ch]);
        for (int frames : {ChunkFrames, 3}) { // three frames: six sums, all of them left to the plain code
            const int16_t* out = MixOnly(frames);
            for (int i = 0; i < 2 * frames; ++i)
                ASSERT_EQ(out[i], s[3]) << s[0] << " " << i << " of " << 2 * frames;
        }
    }
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
    // (mode set before a run of ticks, ticks, volume after them, mode after them): out takes ten ticks of 0.1, in
    // the same; a new mode takes over from the current volume; 3 and 4 act at once; an unknown mode does nothing.
    const struct {
        int mode, ticks;
        float volume;
        int after;
    } steps[] = {{1, 9, 0.1f, 1}, {-2, 1, 0.0f, -1}, {2, 1, 0.1f, 2},  {-2, 9, 1.0f, -1}, {1, 2, 0.8f, 1},
                 {2, 1, 0.9f, 2}, {3, 1, 0.0f, -1},  {4, 1, 1.0f, -1}, {7, 1, 1.0f, 7}};
    for (const auto& s : steps) {
        if (s.mode != -2)
            SetFadeMode(s.mode);
        for (int t = 0; t < s.ticks; ++t)
            RenderFrames(882);
        EXPECT_NEAR(player.masterVolume, s.volume, 1e-6f) << s.mode;
        if (s.mode != 7) { // an unknown mode is only checked for leaving the volume alone
            EXPECT_EQ(FadeMode(), s.after) << s.mode;
        }
    }
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

TEST_F(Mixer, PositionRequestsPlayTheWayThereAndAPauseHoldsTheSong) {
    // Orders 0 and 1 of four rows, 2 of sixteen: speed 2 at the start of 0, 150 BPM at the start of 1 (734 frames a
    // tick by the effect rule), a note at the start of 2. Position 2 starts 8 x 882 + 8 x 734 = 12928 frames in.
    XmSong song = Song(1, 4, 1, {{{0, 0, 0, 15, 2}}});
    song.patterns.push_back(song.patterns[0]);
    song.patterns.push_back({16, 1, std::vector<XmCell>(16), {}});
    song.patterns[1].At(0, 0) = {0, 0, 0, 15, 0x96};
    song.patterns[2].At(0, 0) = {49, 1, 0, 0, 0};
    song.orders = {0, 1, 2};
    song.instruments = {RampInstrument(60000)};
    ASSERT_EQ(LoadXm("seek.xm", song), 0) << ModuleError();
    SetRepeatMode(1);
    PrepareMusic();
    RequestPosition(3); // past the song's end: dropped
    RequestPosition(2);
    RenderFrames(100); // the first tick, then the move
    EXPECT_EQ(
        (std::vector<int64_t>{player.orderPosition, player.row, player.speed, player.samplesPerTick, SongFrames()}),
        (std::vector<int64_t>{2, 0, 2, 734, 12928}));
    const auto loud = [](const int16_t* out) {
        return std::any_of(out, out + 2 * ChunkFrames, [](int16_t v) { return v; });
    };
    EXPECT_TRUE(loud(RenderFrames(ChunkFrames)));
    SetPauseMode(1);
    RenderFrames(ChunkFrames); // what was rendered before the pause is still mixed
    const int64_t at = SongFrames();
    const int32_t row = player.row;
    EXPECT_FALSE(loud(RenderFrames(ChunkFrames)));
    EXPECT_EQ(SongFrames(), at);
    EXPECT_EQ(player.row, row);
    SetPauseMode(0);
    EXPECT_TRUE(loud(RenderFrames(ChunkFrames))); // the note goes on
    EXPECT_EQ(SongFrames(), at + 5 * 734);        // five ticks from 574 frames of silence left in the buffers
}
