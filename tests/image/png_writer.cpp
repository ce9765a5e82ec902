#include "png_writer.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "deflate_writer.h"

namespace {
void PutBig32(Bytes& b, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(static_cast<uint8_t>(v >> shift));
}
} // namespace

void PngBuilder::Chunk(const char* type, const Bytes& data, bool badCrc) {
    PutBig32(bytes, static_cast<uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    uLong crc = crc32(crc32(0, nullptr, 0), body.data(), static_cast<uInt>(body.size()));
    bytes.insert(bytes.end(), body.begin(), body.end());
    PutBig32(bytes, static_cast<uint32_t>(badCrc ? ~crc : crc));
}

void PngBuilder::Header(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, uint8_t interlace,
                        bool badCrc) {
    Bytes data;
    PutBig32(data, width);
    PutBig32(data, height);
    data.insert(data.end(), {depth, colourType, 0, 0, interlace});
    Chunk("IHDR", data, badCrc);
}

Bytes CompressRows(const std::vector<Bytes>& rows, const std::vector<uint8_t>& filters) {
    Bytes raw;
    for (size_t y = 0; y < rows.size(); ++y) {
        raw.push_back(filters[y]);
        raw.insert(raw.end(), rows[y].begin(), rows[y].end());
    }
    return ZlibCompress(raw, 9);
}

bool WriteWithLibpng(const std::string& path, uint32_t width, uint32_t height, int colourType, const Bytes& samples,
                     const Bytes& palette, int filters, size_t idatBytes, bool addTrns) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_color entries[256];
        int count = static_cast<int>(palette.size() / 3);
        for (int i = 0; i < count; ++i)
            entries[i] = {palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]};
        png_set_PLTE(png, info, entries, count);
        if (addTrns) {
            png_byte alpha[256];
            for (int i = 0; i < count; ++i)
                alpha[i] = static_cast<png_byte>(i * 7);
            png_set_tRNS(png, info, alpha, count, nullptr);
        }
    }
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
    png_set_compression_buffer_size(png, idatBytes);
    png_write_info(png, info);
    size_t stride = samples.size() / height;
    for (uint32_t y = 0; y < height; ++y)
        png_write_row(png, samples.data() + y * stride);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool ReadWithLibpng(const std::string& path, LibpngImage* image) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
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
    image->width = png_get_image_width(png, info);
    image->height = png_get_image_height(png, info);
    image->colourType = png_get_color_type(png, info);
    image->bitDepth = png_get_bit_depth(png, info);
    image->interlace = png_get_interlace_type(png, info);
    size_t rowBytes = png_get_rowbytes(png, info);
    png_bytepp rows = png_get_rows(png, info);
    image->samples.clear();
    for (uint32_t y = 0; y < image->height; ++y)
        image->samples.insert(image->samples.end(), rows[y], rows[y] + rowBytes);
    png_colorp entries = nullptr;
    int count = 0;
    image->palette.clear();
    if (png_get_PLTE(png, info, &entries, &count) == PNG_INFO_PLTE)
        for (int i = 0; i < count; ++i)
            image->palette.insert(image->palette.end(), {entries[i].red, entries[i].green, entries[i].blue});
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return true;
}
