// The whole show captured on the virtual platform, twice: the frame logs and the WAV files must be the same
// bytes, the log must have one line per frame of the show, and known frames must have the CRC-32 that zlib
// gives for the pixels they must hold.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_temp.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

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
    return {Lines(log), ReadAll(wav), status};
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
        const auto bytes = ReadAll(data / name);
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
    const auto said = ReadAll(root / "said.txt");
    EXPECT_NE(std::string(said.begin(), said.end()).find("data/wide.xm"), std::string::npos);
}

} // namespace
