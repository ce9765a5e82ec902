// quimbles-play end to end: the WAV it writes holds a standard header and exactly the chunks asked for.
#include "xm_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

const std::string Tool = std::string(QUIMBLES_BINARY_DIR) + "/bin/quimbles-play";

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = v << 8 | b[at + k];
    return v;
}

int RunTool(const std::string& args) {
    return std::system((Tool + " " + args + " 2>/dev/null").c_str());
}

// Four rows at one tick per row, 125 BPM: the song lasts four ticks of 882 frames, one chunk.
XmSpec FourTickSong() {
    XmSpec spec;
    spec.speed = 1;
    spec.patterns[0].rows = 4;
    spec.patterns[0].cells = {{{49, 1, 0, 0, 0}}};
    spec.instruments = {RampInstrument(20000)};
    return spec;
}

} // namespace

TEST(PlayTool, WritesTheAskedChunksBehindAStandardHeader) {
    std::string song = WriteTempFile("tool.xm", BuildXm(FourTickSong()));
    std::string wav = WriteTempFile("tool.wav", {});
    ASSERT_EQ(RunTool("--wav " + wav + " --seconds 1 " + song), 0);
    std::vector<uint8_t> b = ReadAll(wav);
    const uint32_t data = 13 * 3528 * 4; // ceil(44100 / 3528) = 13 chunks
    ASSERT_EQ(b.size(), 44 + data);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(Le(b, 4, 4), 36 + data);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le(b, 16, 4), 16u);
    EXPECT_EQ(Le(b, 20, 2), 1u);
    EXPECT_EQ(Le(b, 22, 2), 2u);
    EXPECT_EQ(Le(b, 24, 4), 44100u);
    EXPECT_EQ(Le(b, 28, 4), 176400u);
    EXPECT_EQ(Le(b, 32, 2), 4u);
    EXPECT_EQ(Le(b, 34, 2), 16u);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(Le(b, 40, 4), data);

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
            ASSERT_EQ(static_cast<int16_t>(Le(b, 44 + 4 * c * ChunkFrames + 2 * i, 2)), chunk[i]) << c << " " << i;
            sound = sound || chunk[i] != 0;
        }
    }
    EXPECT_TRUE(sound);
    ResetMusicState();
}

TEST(PlayTool, StopsWhenTheSongHasPlayedOnceAndRefusesBadModules) {
    std::string song = WriteTempFile("once.xm", BuildXm(FourTickSong()));
    std::string wav = WriteTempFile("once.wav", {});
    // Chunk 1: the first tick, the restart the request causes, three rows; chunk 2: the last row and the end.
    ASSERT_EQ(RunTool("--wav " + wav + " " + song), 0);
    EXPECT_EQ(ReadAll(wav).size(), 44u + 2 * 3528 * 4);
    // Two modules (repeat 0 by default): each has to end once.
    ASSERT_EQ(RunTool("--wav " + wav + " " + song + " " + song), 0);
    EXPECT_EQ(ReadAll(wav).size(), 44u + 3 * 3528 * 4);

    std::string bad = WriteTempFile("bad.xm", {'E', 'x', 't', 'e', 'n', 'd', 'e', 'd', ' ', 'M', 'o'});
    EXPECT_EQ(WEXITSTATUS(RunTool("--wav " + wav + " " + bad)), 1);
    EXPECT_EQ(WEXITSTATUS(RunTool("--wav " + wav + " --seconds x " + song)), 2);
    EXPECT_EQ(WEXITSTATUS(RunTool("--help")), 0);
}
