#include "test_data.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "../movie/j2k_encode.h"
#include "png_writer.h"

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
    const char* pictures[] = {"le_poilu", "garbet_he", "tabi_feno", "vacances", "quimbles"};
    const int sizes[] = {133299, 143543, 125658, 117741, 164266};
    for (int k = 0; k < 5; k++)
        WriteSizedPng(dataDir / (std::string(pictures[k]) + ".png"), 640, 480, 0, uint8_t(40 * (k + 1)), 255, 255,
                      sizes[k]);
    WriteSizedPng(dataDir / "textes.png", 380, 288, 255, 0, 0, 255, 68264);
    std::vector<uint8_t> module;
    if (!moduleSource.empty()) {
        std::ifstream in(moduleSource, std::ios::binary);
        module.assign(std::istreambuf_iterator<char>(in), {});
    }
    WriteSizedFile(dataDir / "wide.xm", module, 40420);
    std::vector<uint8_t> colour(8 * 8 * 3);
    for (size_t i = 0; i < colour.size(); i++)
        colour[i] = uint8_t(0x40 + 3 * i);
    const auto frames = std::vector<std::vector<uint8_t>>(movieFrames, EncodeJ2k(colour, 8, 8, 3));
    const std::pair<const char*, size_t> movies[] = {
        {"tabi.movie", 360063}, {"rocu.movie", 316964}, {"rocu_mange.movie", 109422}};
    for (const auto& [name, size] : movies)
        WriteSizedFile(dataDir / name, MakeMovie(frames, movieFrames), size);
}
