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
    auto set = [](int i, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        uint8_t* p = Picture.pixels + 4 * i;
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    };
    set(0, 255, 255, 255, 0);
    set(1, 200, 100, 3, 255);
    set(640 * 480 - 1, 1, 2, 3, 9);
    FadePicture(256);
    EXPECT_EQ(At(0, 0), 0x00FFFFFFu); // alpha ignored, top byte zero
    EXPECT_EQ(At(1, 0), 0x00C86403u);
    EXPECT_EQ(At(639, 479), 0x00010203u);
    FadePicture(77); // 200*77 = 15400 -> 60, 100*77 = 7700 -> 30, 3*77 = 231 -> 0
    EXPECT_EQ(At(1, 0), 0x003C1E00u);
    // Every pixel of a varied picture, at a few levels, against the formula worked pixel by pixel.
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

TEST_F(Effects, EveryTextPixelBlendsByTheFormula) {
    // A varied strip over a varied frame, at positions that leave odd column counts, on every code path.
    FillStrip(0, 0, 0, 0);
    for (int i = 0; i < 380 * 288 * 4; i++)
        TextStrip.pixels[i] = uint8_t((i * 2246822519u) >> 11);
    SetTextRect(0, 144, 380, 216);
    for (int path : {2, 1, 0}) {
        for (int intensity : {0, 1, 100, 255, 256}) {
            for (int x : {-3, 0, 261, 263}) {
                EffectsPath = path;
                for (int i = 0; i < 640 * 480; i++)
                    FrameBuffer[i] = (uint32_t(i) * 2654435761u) >> 8;
                std::vector<uint32_t> before(FrameBuffer, FrameBuffer + 640 * 480);
                DrawTextStrip(x, 300, intensity);
                for (int y = 300; y < 372; y++) {
                    for (int sx = 0; sx < 640; sx++) {
                        const uint32_t old = before[y * 640 + sx];
                        uint32_t expected = old;
                        const int col = sx - x;
                        if (col >= 0 && col < 380) {
                            const uint8_t* p = TextStrip.pixels + 4 * ((144 + y - 300) * 380 + col);
                            const int a = p[3];
                            auto channel = [&](int s, int d) {
                                return (a * (s * intensity / 256) + (255 - a) * d) / 256;
                            };
                            expected = (uint32_t(channel(p[0], (old >> 16) & 255)) << 16) |
                                       (uint32_t(channel(p[1], (old >> 8) & 255)) << 8) |
                                       uint32_t(channel(p[2], old & 255));
                        }
                        ASSERT_EQ(FrameBuffer[y * 640 + sx], expected)
                            << "x " << x << " column " << sx << " row " << y << " intensity " << intensity << " path "
                            << path;
                    }
                }
                ASSERT_EQ(FrameBuffer[299 * 640 + 5], before[299 * 640 + 5]);
                ASSERT_EQ(FrameBuffer[372 * 640 + 5], before[372 * 640 + 5]);
            }
        }
    }
    EffectsPath = 2;
}

TEST_F(Effects, TextIsClippedAtEveryEdge) {
    // A strip whose red byte is its column and green byte its row, fully covering, at full intensity:
    // the drawn value is v * 255 >> 8, so we can tell which source pixel landed where.
    FillStrip(0, 0, 0, 255);
    for (int y = 0; y < 288; y++) {
        for (int x = 0; x < 380; x++) {
            uint8_t* p = TextStrip.pixels + 4 * (y * 380 + x);
            p[0] = uint8_t(x & 0xFF);
            p[1] = uint8_t(y);
        }
    }
    auto expected = [](int sx, int sy) {
        return (uint32_t(((sx & 0xFF) * 255) >> 8) << 16) | (uint32_t((sy * 255) >> 8) << 8);
    };
    SetTextRect(0, 72, 380, 144);
    const uint32_t marker = 0x00ABCDEF;
    FillFrame(marker);
    DrawTextStrip(640, 0, 256);  // wholly right of the screen
    DrawTextStrip(-380, 0, 256); // wholly left
    DrawTextStrip(0, 480, 256);  // wholly below
    DrawTextStrip(0, -72, 256);  // wholly above
    for (int i = 0; i < 640 * 480; i++)
        ASSERT_EQ(FrameBuffer[i], marker) << i;
    DrawTextStrip(-100, 0, 256); // the rightmost 280 columns at screen columns 0..279
    EXPECT_EQ(At(0, 0), expected(100, 72));
    EXPECT_EQ(At(279, 71), expected(379, 143));
    EXPECT_EQ(At(280, 0), marker);
    FillFrame(marker);
    DrawTextStrip(600, 450, 256); // cut at column 639 and row 479
    EXPECT_EQ(At(600, 450), expected(0, 72));
    EXPECT_EQ(At(639, 479), expected(39, 72 + 29));
    EXPECT_EQ(At(599, 479), marker);
    FillFrame(marker);
    DrawTextStrip(20, -50, 256); // top 50 rows cut away
    EXPECT_EQ(At(20, 0), expected(0, 122));
    EXPECT_EQ(At(20, 21), expected(0, 143));
    EXPECT_EQ(At(20, 22), marker);
    // A rectangle outside the strip is not read at all.
    FillFrame(marker);
    SetTextRect(0, 250, 380, 322);
    DrawTextStrip(0, 0, 256);
    EXPECT_EQ(At(0, 0), marker);
}

void WriteBytes(const std::string& path, size_t count) {
    std::ofstream(path, std::ios::binary) << std::string(count, '\0');
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

    // Not a PNG at all.
    WriteBytes(small, 40);
    EXPECT_FALSE(LoadPicture(small.c_str(), 40));
    EXPECT_NE(std::string(ShowError()).find(small), std::string::npos);
}

} // namespace
