#include "test_data.h"

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <iterator>

#include "../movie/j2k_encode.h"

namespace fs = std::filesystem;

// Fails the test (or the benchmark) that asked for the data with an exception that says what went wrong.
static void Require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::runtime_error("test data: " + what);
    }
}

void WriteSizedFile(const fs::path& path, std::vector<uint8_t> bytes, size_t size) {
    Require(bytes.size() <= size, path.string() + " does not fit its size");
    bytes.resize(size, 0);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A PNG of uniform R, G, B, A brought to exactly `size` bytes with a private ancillary chunk before IEND.
void WriteSizedPng(const fs::path& path, int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a, size_t size) {
    std::vector<uint8_t> rgba(size_t(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = r, rgba[i + 1] = g, rgba[i + 2] = b, rgba[i + 3] = a;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t length = 0;
    Require(png_image_write_to_memory(&image, nullptr, &length, 0, rgba.data(), 0, nullptr), "libpng cannot write");
    std::vector<uint8_t> png(length);
    Require(png_image_write_to_memory(&image, png.data(), &length, 0, rgba.data(), 0, nullptr), "libpng cannot write");
    png.resize(length);
    Require(size >= png.size() + 12, path.string() + " does not fit its size");
    const uint32_t fill = uint32_t(size - png.size() - 12);
    std::vector<uint8_t> chunk = {
        uint8_t(fill >> 24), uint8_t(fill >> 16), uint8_t(fill >> 8), uint8_t(fill), 'q', 'u', 'I', 'm'};
    chunk.resize(8 + fill, 0x5A);
    const uint32_t crc = uint32_t(crc32(crc32(0, nullptr, 0), chunk.data() + 4, 4 + fill));
    for (int s = 24; s >= 0; s -= 8) {
        chunk.push_back(uint8_t(crc >> s));
    }
    png.insert(png.end() - 12, chunk.begin(), chunk.end());
    WriteSizedFile(path, png, size);
}

void MakeTestData(const fs::path& dataDir, const std::string& moduleSource, int movieFrames) {
    fs::create_directories(dataDir);
    const char* pictures[] = {"le_poilu", "garbet_he", "tabi_feno", "vacances", "quimbles"};
    const int sizes[] = {133299, 143543, 125658, 117741, 164266};
    for (int k = 0; k < 5; k++) {
        WriteSizedPng(dataDir / (std::string(pictures[k]) + ".png"), 640, 480, 0, uint8_t(40 * (k + 1)), 255, 255,
                      sizes[k]);
    }
    WriteSizedPng(dataDir / "textes.png", 380, 288, 255, 0, 0, 255, 68264);
    std::vector<uint8_t> module;
    if (!moduleSource.empty()) {
        std::ifstream in(moduleSource, std::ios::binary);
        module.assign(std::istreambuf_iterator<char>(in), {});
    }
    WriteSizedFile(dataDir / "wide.xm", module, 40420);
    std::vector<uint8_t> colour(8 * 8 * 3);
    for (size_t i = 0; i < colour.size(); i++) {
        colour[i] = uint8_t(0x40 + 3 * i);
    }
    const auto frame = EncodeJ2k(colour, 8, 8, 3);
    const std::pair<const char*, size_t> movies[] = {
        {"tabi.movie", 360063}, {"rocu.movie", 316964}, {"rocu_mange.movie", 109422}};
    for (const auto& [name, size] : movies) {
        WriteSizedFile(dataDir / name, MakeMovie(std::vector<std::vector<uint8_t>>(movieFrames, frame), movieFrames),
                       size);
    }
}
