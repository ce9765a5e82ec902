// quimbles-play end to end: the WAV it writes holds a standard header and exactly the chunks the player renders.
#include "music_test.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = v << 8 | b[at + k];
    return v;
}

int RunTool(const std::string& args) {
    return WEXITSTATUS(
        std::system((std::string(QUIMBLES_BINARY_DIR) + "/bin/quimbles-play " + args + " 2>/dev/null").c_str()));
}

} // namespace

TEST(PlayTool, WritesThePlayersChunksBehindAStandardHeaderAndStopsAtTheSongEnd) {
    // Four rows at one tick per row, 125 BPM: the song lasts four ticks of 882 frames.
    XmSong four = Song(1, 4, 1, {{{49, 1, 0, 0, 0}}});
    four.instruments = {RampInstrument(20000)};
    const std::string song = WriteTempFile("tool.xm", makedata::WriteXm(four)), wav = TestTempPath("tool.wav");
    ASSERT_EQ(RunTool("--wav " + wav + " --seconds 1 " + song), 0);
    std::vector<uint8_t> b = ReadFileBytes(wav);
    const uint32_t data = 13 * 3528 * 4; // ceil(44100 / 3528) = 13 chunks
    ASSERT_EQ(b.size(), 44 + data);
    // The standard 44-byte header: RIFF size, PCM, 2 channels, 44100 Hz, 176400 bytes/s, 4-byte frames, 16 bits.
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4) + std::string(b.begin() + 8, b.begin() + 16), "RIFFWAVEfmt ");
    EXPECT_EQ(
        (std::vector<uint32_t>{Le(b, 4, 4), Le(b, 20, 4), Le(b, 24, 4), Le(b, 28, 4), Le(b, 32, 4), Le(b, 40, 4)}),
        (std::vector<uint32_t>{36 + data, 0x00020001, 44100, 176400, 0x00100004, data}));

    // The same calls in this process give the same samples, in order.
    ResetMusicState();
    ASSERT_EQ(LoadModule(song.c_str()), 0);
    SetRepeatMode(1);
    SetFadeMode(4);
    PrepareMusic();
    RequestModule(0);
    bool sound = false;
    for (int c = 0; c < 13; ++c) {
        const int16_t* chunk = RenderFrames(ChunkFrames);
        for (int i = 0; i < 2 * ChunkFrames; ++i) {
            ASSERT_EQ(int16_t(Le(b, 44 + 4 * c * ChunkFrames + 2 * i, 2)), chunk[i]) << c << " " << i;
            sound = sound || chunk[i] != 0;
        }
    }
    EXPECT_TRUE(sound);
    ResetMusicState();

    // Without --seconds: chunk 1 holds the first tick, the restart the request causes and three rows; chunk 2
    // the last row and the end. Two modules (repeat 0 by default): each has to end once.
    ASSERT_EQ(RunTool("--wav " + wav + " " + song), 0);
    EXPECT_EQ(ReadFileBytes(wav).size(), 44u + 2 * 3528 * 4);
    ASSERT_EQ(RunTool("--wav " + wav + " " + song + " " + song), 0);
    EXPECT_EQ(ReadFileBytes(wav).size(), 44u + 3 * 3528 * 4);
    EXPECT_EQ(RunTool("--wav " + wav + " " + WriteTempFile("bad.xm", {'E', 'x', 't', 'e', 'n', 'd'})), 1);
    EXPECT_EQ(RunTool("--wav " + wav + " --seconds x " + song), 2);
    EXPECT_EQ(RunTool("--help >/dev/null"), 0);
}
