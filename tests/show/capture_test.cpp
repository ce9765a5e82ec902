// The whole show captured on the virtual platform, twice: the frame logs and the WAV files must be the same
// bytes, the log must have one line per frame of the show, and known frames must have the CRC-32 that zlib
// gives for the pixels they must hold.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <regex>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_temp.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// CRC-32 of 640 x 480 copies of one word, written little-endian.
std::string CrcOfUniform(uint32_t word) {
    std::vector<uint8_t> bytes(640 * 480 * 4);
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = uint8_t(word >> 8 * (i % 4));
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", crc32(crc32(0, nullptr, 0), bytes.data(), uInt(bytes.size())));
    return text;
}

struct CaptureRun {
    std::vector<std::string> log;
    std::vector<uint8_t> wav;
    int status;
};

const std::string capture = std::string(QUIMBLES_BINARY_DIR) + "/bin/quimbles-capture --data '";
const fs::path root = TestTempDir();

CaptureRun Capture(const fs::path& data, const std::string& name) {
    const fs::path log = root / (name + ".log"), wav = root / (name + ".wav");
    const std::string command =
        capture + data.string() + "' --frame-log '" + log.string() + "' --wav '" + wav.string() + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return {Lines(log), ReadFileBytes(wav), status};
}

TEST(CaptureShow, TheRealDataTwiceGivesTheSameBytes) {
    const fs::path data = fs::path(QUIMBLES_SOURCE_DIR) / "data";
    const CaptureRun first = Capture(data, "first"), second = Capture(data, "second");
    ASSERT_EQ(first.status | second.status, 0);
    EXPECT_EQ(first.log, second.log);
    EXPECT_EQ(first.wav, second.wav);
    // The picture scenes' 3526 frames and each movie twice.
    uint64_t movieFrames = 0;
    for (const char* name : {"tabi.movie", "rocu.movie", "rocu_mange.movie"}) {
        const auto bytes = ReadFileBytes(data / name);
        movieFrames += bytes[5] | (bytes[6] << 8) | (bytes[7] << 16) | (uint32_t(bytes[8]) << 24);
    }
    EXPECT_EQ(first.log.size(), 3526 + 2 * movieFrames);
    // Frame 0 and the last frame are black: zlib's CRC of 640 x 480 zero words.
    ASSERT_FALSE(first.log.empty());
    EXPECT_EQ(first.log.front(), "0 " + CrcOfUniform(0));
    EXPECT_EQ(first.log.back(), std::to_string(first.log.size() - 1) + " " + CrcOfUniform(0));
    EXPECT_GT(first.wav.size(), 44u + 44100 * 4 * 50);
    EXPECT_EQ(std::string(first.wav.begin(), first.wav.begin() + 4), "RIFF");
    // No data at all: the capture fails and names the first file it waited for.
    fs::create_directories(root / "empty");
    EXPECT_NE(std::system((capture + (root / "empty").string() + "' 2>'" + (root / "said.txt").string() + "'").c_str()),
              0);
    const auto said = ReadFileBytes(root / "said.txt");
    EXPECT_NE(std::string(said.begin(), said.end()).find("data/wide.xm"), std::string::npos);
}

// Frames 40, 60 and 85 of a video (0.67 to 1.42 s into the show: the first picture fading in and fully shown) as
// ffmpeg decodes them for a player: RGB, 3 bytes a pixel.
std::vector<uint8_t> Frames(const fs::path& video) {
    const fs::path raw = root / (video.filename().string() + ".rgb");
    std::system(("ffmpeg -v error -i '" + video.string() + "' -vf \"select='eq(n,40)+eq(n,60)+eq(n,85)'\" -vsync 0 " +
                 "-f rawvideo -pix_fmt rgb24 -y '" + raw.string() + "'")
                    .c_str());
    return ReadFileBytes(raw);
}

// The 640x480 frames `reference` against the same frames of `video`, each pixel of the reference an n x n block
// at (left, top) of a width-wide frame: PSNR over all of them, or for exact = true, whether every byte matches.
double Psnr(const std::vector<uint8_t>& reference, const std::vector<uint8_t>& video, int n, int width, int left,
            int top, bool exact = false) {
    const size_t frames = reference.size() / (640 * 480 * 3);
    if (frames != 3 || video.size() / frames < size_t(width) * (top + 480 * n) * 3)
        return 0;
    double squares = 0;
    for (size_t f = 0; f < frames; f++)
        for (int y = 0; y < 480 * n; y++)
            for (int x = 0; x < 640 * n * 3; x++) {
                const double d = reference[((f * 480 + y / n) * 640 + x / 3 / n) * 3 + x % 3] -
                                 video[(f * (video.size() / frames)) + (size_t(top + y) * width + left) * 3 + x];
                if (exact && d != 0)
                    return 0;
                squares += d * d;
            }
    return squares == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * frames * 640 * 480 * n * n * 3 / squares);
}

// ffprobe's reading of a video: codec, profile, width, height, pixel format, level, then the duration.
std::string Probe(const fs::path& video) {
    std::string text;
    if (FILE* out = popen(("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,profile,width,height,"
                           "pix_fmt,level:format=duration -of csv=p=0 '" +
                           video.string() + "'")
                              .c_str(),
                          "r")) {
        for (int c; (c = std::fgetc(out)) != EOF;)
            text += c == '\n' ? ' ' : char(c);
        pclose(out);
    }
    return text;
}

TEST(CaptureVideo, ScaledForEveryPlayerAndExactWhenLossless) {
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no ffmpeg";
    const std::string show = capture + (fs::path(QUIMBLES_SOURCE_DIR) / "data").string() + "' --seconds 1.5 ";
    const auto run = [&](const std::string& options, const std::string& name) {
        return std::system((show + options + " --video '" + (root / name).string() + "' 2>/dev/null").c_str());
    };
    ASSERT_EQ(run("", "reference.mkv") | run("--scale 3", "scale3.mkv"), 0);
    const std::vector<uint8_t> reference = Frames(root / "reference.mkv");
    EXPECT_EQ(Psnr(reference, Frames(root / "scale3.mkv"), 3, 1920, 0, 0, true), 99); // every 3 x 3 block exact
    // H.264 for players: High profile at the level of the frame size, 4:4:4 only when asked. Scale 4 in a 4K frame.
    struct Case {
        std::string options, name, probe;
        int n, width, left, top;
        double psnr;
    };
    for (const Case& c : {Case{"", "scale1.mp4", "h264 High 640 480 yuv420p 31 1.500000 ", 1, 640, 0, 0, 36},
                          Case{"--chroma 444", "scale1-444.mp4",
                               "h264 High 4:4:4 Predictive 640 480 yuv444p 31 "
                               "1.500000 ",
                               1, 640, 0, 0, 40},
                          Case{"--scale 2", "scale2.mp4", "h264 High 1280 960 yuv420p 42 1.500000 ", 2, 1280, 0, 0, 40},
                          Case{"--scale 4 --size 3840x2160", "scale4.mp4", "h264 High 3840 2160 yuv420p 52 1.500000 ",
                               4, 3840, 640, 120, 40}}) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(run(c.options, c.name), 0);
        EXPECT_EQ(std::regex_replace(Probe(root / c.name), std::regex(","), " "), c.probe);
        // At scale 1, 4:2:0 halves the colour of single pixels: about 38 dB on these fading-in frames.
        EXPECT_GE(Psnr(reference, Frames(root / c.name), c.n, c.width, c.left, c.top), c.psnr);
        // The index (moov) comes before the data (mdat), so that players can start at once.
        const std::vector<uint8_t> mp4 = ReadFileBytes(root / c.name);
        const std::string head(mp4.begin(), mp4.begin() + std::min<size_t>(mp4.size(), 4096));
        EXPECT_LT(head.find("moov"), head.find("mdat"));
    }
    EXPECT_NE(run("--scale 4 --size 1920x1080", "small.mp4"), 0); // a frame that cannot hold the picture
}

} // namespace
