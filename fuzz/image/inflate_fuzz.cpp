// Inflate on arbitrary bytes: the first byte picks the output size and whether history precedes the start. Every
// path (see InflatePath) must give the same result, the same bytes and the same reason.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // Sizes from tiny (limit cuts) to larger than most seeds produce.
    static const uint32_t Limits[8] = {0, 1, 7, 258, 4096, 65536, 300000, 1 << 21};
    uint32_t limit = Limits[data[0] & 7];
    uint32_t start = data[0] & 8 ? (limit < 100 ? limit / 2 : 100) : 0;
    // An exact-size heap copy so ASan sees any read past the stream.
    uint8_t* stream = static_cast<uint8_t*>(std::malloc(size - 1 ? size - 1 : 1));
    std::memcpy(stream, data + 1, size - 1);
    std::vector<uint8_t> first;
    int64_t firstEnd = 0;
    const char* firstError = "";
    for (int path : {1, 0, 2}) {
        // Guard bytes: a decoded stream leaves every byte from its end position on as it was.
        std::vector<uint8_t> output(limit, 0xA5);
        InflatePath = path;
        OutputLimit = limit;
        int64_t end = Inflate(stream, size - 1, output.data(), start);
        if (end != -1 && (end < start || end > (start > limit ? start : limit)))
            std::abort();
        for (int64_t i = end; end != -1 && i < int64_t(limit); ++i)
            if (output[size_t(i)] != 0xA5)
                std::abort();
        if (path == 1) {
            first = output;
            firstEnd = end;
            firstError = InflateError();
        } else if (end != firstEnd || output != first || std::strcmp(InflateError(), firstError) != 0) {
            std::abort();
        }
    }
    InflatePath = 1;
    std::free(stream);
    return 0;
}
