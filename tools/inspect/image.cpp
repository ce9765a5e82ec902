// The png and inflate subcommands.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "commands.h"
#include "image/inflate.h"
#include "image/png.h"

namespace {

bool WriteFile(const char* path, const uint8_t* data, size_t length) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data, 1, length, f) == length;
    return std::fclose(f) == 0 && ok;
}

bool ParseNumber(const char* text, long long low, long long high, long long* value) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high)
        return false;
    *value = v;
    return true;
}

} // namespace

int InspectPng(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: quimbles-inspect png FILE OUT [ALPHAMODE]\n");
        return ExitUsage;
    }
    long long mode = 0;
    if (argc == 3 && !ParseNumber(argv[2], -2147483648LL, 2147483647LL, &mode)) {
        std::fprintf(stderr, "quimbles-inspect: ALPHAMODE must be an integer, not '%s'\n", argv[2]);
        return ExitUsage;
    }
    Image image;
    if (!LoadPng(argv[0], &image, static_cast<int>(mode))) {
        std::fprintf(stderr, "%s\n", PngError());
        return ExitInputRefused;
    }
    size_t bytes = size_t(image.width) * image.height * (image.isGrey ? 1 : 4);
    bool ok = WriteFile(argv[1], image.pixels, bytes);
    std::free(image.pixels);
    if (!ok) {
        std::fprintf(stderr, "quimbles-inspect: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return ExitCannotWrite;
    }
    std::printf("%d %d %d %d\n", image.width, image.height, image.hasAlpha, image.isGrey);
    return 0;
}

int InspectInflate(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quimbles-inspect inflate IN LIMIT OUT\n");
        return ExitUsage;
    }
    long long limit = 0;
    if (!ParseNumber(argv[1], 0, 0xFFFFFFFFLL, &limit)) {
        std::fprintf(stderr, "quimbles-inspect: LIMIT must be a byte count from 0 to 4294967295, not '%s'\n", argv[1]);
        return ExitUsage;
    }
    std::ifstream in(argv[0], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "quimbles-inspect: cannot open %s\n", argv[0]);
        return ExitInputRefused;
    }
    std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> output(static_cast<size_t>(limit));
    OutputLimit = static_cast<uint32_t>(limit);
    int64_t produced = Inflate(stream.data(), stream.size(), output.data(), 0);
    if (produced < 0) {
        std::fprintf(stderr, "%s: malformed stream: %s\n", argv[0], InflateError());
        return ExitInputRefused;
    }
    if (!WriteFile(argv[2], output.data(), static_cast<size_t>(produced))) {
        std::fprintf(stderr, "quimbles-inspect: cannot write %s: %s\n", argv[2], std::strerror(errno));
        return ExitCannotWrite;
    }
    return 0;
}
