#include "test_data.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "../movie/j2k_encode.h"
#include "png_writer.h"
#include "show/assets.h"

namespace fs = std::filesystem;

void WriteSizedFile(const fs::path& path, std::vector<uint8_t> bytes, size_t size) {
    // Fails the test (or the benchmark) that asked for the data with an exception that says what went wrong.
    if (bytes.size() > size)
        throw std::runtime_error("test data: " + path.string() + " does not fit its size");
    bytes.resize(size, 0);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
}

void WriteSizedPng(const fs::path& path, int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a, size_t size) {
    makedata::PngPicture picture{w, h, 6, std::vector<uint8_t>(size_t(w) * h * 4), {}};
    for (size_t i = 0; i < picture.samples.size(); i += 4)
        picture.samples[i] = r, picture.samples[i + 1] = g, picture.samples[i + 2] = b, picture.samples[i + 3] = a;
    auto padded = makedata::PadPng(makedata::EncodePng(picture), size);
    WriteSizedFile(path, padded ? *padded : std::vector<uint8_t>(size + 1), size);
}

void MakeTestData(const fs::path& dataDir, const std::string& moduleSource, int movieFrames) {
    fs::create_directories(dataDir);
    auto place = [&](AssetIndex asset) { return dataDir / fs::path(AssetTable[asset].path).filename(); };
    auto size = [](AssetIndex asset) { return size_t(AssetTable[asset].size); };
    int scene = 0;
    for (AssetIndex picture : {AssetScene1, AssetScene2, AssetScene3, AssetScene4, AssetLogo})
        WriteSizedPng(place(picture), 640, 480, 0, uint8_t(40 * ++scene), 255, 255, size(picture));
    WriteSizedPng(place(AssetTexts), 380, 288, 255, 0, 0, 255, size(AssetTexts));
    std::vector<uint8_t> module;
    if (!moduleSource.empty()) {
        std::ifstream in(moduleSource, std::ios::binary);
        module.assign(std::istreambuf_iterator<char>(in), {});
    }
    WriteSizedFile(place(AssetMusic), module, size(AssetMusic));
    std::vector<uint8_t> colour(8 * 8 * 3);
    for (size_t i = 0; i < colour.size(); i++)
        colour[i] = uint8_t(0x40 + 3 * i);
    const auto frames = std::vector<std::vector<uint8_t>>(movieFrames, EncodeJ2k(colour, 8, 8, 3));
    for (AssetIndex movie : {AssetMovie1, AssetMovie2, AssetMovie3})
        WriteSizedFile(place(movie), MakeMovie(frames, movieFrames), size(movie));
}
