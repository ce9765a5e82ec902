// The movie reader: record walking, decoding through OpenJPEG and the bilinear stretch, checked against hand
// values, against an independent straightforward stretch of what OpenJPEG decodes, and with broken input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "j2k_encode.h"
#include "movie/movie.h"
#include "test_temp.h"

namespace {

// mix(a, b, f) written out with multiplications, rounding the difference down in either direction.
int MixByHand(int a, int b, int f) {
    return b >= a ? a + ((f * (b - a)) >> 8) : a - ((f * (a - b)) >> 8);
}

// The stretch computed pixel by pixel from the description, coordinates stepped by addition in double precision
// with the single-precision factors.
std::vector<uint32_t> ReferenceStretch(const std::vector<uint8_t>& rgba, int w, int h) {
    std::vector<uint32_t> out(640 * 480, 0);
    const double stepX = (w - 1) * double(0.0015649452f);
    const double stepY = (h - 1) * double(0.0020876827f);
    double sy = 0;
    for (int r = 0; r < 480; r++, sy += stepY) {
        const int iy = int(sy);
        const int fy = int((sy - iy) * 255);
        if (r < 40 || r > 440)
            continue;
        double sx = 0;
        for (int j = 0; j < 640; j++, sx += stepX) {
            const int ix = int(sx);
            const int fx = int((sx - ix) * 255);
            auto p = [&](int x, int y, int c) { return int(rgba[(size_t(y) * w + x) * 4 + c]); };
            uint32_t word = 0;
            for (int c = 0; c < 3; c++) {
                const int left = MixByHand(p(ix, iy, c), p(ix, iy + 1, c), fy);
                const int right = MixByHand(p(ix + 1, iy, c), p(ix + 1, iy + 1, c), fy);
                word = (word << 8) | uint32_t(MixByHand(left, right, fx));
            }
            out[r * 640 + j] = word;
        }
    }
    return out;
}

std::vector<uint8_t> RandomSamples(int w, int h, int components, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> samples(size_t(w) * h * components);
    for (auto& s : samples)
        s = uint8_t(random());
    return samples;
}

std::vector<uint8_t> ToRgba(const std::vector<uint8_t>& samples, int components) {
    std::vector<uint8_t> rgba;
    for (size_t i = 0; i < samples.size(); i += components)
        rgba.insert(rgba.end(), {samples[i], samples[i + (components > 1)], samples[i + 2 * (components > 1)],
                                 components == 4 ? samples[i + 3] : uint8_t(255)});
    return rgba;
}

class Movie : public ::testing::Test {
protected:
    void TearDown() override { FreeMovie(); }
    std::vector<uint32_t> frame = std::vector<uint32_t>(640 * 480);
    const std::vector<uint32_t>& Frame() { return frame; }
    bool DrawMovieFrame(int32_t i) { return ::DrawMovieFrame(i, frame.data()); }
    void Load(const std::vector<uint8_t>& movie) { ASSERT_TRUE(LoadMovieFromMemory(movie.data(), movie.size())); }
    // Fills the frame buffer with a pattern, draws, and says whether it came out wholly black.
    bool DrawsBlack(int32_t i) {
        std::fill(frame.begin(), frame.end(), 0x00ABCDEF);
        const bool drawn = DrawMovieFrame(i);
        return !drawn && Frame() == std::vector<uint32_t>(640 * 480, 0);
    }
};

TEST_F(Movie, EncodedFramesOfSeveralShapesMatchTheStraightforwardStretch) {
    const struct {
        int w, h, components, tile = 0;
    } cases[] = {{320, 240, 3}, {35, 35, 3},   {2, 300, 4},      {17, 2, 4},
                 {100, 80, 1},  {640, 480, 3}, {640, 480, 3, 8}, {8192, 513, 1, 1024}}; // 4800 tiles; 4.2 Mpixels
    std::vector<std::vector<uint8_t>> frames, rgbas;
    unsigned seed = 1;
    for (const auto& c : cases) {
        const auto samples = RandomSamples(c.w, c.h, c.components, seed++);
        frames.push_back(EncodeJ2k(samples, c.w, c.h, c.components, 1, 1, 0, c.tile));
        ASSERT_FALSE(frames.back().empty());
        rgbas.push_back(ToRgba(samples, c.components));
    }
    Load(MakeMovie(frames, int32_t(frames.size()), 1));
    // Drawn in any order, any number of times.
    for (int i : {4, 0, 2, 5, 1, 3, 0, 6, 7}) {
        ASSERT_TRUE(DrawMovieFrame(i)) << MovieError();
        EXPECT_EQ(Frame(), ReferenceStretch(rgbas[i], cases[i].w, cases[i].h)) << "frame " << i;
    }
}

TEST_F(Movie, BrokenRecordsAndCodestreamsDrawBlack) {
    const auto good = EncodeJ2k(RandomSamples(40, 30, 3, 11), 40, 30, 3);
    const auto goodRgba = ToRgba(RandomSamples(40, 30, 3, 11), 3);
    const auto other = EncodeJ2k(RandomSamples(20, 10, 3, 12), 20, 10, 3);

    // A count smaller than the records: the records past it are not counted.
    Load(MakeMovie({other, good}, 1));
    EXPECT_EQ(MovieRecordCount, 1);
    // A count larger than the records: frames past the end draw the last record.
    Load(MakeMovie({other, good}, 9));
    EXPECT_EQ(MovieFrameCount, 9);
    EXPECT_EQ(MovieRecordCount, 2);
    ASSERT_TRUE(DrawMovieFrame(7));
    EXPECT_EQ(Frame(), ReferenceStretch(goodRgba, 40, 30));
    // A length that runs past the end of the buffer: the walk stops at the record before it.
    auto movie = MakeMovie({good, other}, 2);
    movie.resize(movie.size() - 5);
    Load(movie);
    EXPECT_EQ(MovieRecordCount, 1);
    ASSERT_TRUE(DrawMovieFrame(1));
    EXPECT_EQ(Frame(), ReferenceStretch(goodRgba, 40, 30));
    // Not one whole record.
    movie = MakeMovie({good}, 1);
    movie.resize(movie.size() - 1);
    Load(movie);
    EXPECT_TRUE(DrawsBlack(0));
    EXPECT_TRUE(DrawsBlack(-1));

    auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        auto code = good;
        std::copy(bytes.begin(), bytes.end(), code.begin() + long(at));
        return code;
    };
    const std::vector<std::vector<uint8_t>> bad = {
        std::vector<uint8_t>(good.begin() + 2, good.end()),      // no SOC + SIZ
        std::vector<uint8_t>(good.begin(), good.end() - 2),      // end marker missing: refused
        std::vector<uint8_t>(good.begin(), good.begin() + 30),   // cut inside SIZ
        std::vector<uint8_t>(good.begin(), good.begin() + 4),    // markers only
        EncodeJ2k(RandomSamples(30, 30, 2, 3), 30, 30, 2),       // two components
        EncodeJ2k(RandomSamples(32, 32, 3, 4), 32, 32, 3, 2, 2), // subsampled chroma
        EncodeJ2k(RandomSamples(1, 40, 3, 5), 1, 40, 3),         // one pixel wide
        EncodeJ2k(RandomSamples(40, 1, 3, 5), 40, 1, 3),         // one pixel high
        patched(8, {0x30}),                // Xsiz's top byte: a frame hundreds of millions of pixels wide
        patched(8, {0, 0, 0x20, 0x01}),    // 8193 pixels wide: over the memory budget
        patched(24, {0, 0, 0, 0}),         // tiles of no width
        patched(42, {0x1F}),               // a 32-bit component
        patched(5, {uint8_t(good[5] + 3)}) // marker length no longer 38 + 3 x components
    };
    Load(MakeMovie(bad, int32_t(bad.size())));
    for (int i = 0; i < int(bad.size()); i++) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(DrawsBlack(i)) << "record " << i;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "record " << i;
        EXPECT_STRNE(MovieError(), "");
    }
}

TEST_F(Movie, CorpusCodestreamsAgreeWithOpenJpegDecodedDirectly) {
    const std::filesystem::path root = std::filesystem::path(QUIMBLES_CORPUS_DIR) / "j2k";
    if (!std::filesystem::exists(root))
        GTEST_SKIP() << "no corpus at " << root;
    int drawn = 0, black = 0;
    for (const char* folder : {"generated", "real"}) {
        for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
            const auto code = ReadFileBytes(entry.path());
            if (code.size() < 4 || code[0] != 0xFF || code[1] != 0x4F)
                continue;
            const DecodedJ2k oracle = DecodeJ2k(code);
            Load(MakeMovie({code}, 1, 2));
            SCOPED_TRACE(entry.path().filename().string());
            const bool usable = oracle.ok && oracle.sameSizes && oracle.width >= 2 && oracle.height >= 2 &&
                                (oracle.components == 1 || oracle.components == 3 || oracle.components == 4) &&
                                oracle.width <= 8192 && oracle.height <= 8192;
            if (!usable) {
                EXPECT_TRUE(DrawsBlack(0));
                black++;
                continue;
            }
            std::vector<uint8_t> rgba;
            for (size_t k = 0; k < size_t(oracle.width) * oracle.height; k++) {
                for (int c = 0; c < 3; c++)
                    rgba.push_back(uint8_t(oracle.planes[oracle.components == 1 ? 0 : c][k]));
                rgba.push_back(255);
            }
            ASSERT_TRUE(DrawMovieFrame(0)) << MovieError();
            EXPECT_EQ(Frame(), ReferenceStretch(rgba, oracle.width, oracle.height));
            drawn++;
        }
    }
    EXPECT_GT(drawn, 10);
    EXPECT_GT(black, 0);
}

TEST_F(Movie, InspectDrawsLikeTheShow) {
    const auto samples = RandomSamples(24, 18, 3, 31);
    const auto movie = MakeMovie({EncodeJ2k(samples, 24, 18, 3)}, 1, 5);
    const std::string path = WriteTempFile("test.movie", movie);
#ifndef _WIN32
    // quimbles-inspect writes the drawn frame as little-endian words and prints the frame count.
    const std::string program = std::string(QUIMBLES_BINARY_DIR) + "/bin/quimbles-inspect movie '" + path + "' ",
                      out = TestTempPath("frame.raw");
    ASSERT_EQ(std::system((program + "0 '" + out + "' > '" + out + ".txt'").c_str()), 0);
    const auto bytes = ReadFileBytes(out);
    const auto expected = ReferenceStretch(ToRgba(samples, 3), 24, 18);
    ASSERT_EQ(bytes.size(), 640u * 480 * 4);
    for (size_t k = 0; k < expected.size(); k++)
        ASSERT_EQ(bytes[4 * k] | bytes[4 * k + 1] << 8 | bytes[4 * k + 2] << 16 | uint32_t(bytes[4 * k + 3]) << 24,
                  expected[k])
            << k;
    EXPECT_EQ(ReadFileBytes(out + ".txt"), std::vector<uint8_t>({'1', '\n'}));
    EXPECT_NE(std::system((program + "1 '" + out + "' >/dev/null 2>&1").c_str()), 0); // past the count
#endif
}

} // namespace
