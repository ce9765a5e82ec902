// quimbles-inspect end to end: what it writes is what the decoders give in this process (themselves checked
// against libpng and zlib), and its exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "image/png.h"
#include "test_temp.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs a program with the arguments and captures stdout and the exit status.
std::pair<int, std::string> RunTool(const std::string& program, const std::string& args) {
    std::FILE* p = popen(("'" + program + "' " + args + " 2>/dev/null").c_str(), "r");
    std::string out;
    char buffer[256];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
        out.append(buffer, n);
    int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::pair<int, std::string> Inspect(const std::string& args) {
    return RunTool(INSPECT_PROGRAM, args);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(Inspect, WritesWhatTheDecodersGiveAndReportsFailures) {
    const std::string out = TestTempPath("out");
    for (const char* name : {"basn2c08.png", "basn0g08.png"}) {
        const std::string png = std::string(QUIMBLES_CORPUS_DIR) + "/png/pngsuite/basic/" + name;
        for (int mode : {0, 3}) {
            Image image{};
            ASSERT_TRUE(LoadPng(png.c_str(), &image, mode)) << PngError();
            Bytes pixels(image.pixels, image.pixels + 32 * 32 * (image.isGrey ? 1 : 4));
            std::free(image.pixels);
            EXPECT_EQ(Inspect("png '" + png + "' '" + out + "' " + std::to_string(mode)),
                      std::make_pair(0, std::string(image.isGrey ? "32 32 0 1\n" : "32 32 0 0\n")));
            EXPECT_TRUE(ReadFile(out) == pixels) << name << " " << mode;
        }
    }
    EXPECT_EQ(Inspect("png '" + TestTempPath("no-such.png") + "' '" + out + "'").first, 1);
    const std::string png0 = std::string(QUIMBLES_CORPUS_DIR) + "/png/pngsuite/basic/basn0g08.png";

    Bytes data;
    for (int i = 0; i < 20000; ++i)
        data.push_back(uint8_t("inspect"[i % 7] + i / 1000));
    uLongf length = compressBound(uLong(data.size()));
    Bytes stream(length);
    compress2(stream.data(), &length, data.data(), uLong(data.size()), 9);
    stream.resize(length);
    const std::string zlib = WriteTempFile("in.zlib", stream);
    for (int limit : {20000, 99999, 1234}) {
        EXPECT_EQ(Inspect("inflate '" + zlib + "' " + std::to_string(limit) + " '" + out + "'").first, 0);
        EXPECT_TRUE(ReadFile(out) == Bytes(data.begin(), data.begin() + std::min(limit, 20000))) << limit;
    }
    EXPECT_EQ(Inspect("inflate '" + WriteTempFile("bad.zlib", {'x', 'x', 0xFF, 0xFF}) + "' 100 '" + out + "'").first,
              1);

    // An output that cannot be written has its own status, and nothing reaches stdout.
    const std::string nowhere = " '" + TestTempPath("no-such-folder") + "/out'";
    for (const std::string& args : {"png '" + png0 + "'" + nowhere, "inflate '" + zlib + "' 100" + nowhere})
        EXPECT_EQ(Inspect(args), std::make_pair(3, std::string())) << args;
    // The other tools' --help: status 0, each option of quimbles-capture explained on a line of its own.
    const auto capture = RunTool(TOOL_DIR "/quimbles-capture", "--help");
    EXPECT_EQ(capture.first, 0);
    for (const char* option : {"--data DIR  ", "--fps N  ", "--video OUT  ", "--wav OUT.wav  ", "--frame-log FILE  "})
        EXPECT_NE(capture.second.find(option), std::string::npos) << option;
    EXPECT_EQ(RunTool(TOOL_DIR "/make-data", "--help").first, 0);

    EXPECT_EQ(Inspect("").first, 2);
    auto help = Inspect("--help");
    EXPECT_EQ(help.first, 0);
    EXPECT_NE(help.second.find("inflate IN LIMIT OUT"), std::string::npos);
    for (const char* usage : {"movie2", "png onlyone", "png a b notanumber", "inflate a -5 b", "inflate a 5"})
        EXPECT_EQ(Inspect(usage).first, 2) << usage;
}
