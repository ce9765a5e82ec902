// quimbles-inspect end to end: its output files against libpng and zlib, and its exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "deflate_writer.h"
#include "png_writer.h"
#include "test_temp.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
};

// Runs the program with the arguments (already quoted) and captures stdout; stderr goes to err.txt.
Outcome Inspect(const std::string& args) {
    std::string command = std::string("'") + INSPECT_PROGRAM + "' " + args + " 2>'" + TestTempPath("err.txt") + "'";
    Outcome o{};
    std::FILE* p = popen(command.c_str(), "r");
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        o.out.append(buffer, n);
    int status = pclose(p);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

std::string Stderr() {
    std::ifstream in(TestTempPath("err.txt"));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

fs::path Temp(const std::string& name) {
    return TestTempDir() / name;
}

std::string Quote(const fs::path& p) {
    return "'" + p.string() + "'";
}

TEST(Inspect, PngWritesLibpngsPixels) {
    fs::path png = fs::path(QUIMBLES_CORPUS_DIR) / "png/pngsuite/basic/basn2c08.png";
    LibpngImage truth;
    ASSERT_TRUE(ReadWithLibpng(png.string(), &truth));
    Bytes expected;
    for (size_t i = 0; i < truth.samples.size(); i += 3)
        expected.insert(expected.end(), {truth.samples[i], truth.samples[i + 1], truth.samples[i + 2], 255});

    Outcome o = Inspect("png " + Quote(png) + " " + Quote(Temp("inspect.rgba")));
    EXPECT_EQ(o.status, 0) << Stderr();
    EXPECT_EQ(o.out, "32 32 0 0\n");
    EXPECT_TRUE(ReadFile(Temp("inspect.rgba")) == expected);

    o = Inspect("png " + Quote(png) + " " + Quote(Temp("inspect3.rgba")) + " 3");
    EXPECT_EQ(o.status, 0) << Stderr();
    for (size_t i = 3; i < expected.size(); i += 4)
        expected[i] = 128;
    EXPECT_TRUE(ReadFile(Temp("inspect3.rgba")) == expected);

    fs::path grey = fs::path(QUIMBLES_CORPUS_DIR) / "png/pngsuite/basic/basn0g08.png";
    ASSERT_TRUE(ReadWithLibpng(grey.string(), &truth));
    o = Inspect("png " + Quote(grey) + " " + Quote(Temp("inspect.grey")));
    EXPECT_EQ(o.out, "32 32 0 1\n");
    EXPECT_TRUE(ReadFile(Temp("inspect.grey")) == truth.samples);

    o = Inspect("png " + Quote(Temp("no-such.png")) + " " + Quote(Temp("x")));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(Stderr().find("no-such.png"), std::string::npos);
}

TEST(Inspect, InflateWritesZlibsBytes) {
    Bytes data;
    for (int i = 0; i < 20000; ++i)
        data.push_back(static_cast<uint8_t>("inspect"[i % 7] + i / 1000));
    Bytes stream = ZlibCompress(data, 9);
    std::ofstream(Temp("inspect.zlib"), std::ios::binary)
        .write(reinterpret_cast<const char*>(stream.data()), stream.size());
    Outcome o = Inspect("inflate " + Quote(Temp("inspect.zlib")) + " 20000 " + Quote(Temp("inspect.out")));
    EXPECT_EQ(o.status, 0) << Stderr();
    EXPECT_TRUE(ReadFile(Temp("inspect.out")) == data);

    o = Inspect("inflate " + Quote(Temp("inspect.zlib")) + " 99999 " + Quote(Temp("inspect.out")));
    EXPECT_EQ(o.status, 0) << Stderr();
    EXPECT_TRUE(ReadFile(Temp("inspect.out")) == data);

    o = Inspect("inflate " + Quote(Temp("inspect.zlib")) + " 1234 " + Quote(Temp("inspect.out")));
    EXPECT_EQ(o.status, 0) << Stderr();
    EXPECT_TRUE(ReadFile(Temp("inspect.out")) == Bytes(data.begin(), data.begin() + 1234));

    std::ofstream(Temp("garbage.zlib"), std::ios::binary) << "xx\xff\xff\xff";
    o = Inspect("inflate " + Quote(Temp("garbage.zlib")) + " 100 " + Quote(Temp("inspect.out")));
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(Stderr().find("garbage.zlib"), std::string::npos);
}

TEST(Inspect, UsageErrors) {
    EXPECT_EQ(Inspect("").status, 2);
    EXPECT_NE(Stderr().find("usage"), std::string::npos);
    Outcome help = Inspect("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("png FILE OUT"), std::string::npos);
    EXPECT_NE(help.out.find("inflate IN LIMIT OUT"), std::string::npos);
    EXPECT_EQ(Inspect("movie2").status, 2);
    EXPECT_EQ(Inspect("png onlyone").status, 2);
    EXPECT_EQ(Inspect("png a b notanumber").status, 2);
    EXPECT_EQ(Inspect("inflate a -5 b").status, 2);
    EXPECT_EQ(Inspect("inflate a 5").status, 2);
}

} // namespace
