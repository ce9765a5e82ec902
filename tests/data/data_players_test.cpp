// The committed data set through the show's own decoders: PNG reader, movie reader and music player. libpng
// gives the expected pixels of the pictures.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../show/fake_platform.h"
#include "audio/mixer.h"
#include "image/png.h"
#include "movie/movie.h"
#include "music/music.h"
#include "show/effects.h"

namespace {

const std::string kDataDir = std::string(QUIMBLES_SOURCE_DIR) + "/data/";

std::vector<uint8_t> ReadFile(const std::string& name) {
    std::ifstream f(kDataDir + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::vector<uint8_t> LibpngRgba(const std::vector<uint8_t>& file, int& w, int& h) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    std::vector<uint8_t> out;
    if (!png_image_begin_read_from_memory(&img, file.data(), file.size()))
        return out;
    img.format = PNG_FORMAT_RGBA;
    out.resize(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, out.data(), 0, nullptr))
        out.clear();
    w = int(img.width);
    h = int(img.height);
    return out;
}

} // namespace

TEST(DataOnOurPlayers, PicturesAndStripDecodeWithOurPngReaderAsWithLibpng) {
    for (const char* name :
         {"textes.png", "le_poilu.png", "garbet_he.png", "tabi_feno.png", "vacances.png", "quimbles.png"}) {
        std::vector<uint8_t> file = ReadFile(name);
        int w = 0, h = 0;
        std::vector<uint8_t> expected = LibpngRgba(file, w, h);
        ASSERT_FALSE(expected.empty()) << name;
        Image image{};
        ASSERT_TRUE(LoadPngFromMemory(file.data(), file.size(), name, &image, 0)) << PngError();
        const bool strip = std::string(name) == "textes.png";
        EXPECT_EQ(image.width, strip ? 380 : 640) << name;
        EXPECT_EQ(image.height, strip ? 288 : 480) << name;
        EXPECT_EQ(image.hasAlpha, strip ? 1 : 0) << name;
        EXPECT_EQ(image.isGrey, 0) << name;
        ASSERT_EQ(size_t(image.width) * image.height * 4, expected.size()) << name;
        EXPECT_EQ(0, std::memcmp(image.pixels, expected.data(), expected.size())) << name;
        free(image.pixels);
    }
}

TEST(DataOnOurPlayers, EveryMovieFrameDecodesAndDraws) {
    AllocFrameBuffer();
    for (const char* name : {"tabi.movie", "rocu.movie", "rocu_mange.movie"}) {
        std::vector<uint8_t> file = ReadFile(name);
        ASSERT_TRUE(LoadMovieFromMemory(file.data(), file.size())) << name;
        ASSERT_GT(MovieFrameCount, 0) << name;
        size_t at = 9;
        for (int32_t i = 0; i < MovieFrameCount; ++i) {
            Image image{};
            uint32_t size = DecodeMovieFrame(file.data() + at, file.size() - at, &image);
            ASSERT_NE(image.pixels, nullptr) << name << " frame " << i << ": " << ShowError();
            EXPECT_EQ(image.width, 320);
            EXPECT_EQ(image.height, 240);
            EXPECT_EQ(image.isGrey, 0);
            free(image.pixels);
            at += size;
            ASSERT_TRUE(DrawMovieFrame(i)) << name << " frame " << i;
            // The bands above and below the picture stay black; the picture itself is not.
            EXPECT_EQ(FrameBuffer[10 * 640 + 320], 0u);
            EXPECT_EQ(FrameBuffer[470 * 640 + 320], 0u);
            uint32_t lit = 0;
            for (int y = 40; y <= 440; y += 20)
                for (int x = 0; x < 640; x += 20)
                    lit += (FrameBuffer[y * 640 + x] & 0xFFFFFF) != 0;
            EXPECT_GT(lit, 500u) << name << " frame " << i;
        }
        FreeMovie();
    }
    FreeFrameBuffer();
}

TEST(DataOnOurPlayers, SongPlaysHalfAMinuteWithoutSilenceOrHeavyClipping) {
    BuildPeriodTables();
    std::string path = kDataDir + "wide.xm";
    ASSERT_EQ(LoadModule(path.c_str()), 0) << ModuleError();
    SetRepeatMode(1);
    SetFadeMode(4);
    PrepareMusic();
    RequestModule(0);
    const int quarter = 44100 / 4;
    int quiet = 0, clipped = 0;
    long frames = 0;
    double quarterSum[2] = {0, 0};
    int filled = 0;
    double loudest = 0;
    while (frames < 34L * 44100) {
        const int16_t* chunk = RenderFrames(ChunkFrames);
        for (int i = 0; i < ChunkFrames; ++i) {
            for (int ch = 0; ch < 2; ++ch) {
                int v = chunk[2 * i + ch];
                quarterSum[ch] += double(v) * v;
                clipped += v >= 32767 || v <= -32767;
            }
            if (++filled == quarter) {
                double left = std::sqrt(quarterSum[0] / quarter), right = std::sqrt(quarterSum[1] / quarter);
                quiet += left < 300 || right < 300;
                loudest = std::max({loudest, left, right});
                quarterSum[0] = quarterSum[1] = 0;
                filled = 0;
            }
        }
        frames += ChunkFrames;
    }
    ReleaseMusic();
    EXPECT_EQ(quiet, 0) << "quarter seconds with a silent side";
    EXPECT_GT(loudest, 3000);
    EXPECT_LT(clipped, 100) << "samples at full scale in 34 s";
}
