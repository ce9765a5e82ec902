// The effects against values worked out by hand from the integer formulas.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "png_writer.h"
#include "show/effects.h"
#include "test_temp.h"

namespace {

uint8_t* NewPixels(int w, int h) {
    return static_cast<uint8_t*>(std::calloc(size_t(w) * h, 4));
}

class Effects : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        ASSERT_TRUE(AllocFrameBuffer());
        ClearFrame();
    }
    void TearDown() override {
        FreePicture();
        FreeTextStrip();
        FreeFrameBuffer();
    }
    uint32_t At(int x, int y) { return FrameBuffer[y * 640 + x]; }
    // A 380 x 288 strip with every pixel set to the given R, G, B, A.
    void FillStrip(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        FreeTextStrip();
        TextStrip.pixels = NewPixels(380, 288);
        TextStrip.width = 380;
        TextStrip.height = 288;
        for (int i = 0; i < 380 * 288; i++) {
            uint8_t* p = TextStrip.pixels + 4 * i;
            p[0] = r, p[1] = g, p[2] = b, p[3] = a;
        }
    }
    void FillFrame(uint32_t word) {
        for (int i = 0; i < 640 * 480; i++)
            FrameBuffer[i] = word;
    }
};

TEST_F(Effects, FadeScalesEachChannelWithAShiftOfEight) {
    Picture.pixels = NewPixels(640, 480);
    Picture.width = 640;
    Picture.height = 480;
    // Every pixel of a varied picture, at a few levels, against the formula worked pixel by pixel (alpha ignored,
    // top byte zero).
    for (int i = 0; i < 640 * 480 * 4; i++)
        Picture.pixels[i] = uint8_t((i * 2654435761u) >> 13);
    for (int path : {2, 1, 0})
        for (int level : {0, 1, 77, 128, 255, 256}) {
            EffectsPath = path;
            FadePicture(level);
            for (int i = 0; i < 640 * 480; i++) {
                const uint8_t* p = Picture.pixels + 4 * i;
                const uint32_t expected = (uint32_t(p[0] * level / 256) << 16) | (uint32_t(p[1] * level / 256) << 8) |
                                          uint32_t(p[2] * level / 256);
                ASSERT_EQ(FrameBuffer[i], expected) << "pixel " << i << " level " << level << " path " << path;
            }
        }
    EffectsPath = 2;
}

TEST_F(Effects, EveryTextPixelBlendsByTheFormulaAndIsClippedAtEveryEdge) {
    // A varied strip over a varied frame on every code path: at places that leave odd column counts, and cut at
    // (or wholly beyond) each edge of the screen. Every pixel of the frame is checked, so it also shows which
    // source pixel landed where.
    FillStrip(0, 0, 0, 0);
    for (int i = 0; i < 380 * 288 * 4; i++)
        TextStrip.pixels[i] = uint8_t((i * 2246822519u) >> 11);
    SetTextRect(0, 144, 380, 216);
    const std::pair<int, int> places[] = {{-3, 300}, {0, 300}, {261, 300}, {263, 300}, {640, 0}, {-380, 0},
                                          {0, 480},  {0, -72}, {-100, 0},  {600, 450}, {20, -50}};
    std::vector<uint32_t> before(640 * 480);
    for (int path : {2, 1, 0})
        for (int intensity : {0, 1, 100, 255, 256})
            for (auto [x, y] : places) {
                EffectsPath = path;
                for (int i = 0; i < 640 * 480; i++)
                    before[i] = FrameBuffer[i] = (uint32_t(i) * 2654435761u) >> 8;
                DrawTextStrip(x, y, intensity);
                for (int i = 0; i < 640 * 480; i++) {
                    const uint32_t old = before[i];
                    const int col = i % 640 - x, row = i / 640 - y;
                    uint32_t expected = old;
                    if (col >= 0 && col < 380 && row >= 0 && row < 72) {
                        const uint8_t* p = TextStrip.pixels + 4 * ((144 + row) * 380 + col);
                        auto channel = [&](int s, int d) {
                            return (p[3] * (s * intensity / 256) + (255 - p[3]) * d) / 256;
                        };
                        expected = (uint32_t(channel(p[0], (old >> 16) & 255)) << 16) |
                                   (uint32_t(channel(p[1], (old >> 8) & 255)) << 8) |
                                   uint32_t(channel(p[2], old & 255));
                    }
                    ASSERT_EQ(FrameBuffer[i], expected)
                        << "at " << x << "," << y << " pixel " << i << " intensity " << intensity << " path " << path;
                }
            }
    EffectsPath = 2;
    // A rectangle outside the strip is not read at all.
    FillFrame(0x00ABCDEF);
    SetTextRect(0, 250, 380, 322);
    DrawTextStrip(0, 0, 256);
    EXPECT_EQ(At(0, 0), 0x00ABCDEFu);
}

// Writes an RGB PNG with make-data's writer; returns its size.
int32_t WritePng(const std::string& path, int w, int h, uint8_t seed) {
    makedata::PngPicture picture{w, h, 2, std::vector<uint8_t>(size_t(w) * h * 3), {}};
    for (size_t i = 0; i < picture.samples.size(); i++)
        picture.samples[i] = uint8_t(i * 7 + seed);
    return int32_t(std::filesystem::file_size(WriteTempFile(path, makedata::EncodePng(picture))));
}

TEST_F(Effects, PicturesOfTheWrongShapeAreRefused) {
    const std::string good = TestTempPath("good.png"), small = TestTempPath("small.png"),
                      narrow = TestTempPath("narrow.png");
    const int32_t goodSize = WritePng("good.png", 640, 480, 3), smallSize = WritePng("small.png", 64, 48, 5),
                  narrowSize = WritePng("narrow.png", 300, 288, 1);

    ASSERT_TRUE(LoadPicture(good.c_str(), goodSize));
    // R, G, B come through as written; opaque.
    EXPECT_EQ(Picture.pixels[0], 3);
    EXPECT_EQ(Picture.pixels[4 * 1000 + 1], uint8_t((1000 * 3 + 1) * 7 + 3));
    FadePicture(256);
    EXPECT_EQ(At(0, 0), (3u << 16) | (10u << 8) | 17u);

    EXPECT_FALSE(LoadPicture(small.c_str(), smallSize));
    EXPECT_EQ(Picture.pixels, nullptr);
    EXPECT_NE(std::string(ShowError()).find("640x480"), std::string::npos);

    EXPECT_TRUE(LoadTextStrip(good.c_str(), goodSize));
    EXPECT_FALSE(LoadTextStrip(narrow.c_str(), narrowSize));
    EXPECT_EQ(TextStrip.pixels, nullptr);
    EXPECT_NE(std::string(ShowError()).find("380x72"), std::string::npos);
}

} // namespace
