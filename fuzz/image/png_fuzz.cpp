// LoadPngFromMemory on arbitrary bytes, with every alpha mode; a refusal must leave nothing allocated, and the
// vector code (filters, CRC, Inflate's pairs and BMI2) must give the same verdict and pixels as the plain code.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/inflate.h"
#include "image/png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size heap copy so ASan sees any read past the file.
    uint8_t* file = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size)
        std::memcpy(file, data, size);
    // The reader itself only refuses sizes that overflow; here a header may not ask for more than 256 MiB.
    PngByteLimit = uint64_t(1) << 28;
    int mode = size ? data[size - 1] % 9 : 0;
    Image image;
    const bool loaded = LoadPngFromMemory(file, size, "fuzz.png", &image, mode);
    // The plain twin: the plain filters and CRC, and Inflate's plain path.
    Image plain;
    PngFilterPath = 0;
    InflatePath = 0;
    const bool plainLoaded = LoadPngFromMemory(file, size, "fuzz.png", &plain, mode);
    PngFilterPath = 1;
    InflatePath = 1;
    if (loaded != plainLoaded || (!loaded && (image.pixels || plain.pixels)))
        std::abort();
    if (loaded) {
        if (!image.pixels || image.width < 0 || image.height < 0)
            std::abort();
        // Touch every byte so a short allocation shows up.
        size_t bytes = size_t(image.width) * image.height * (image.isGrey ? 1 : 4);
        volatile uint8_t sum = 0;
        for (size_t i = 0; i < bytes; ++i)
            sum = sum + image.pixels[i];
        if (plain.width != image.width || plain.height != image.height ||
            std::memcmp(plain.pixels, image.pixels, bytes))
            std::abort();
        std::free(plain.pixels);
        std::free(image.pixels);
    }
    std::free(file);
    return 0;
}
