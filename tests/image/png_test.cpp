// LoadPng against libpng on the corpus, and on files built chunk by chunk (with make-data's PNG writer) for the
// cases no encoder makes: bad CRCs, odd filter bytes, missing chunks, alpha modes.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "deflate.h"
#include "image/png.h"
#include "png_writer.h"
#include "test_temp.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// A file built chunk by chunk.
struct File {
    Bytes bytes{makedata::kPngSignature, makedata::kPngSignature + 8};
    File& Chunk(const char* type, const Bytes& data, bool badCrc = false) {
        makedata::PutPngChunk(bytes, type, data);
        bytes.back() ^= badCrc ? 0xFF : 0;
        return *this;
    }
    File& Header(uint32_t w, uint32_t h, int depth, int colour, int interlace = 0, bool badCrc = false) {
        return Chunk("IHDR", makedata::PngHeader(w, h, depth, colour, interlace), badCrc);
    }
    Bytes End() { return Chunk("IEND", {}).bytes; }
};

// Rows of samples, each after its filter byte, compressed.
Bytes Rows(const std::vector<Bytes>& rows, const Bytes& filters) {
    Bytes raw;
    for (size_t y = 0; y < rows.size(); ++y) {
        raw.push_back(filters[y]);
        raw.insert(raw.end(), rows[y].begin(), rows[y].end());
    }
    return makedata::ZlibCompress(raw);
}

struct Loaded {
    bool ok = false;
    Image image{};
    Bytes pixels;
    std::string error;
};

Loaded Load(const std::string& path, int mode = 0) {
    Loaded l;
    l.ok = LoadPng(path.c_str(), &l.image, mode);
    if (l.ok) {
        l.pixels.assign(l.image.pixels,
                        l.image.pixels + size_t(l.image.width) * l.image.height * (l.image.isGrey ? 1 : 4));
        std::free(l.image.pixels);
    } else {
        l.error = PngError();
        EXPECT_EQ(l.image.pixels, nullptr);
        EXPECT_NE(l.error.find(path), std::string::npos) << "the reason should name the file: " << l.error;
    }
    return l;
}

Loaded LoadBytes(const std::string& name, const Bytes& file, int mode = 0) {
    return Load(WriteTempFile(name, file), mode);
}

// What libpng reads with no transformation, turned into what LoadPng must give: grey stays one byte, RGB gains
// alpha 255, palette indices become opaque colours (entries the PLTE lacks read as zeros), RGBA is kept.
bool ReadWithLibpng(const std::string& path, uint32_t* width, uint32_t* height, int* colourType, Bytes* expected) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, nullptr, [](png_structp p, const char*) { png_longjmp(p, 1); },
        [](png_structp, const char*) {});
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    // Nothing below can fail, so no C++ object lives across the setjmp.
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    *colourType = png_get_color_type(png, info);
    png_bytepp rows = png_get_rows(png, info);
    png_colorp palette = nullptr;
    int entries = 0;
    png_get_PLTE(png, info, &palette, &entries);
    expected->clear();
    for (uint32_t y = 0; y < *height; ++y)
        for (uint32_t x = 0; x < *width; ++x) {
            const uint8_t* s = rows[y] + x * (*colourType == 2 ? 3 : *colourType == 6 ? 4 : 1);
            if (*colourType == 0)
                expected->push_back(s[0]);
            else if (*colourType == 3 && s[0] < entries)
                expected->insert(expected->end(), {palette[s[0]].red, palette[s[0]].green, palette[s[0]].blue, 255});
            else if (*colourType == 3)
                expected->insert(expected->end(), {0, 0, 0, 255});
            else
                expected->insert(expected->end(), {s[0], s[1], s[2], uint8_t(*colourType == 6 ? s[3] : 255)});
        }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return true;
}

// Both ways of undoing the filters: the plain code and the vector code.
TEST(LoadPng, CorpusMatchesLibpngOrIsRefused) {
    int matched = 0, refused = 0;
    for (PngFilterPath = 0; PngFilterPath <= 1; ++PngFilterPath)
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(QUIMBLES_CORPUS_DIR) / "png")) {
            if (entry.path().extension() != ".png")
                continue;
            const std::string path = entry.path().string();
            SCOPED_TRACE(path);
            std::ifstream in(path, std::ios::binary);
            Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            Loaded ours = Load(path);
            const int colour = file.size() > 25 ? file[25] : -1;
            if (file.size() < 33 || file[24] != 8 || file[28] != 0 ||
                !(colour == 0 || colour == 2 || colour == 3 || colour == 6)) {
                EXPECT_FALSE(ours.ok) << "outside the supported subset but decoded";
                ++refused;
                continue;
            }
            uint32_t width, h;
            int type;
            Bytes expected;
            if (!ReadWithLibpng(path, &width, &h, &type, &expected)) {
                // The one supported file libpng refuses has a damaged IHDR CRC: no chunk after it is read, so the
                // 32x32 grey picture is all zero samples.
                EXPECT_EQ(entry.path().filename(), "xhdn0g08.png");
                ASSERT_TRUE(ours.ok) << ours.error;
                EXPECT_EQ(ours.pixels, Bytes(32 * 32, 0));
                continue;
            }
            ASSERT_TRUE(ours.ok) << ours.error;
            EXPECT_EQ(ours.image.width, int(width));
            EXPECT_EQ(ours.image.height, int(h));
            EXPECT_EQ(ours.image.isGrey, type == 0);
            EXPECT_EQ(ours.image.hasAlpha, type == 6);
            EXPECT_TRUE(ours.pixels == expected) << "pixels differ";
            ++matched;
        }
    PngFilterPath = 1;
    EXPECT_GE(matched, 2 * 60);
    EXPECT_GE(refused, 2 * 100);
}

uint8_t AlphaOf(const Bytes& rgb, int mode, Bytes* rgba = nullptr) {
    Loaded l = LoadBytes("alpha.png", File().Header(1, 1, 8, 2).Chunk("IDAT", Rows({rgb}, {0})).End(), mode);
    EXPECT_TRUE(l.ok) << l.error;
    if (rgba)
        *rgba = l.pixels;
    return l.pixels.size() == 4 ? l.pixels[3] : 0xEE;
}

TEST(LoadPng, AlphaModes) {
    // Luminance key (mode 2) by hand: (0, 128, 0) has L = 128 x 0.7 / 255 = 0.3514, (L - 0.2) x 510 = 77.2; above
    // 0.7 opaque. (255, 0, 0): L = 0.2 in single precision is 0.200000003, (L - 0.2) x 510 truncates to 0. (0, 75, 0)
    // and (0, 80, 0): exactly 3 and 10 in rational arithmetic, just above with the single-precision constants
    // (worked out separately). Mode 1: dark key, R + G + B below 10. Only the low 8 bits select the mode.
    const struct {
        Bytes rgb;
        int mode, alpha;
    } rows[] = {{{10, 20, 30}, 0, 255},  {{10, 20, 30}, 3, 128}, {{10, 20, 30}, 4, 70}, {{10, 20, 30}, 5, 150},
                {{3, 3, 3}, 1, 0},       {{4, 3, 3}, 1, 255},    {{0, 0, 0}, 2, 0},     {{0, 128, 0}, 2, 77},
                {{255, 255, 0}, 2, 255}, {{255, 0, 0}, 2, 0},    {{0, 75, 0}, 2, 3},    {{0, 80, 0}, 2, 10},
                {{3, 3, 3}, 256 + 1, 0}, {{10, 20, 30}, 8, 255}};
    for (const auto& r : rows)
        EXPECT_EQ(AlphaOf(r.rgb, r.mode), r.alpha) << int(r.rgb[0]) << "," << int(r.rgb[1]) << " mode " << r.mode;
    Bytes rgba;
    EXPECT_EQ(AlphaOf({253, 2, 254}, 7, &rgba), 0); // magenta key: near-magenta pixels vanish entirely
    EXPECT_EQ(rgba, Bytes({0, 0, 0, 0}));
    EXPECT_EQ(AlphaOf({252, 0, 255}, 7, &rgba), 255);
    EXPECT_EQ(rgba, Bytes({252, 0, 255, 255}));
    // An RGBA picture keeps its alpha whatever the mode.
    for (int mode : {0, 1, 2, 3, 7}) {
        Loaded l =
            LoadBytes("rgba.png", File().Header(1, 1, 8, 6).Chunk("IDAT", Rows({{1, 2, 3, 44}}, {0})).End(), mode);
        EXPECT_EQ(l.pixels, Bytes({1, 2, 3, 44})) << mode;
    }
}

TEST(LoadPng, FilterBytesByHand) {
    // Two rows of three grey pixels. Row 0 raw 10 20 30; row 1 raw 1 2 3.
    auto decode = [](uint8_t f0, uint8_t f1) {
        Loaded l = LoadBytes("filter.png",
                             File().Header(3, 2, 8, 0).Chunk("IDAT", Rows({{10, 20, 30}, {1, 2, 3}}, {f0, f1})).End());
        EXPECT_TRUE(l.ok) << l.error;
        return l.pixels;
    };
    EXPECT_EQ(decode(0, 0), Bytes({10, 20, 30, 1, 2, 3}));
    EXPECT_EQ(decode(1, 1), Bytes({10, 30, 60, 1, 3, 6}));    // Sub
    EXPECT_EQ(decode(2, 2), Bytes({10, 20, 30, 11, 22, 33})); // Up: a copy in row 0
    // Average: row 0: 10, 20 + 5, 30 + 12; row 1: 1 + 5, 2 + (6 + 25) / 2, 3 + (17 + 42) / 2.
    EXPECT_EQ(decode(3, 3), Bytes({10, 25, 42, 6, 17, 32}));
    // Paeth in row 0 equals Sub. Row 1: b = 10 -> 11; a = 11, b = 30, c = 10: p = 31, pa = 20, pb = 1, pc = 21
    // -> b: 32; a = 32, b = 60, c = 30: p = 62 -> b: 63.
    EXPECT_EQ(decode(4, 4), Bytes({10, 30, 60, 11, 32, 63}));
    EXPECT_EQ(decode(7, 7), decode(4, 4)); // filter bytes above 4 are Paeth too
    EXPECT_EQ(decode(0, 255), Bytes({10, 20, 30, 11, 22, 33}));

    // (a, b, c, expected): p = 10: pa 40, pb 50, pc 90; p = 110: 10, 50, 60; p = 90: 40, 10, 30; p = 55: 5, 5, 0.
    for (auto [a, b, c, e] :
         {std::array{50, 60, 100, 50}, {100, 60, 50, 100}, {50, 100, 60, 100}, {60, 50, 55, 55}, {10, 10, 10, 10}})
        EXPECT_EQ(PaethPredictor(a, b, c), e) << a << " " << b << " " << c;

    const uint8_t type[4] = {'I', 'D', 'A', 'T'};
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + i / 5);
    for (size_t n : {0, 1, 7, 8, 9, 300}) {
        EXPECT_EQ(ChunkCrc(type, data.data(), n), crc32(crc32(crc32(0, nullptr, 0), type, 4), data.data(), uInt(n)));
        // Continued from an earlier CRC, as the capture's frame log takes it where it has no faster one.
        EXPECT_EQ(Crc32(Crc32(0, type, 4), data.data(), n), crc32(crc32(0, type, 4), data.data(), uInt(n)));
    }
}

TEST(LoadPng, ChunkRulesDamagedChunksAndPalettes) {
    Bytes rows = Rows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, {0, 0});
    const Bytes rgb = {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 10, 11, 12, 255};
    // Split over three IDATs with other chunks around them (one with a bad CRC); no IEND at all.
    File split;
    split.Header(2, 2, 8, 2).Chunk("tEXt", {'a', 0, 'b'}).Chunk("IDAT", Bytes(rows.begin(), rows.begin() + 5));
    split.Chunk("zzZz", Bytes(2000, 9)).Chunk("IDAT", Bytes(rows.begin() + 5, rows.begin() + 9));
    split.Chunk("gAMA", {0, 0, 0, 1}, true).Chunk("IDAT", Bytes(rows.begin() + 9, rows.end()));
    EXPECT_EQ(LoadBytes("split.png", split.bytes).pixels, rgb);
    // A damaged IDAT is dropped and the others still decode; signature and first chunk type are not checked;
    // nothing after IEND is read.
    File damaged;
    damaged.bytes = Bytes(8, 'x');
    damaged.Chunk("HDRI", makedata::PngHeader(2, 2, 8, 2)).Chunk("IDAT", Bytes(40, 0xFF), true).Chunk("IDAT", rows);
    damaged.End();
    EXPECT_EQ(LoadBytes("damaged.png", damaged.Chunk("IDAT", Bytes(40, 0xFF)).bytes).pixels, rgb);
    // A bad IHDR CRC: no other chunk read, all samples zero (alpha mode 3: 128).
    Loaded l = LoadBytes("bad-ihdr.png", File().Header(2, 2, 8, 2, 0, true).Chunk("IDAT", rows).End(), 3);
    EXPECT_EQ(l.image.width, 2);
    EXPECT_EQ(l.pixels, Bytes({0, 0, 0, 128, 0, 0, 0, 128, 0, 0, 0, 128, 0, 0, 0, 128}));
    // A stream that ends (validly) before the last row: the missing rows are zero samples.
    l = LoadBytes("short.png", File().Header(2, 2, 8, 2).Chunk("IDAT", Rows({{1, 2, 3, 4, 5, 6}}, {0})).End());
    EXPECT_EQ(l.pixels, Bytes({1, 2, 3, 255, 4, 5, 6, 255, 0, 0, 0, 255, 0, 0, 0, 255}));

    Bytes indices = Rows({{0, 1, 2, 200}}, {0});
    // Two palette entries only: indices 2 and 200 read zeros; tRNS changes nothing.
    l = LoadBytes("short-plte.png", File()
                                        .Header(4, 1, 8, 3)
                                        .Chunk("PLTE", {10, 20, 30, 40, 50, 60})
                                        .Chunk("tRNS", {0, 0})
                                        .Chunk("IDAT", indices)
                                        .End());
    EXPECT_EQ(l.image.hasAlpha, 0);
    EXPECT_EQ(l.pixels, Bytes({10, 20, 30, 255, 40, 50, 60, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
    // A PLTE longer than 256 entries: the first 768 bytes count.
    Bytes plte;
    for (int i = 0; i < 300; ++i)
        plte.insert(plte.end(), {uint8_t(i), uint8_t(i + 1), uint8_t(i + 2)});
    l = LoadBytes("long-plte.png", File().Header(4, 1, 8, 3).Chunk("PLTE", plte).Chunk("IDAT", indices).End());
    EXPECT_EQ(l.pixels, Bytes({0, 1, 2, 255, 1, 2, 3, 255, 2, 3, 4, 255, 200, 201, 202, 255}));
    // No IDAT: index 0 everywhere.
    l = LoadBytes("no-idat.png", File().Header(2, 1, 8, 3).Chunk("PLTE", {9, 8, 7}).End());
    EXPECT_EQ(l.pixels, Bytes({9, 8, 7, 255, 9, 8, 7, 255}));
    // Empty pictures: 0 rows (the stream's data beyond them is ignored) or 0 columns.
    for (auto [w, h] : {std::array{3u, 0u}, {0u, 5u}}) {
        l = LoadBytes("empty.png", File().Header(w, h, 8, 2).Chunk("IDAT", Rows({{}, {}}, {0, 0})).End());
        EXPECT_TRUE(l.ok && l.image.pixels && l.pixels.empty()) << l.error;
        EXPECT_EQ(l.image.width * 10 + l.image.height, int(w * 10 + h));
    }
    l = LoadBytes("grey.png", File().Header(4, 1, 8, 0).Chunk("IDAT", indices).End(), 7);
    EXPECT_EQ(l.image.isGrey, 1);
    EXPECT_EQ(l.pixels, Bytes({0, 1, 2, 200}));
}

TEST(LoadPng, RefusalsNameTheFileAndLeaveNothing) {
    auto refused = [](const std::string& name, const Bytes& file, const char* reason) {
        Loaded l = LoadBytes(name, file);
        EXPECT_FALSE(l.ok) << name;
        EXPECT_NE(l.error.find(reason), std::string::npos) << l.error;
        EXPECT_EQ(l.image.width, 0);
    };
    Bytes rows = Rows({{1, 2, 3}}, {0});
    auto withHeader = [&](uint32_t w, uint32_t h, int depth, int colour, int interlace) {
        return File().Header(w, h, depth, colour, interlace).Chunk("IDAT", rows).End();
    };
    const struct {
        const char* name;
        uint32_t w, h;
        int depth, colour, interlace;
        const char* reason;
    } headers[] = {{"depth16", 1, 1, 16, 2, 0, "bit depth 16"},   {"depth4", 1, 1, 4, 0, 0, "bit depth 4"},
                   {"interlaced", 1, 1, 8, 2, 1, "interlaced"},   {"colour4", 1, 1, 8, 4, 0, "colour type 4"},
                   {"colour5", 1, 1, 8, 5, 0, "colour type 5"},   {"too-wide", 0x7FFFFFFF, 1, 8, 2, 0, "too large"},
                   {"negative", 0x80000000u, 1, 8, 2, 0, "size"}, {"huge", 40000, 40000, 8, 6, 0, "too large"},
                   {"tall", 1, 0x80000000u, 8, 0, 0, "size"}};
    for (const auto& h : headers)
        refused(std::string(h.name) + ".png", withHeader(h.w, h.h, h.depth, h.colour, h.interlace), h.reason);
    PngByteLimit = 127; // a fuzzer's own cap: 8 x 4 RGBA pixels need 128 bytes
    refused("capped.png", withHeader(8, 4, 8, 6, 0), "too large");
    PngByteLimit = UINT64_MAX;
    Bytes good = withHeader(1, 1, 8, 2, 0);
    refused("short.png", Bytes(good.begin(), good.begin() + 20), "ends inside");
    refused("cut-chunk.png", Bytes(good.begin(), good.end() - 14), "runs past the end");
    refused("cut-crc.png", Bytes(good.begin(), good.end() - 2), "ends inside");
    refused("garbage.png", File().Header(1, 1, 8, 2).Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF}).End(), "malformed");
    refused("cut-stream.png", File().Header(1, 1, 8, 2).Chunk("IDAT", Bytes(rows.begin(), rows.begin() + 6)).End(),
            "malformed image data");
    Image image{reinterpret_cast<uint8_t*>(1), 5, 5, 1, 1};
    EXPECT_FALSE(LoadPng("/nonexistent/quimbles.png", &image, 0));
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_NE(std::string(PngError()).find("/nonexistent/quimbles.png"), std::string::npos);
}

} // namespace
