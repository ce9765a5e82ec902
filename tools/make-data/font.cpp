#include "font.h"

#include <cstdio>
#include <cstdlib>
#include <ft2build.h>
#include FT_FREETYPE_H

namespace makedata {
namespace {

FT_Library Library() {
    static FT_Library library = [] {
        FT_Library lib = nullptr;
        if (FT_Init_FreeType(&lib) != 0) {
            std::fprintf(stderr, "make-data: FreeType does not initialise\n");
            std::exit(1);
        }
        return lib;
    }();
    return library;
}

FT_Face OpenFace(const std::string& fontFile, int pixelSize) {
    FT_Face face = nullptr;
    std::string path = FontPath(fontFile);
    if (FT_New_Face(Library(), path.c_str(), 0, &face) != 0) {
        std::fprintf(stderr, "make-data: cannot open font %s\n", path.c_str());
        std::exit(1);
    }
    FT_Set_Pixel_Sizes(face, 0, pixelSize);
    return face;
}

// Walks the glyphs of text, calling draw(glyphSlot, penX) for each; returns the final pen position.
template <typename F> long Walk(FT_Face face, const std::string& text, long penX, F&& draw) {
    FT_UInt previous = 0;
    for (unsigned char ch : text) {
        FT_UInt index = FT_Get_Char_Index(face, ch);
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector delta;
            FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &delta);
            penX += delta.x >> 6;
        }
        if (FT_Load_Glyph(face, index, FT_LOAD_RENDER) == 0)
            draw(face->glyph, penX);
        penX += face->glyph->advance.x >> 6;
        previous = index;
    }
    return penX;
}

} // namespace

std::string FontPath(const std::string& file) {
    std::string path = "/usr/share/fonts/truetype/dejavu/" + file;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
        return path;
    }
    std::fprintf(stderr, "make-data: font %s is missing; install the Debian package fonts-dejavu-core\n", path.c_str());
    std::exit(1);
}

int TextWidth(const std::string& fontFile, int pixelSize, const std::string& text) {
    FT_Face face = OpenFace(fontFile, pixelSize);
    long right = 0;
    Walk(face, text, 0, [&](FT_GlyphSlot g, long pen) {
        right = std::max<long>(right, pen + g->bitmap_left + long(g->bitmap.width));
    });
    FT_Done_Face(face);
    return int(right);
}

void DrawText(Mask& mask, const std::string& fontFile, int pixelSize, const std::string& text, int x, int baseline) {
    FT_Face face = OpenFace(fontFile, pixelSize);
    Walk(face, text, x, [&](FT_GlyphSlot g, long pen) {
        const FT_Bitmap& bm = g->bitmap;
        for (unsigned row = 0; row < bm.rows; ++row)
            for (unsigned col = 0; col < bm.width; ++col) {
                int px = int(pen) + g->bitmap_left + int(col);
                int py = baseline - g->bitmap_top + int(row);
                if (px < 0 || py < 0 || px >= mask.width || py >= mask.height)
                    continue;
                uint8_t v = bm.buffer[row * bm.pitch + col];
                uint8_t& d = mask.cover[size_t(py) * mask.width + px];
                d = std::max(d, v);
            }
    });
    FT_Done_Face(face);
}

} // namespace makedata
