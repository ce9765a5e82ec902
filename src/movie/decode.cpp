// One movie frame through OpenJPEG: a memory stream over the record, a check of the image-size segment before
// the decoder sees it, and a check of the decoded image before we index its samples.
#include "movie/movie.h"

#include <openjpeg.h>

#include <cstdlib>
#include <cstring>

#include "app/bytes.h"

namespace {

struct MemoryStream {
    const uint8_t* data;
    size_t size;
    size_t position;
};

OPJ_SIZE_T ReadBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    MemoryStream* stream = static_cast<MemoryStream*>(user);
    const size_t left = stream->size - stream->position;
    if (left == 0) {
        return OPJ_SIZE_T(-1); // the decoder's signal for the end of the data
    }
    const size_t n = count < left ? count : left;
    std::memcpy(buffer, stream->data + stream->position, n);
    stream->position += n;
    return n;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user) {
    MemoryStream* stream = static_cast<MemoryStream*>(user);
    if (count < 0) {
        const size_t back = size_t(-count) < stream->position ? size_t(-count) : stream->position;
        stream->position -= back;
        return -OPJ_OFF_T(back);
    }
    const size_t left = stream->size - stream->position;
    if (count > 0 && left == 0) {
        return -1;
    }
    const size_t n = uint64_t(count) < left ? size_t(count) : left;
    stream->position += n;
    return OPJ_OFF_T(n);
}

OPJ_BOOL SeekTo(OPJ_OFF_T offset, void* user) {
    MemoryStream* stream = static_cast<MemoryStream*>(user);
    if (offset < 0 || uint64_t(offset) > stream->size) {
        return OPJ_FALSE;
    }
    stream->position = size_t(offset);
    return OPJ_TRUE;
}

// The decoder's complaints are kept, not printed: the last error becomes the frame's reason.
char decoderError[160];

void KeepError(const char* message, void*) {
    std::strncpy(decoderError, message, sizeof decoderError - 1);
    decoderError[sizeof decoderError - 1] = 0;
    const size_t n = std::strlen(decoderError);
    if (n > 0 && decoderError[n - 1] == '\n') {
        decoderError[n - 1] = 0;
    }
}

void Ignore(const char*, void*) {}

// Tiles are limited only by what the codestream can number: tile indices are 16-bit, so at most 65535.
constexpr uint64_t maxTiles = 65535;

bool CheckSizeSegment(const uint8_t* code, size_t length) {
    if (length < 4 + 2 + 38) {
        SetMovieError("codestream too short for its size segment");
        return false;
    }
    const uint32_t lsiz = ReadBe16(code + 4);
    const uint32_t components = ReadBe16(code + 40);
    if (components != 1 && components != 3 && components != 4) {
        SetMovieError("frame has %u components (1, 3 or 4 can be shown)", components);
        return false;
    }
    if (lsiz != 38 + 3 * components || length < 4 + size_t(lsiz)) {
        SetMovieError("size segment of %u bytes does not fit %u components", lsiz, components);
        return false;
    }
    const uint32_t xsiz = ReadBe32(code + 8), ysiz = ReadBe32(code + 12);
    const uint32_t xosiz = ReadBe32(code + 16), yosiz = ReadBe32(code + 20);
    const uint32_t xtsiz = ReadBe32(code + 24), ytsiz = ReadBe32(code + 28);
    const uint32_t xtosiz = ReadBe32(code + 32), ytosiz = ReadBe32(code + 36);
    if (xosiz >= xsiz || yosiz >= ysiz || xsiz - xosiz > MovieFrameMaxSide || ysiz - yosiz > MovieFrameMaxSide) {
        SetMovieError("frame size %u..%u x %u..%u is not a sane movie frame", xosiz, xsiz, yosiz, ysiz);
        return false;
    }
    if (xtsiz == 0 || ytsiz == 0 || xtosiz > xosiz || ytosiz > yosiz || uint64_t(xtosiz) + xtsiz <= xosiz ||
        uint64_t(ytosiz) + ytsiz <= yosiz) {
        SetMovieError("tile grid does not cover the frame");
        return false;
    }
    const uint64_t across = (uint64_t(xsiz - xtosiz) + xtsiz - 1) / xtsiz;
    const uint64_t down = (uint64_t(ysiz - ytosiz) + ytsiz - 1) / ytsiz;
    if (across * down > maxTiles) {
        SetMovieError("frame has %llu tiles", (unsigned long long)(across * down));
        return false;
    }
    const uint8_t* component = code + 42;
    for (uint32_t c = 0; c < components; c++, component += 3) {
        if ((component[0] & 0x7F) + 1 > 16) {
            SetMovieError("component %u has %d bits", c, (component[0] & 0x7F) + 1);
            return false;
        }
        if (component[1] == 0 || component[2] == 0 || component[1] != code[43] || component[2] != code[44]) {
            SetMovieError("component %u is subsampled differently from the first", c);
            return false;
        }
    }
    return true;
}

bool CheckDecodedImage(const opj_image_t* image, uint32_t components) {
    if (!image || image->numcomps != components || !image->comps || image->x1 <= image->x0 || image->y1 <= image->y0) {
        SetMovieError("decoder returned an unusable image");
        return false;
    }
    const opj_image_comp_t& first = image->comps[0];
    for (uint32_t c = 0; c < components; c++) {
        const opj_image_comp_t& comp = image->comps[c];
        if (!comp.data || comp.dx != first.dx || comp.dy != first.dy || comp.w != first.w || comp.h != first.h) {
            SetMovieError("decoded component %u does not match the first", c);
            return false;
        }
    }
    return true;
}

// ceil(a / b), a itself when b is 0.
uint32_t CeilDiv(uint32_t a, uint32_t b) {
    return b == 0 ? a : uint32_t((uint64_t(a) + b - 1) / b);
}

// Where the codestream starts: the first SOC directly followed by SIZ, with at least one byte after them.
bool FindCodestream(const uint8_t* bytes, uint32_t length, size_t* start) {
    for (size_t p = 0; p + 4 < length; p++) {
        if (bytes[p] == 0xFF && bytes[p + 1] == 0x4F && bytes[p + 2] == 0xFF && bytes[p + 3] == 0x51) {
            *start = p;
            return true;
        }
    }
    return false;
}

// Runs the decoder over the codestream in memory; null (reason in ShowError) when it refuses.
opj_image_t* RunDecoder(const uint8_t* code, size_t codeLength) {
    MemoryStream memory = {code, codeLength, 0};
    opj_stream_t* stream = opj_stream_create(64 * 1024, OPJ_TRUE);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_image_t* decoded = nullptr;
    bool ok = stream && codec;
    if (ok) {
        opj_stream_set_user_data(stream, &memory, nullptr);
        // Without the length a memory stream trips an assertion inside the decoder.
        opj_stream_set_user_data_length(stream, codeLength);
        opj_stream_set_read_function(stream, ReadBytes);
        opj_stream_set_skip_function(stream, SkipBytes);
        opj_stream_set_seek_function(stream, SeekTo);
        decoderError[0] = 0;
        opj_set_error_handler(codec, KeepError, nullptr);
        opj_set_warning_handler(codec, Ignore, nullptr);
        opj_set_info_handler(codec, Ignore, nullptr);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        // Small frames decode faster on this thread than handed to a pool.
        ok = opj_setup_decoder(codec, &parameters) && opj_codec_set_threads(codec, 0) &&
             opj_read_header(stream, codec, &decoded) && opj_decode(codec, stream, decoded) &&
             opj_end_decompress(codec, stream);
        if (!ok) {
            SetMovieError("decoder refused the codestream: %s", decoderError[0] ? decoderError : "no reason given");
        }
    }
    if (codec) {
        opj_destroy_codec(codec);
    }
    if (stream) {
        opj_stream_destroy(stream);
    }
    if (!ok && decoded) {
        opj_image_destroy(decoded);
        decoded = nullptr;
    }
    return decoded;
}

// The decoded components as an Image: one grey byte per pixel for one component, else R G B A (opaque without a
// fourth component). Only the low 8 bits of each sample count.
void TakeComponents(const opj_image_t* decoded, uint32_t components, Image* image) {
    const opj_image_comp_t* comps = decoded->comps;
    const uint32_t width = CeilDiv(decoded->x1 - decoded->x0, comps[0].dx);
    const uint32_t height = CeilDiv(decoded->y1 - decoded->y0, comps[0].dy);
    const uint64_t count = uint64_t(width) * height;
    if (count == 0 || count > uint64_t(comps[0].w) * comps[0].h) {
        SetMovieError("decoded frame holds fewer samples than its size");
        return;
    }
    const size_t bytesPerPixel = components == 1 ? 1 : 4;
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(size_t(count) * bytesPerPixel));
    if (!pixels) {
        SetMovieError("out of memory for a %ux%u frame", width, height);
        return;
    }
    if (components == 1) {
        for (uint64_t k = 0; k < count; k++) {
            pixels[k] = uint8_t(comps[0].data[k]);
        }
    } else {
        const OPJ_INT32* alpha = components == 4 ? comps[3].data : nullptr;
        for (uint64_t k = 0; k < count; k++) {
            pixels[4 * k] = uint8_t(comps[0].data[k]);
            pixels[4 * k + 1] = uint8_t(comps[1].data[k]);
            pixels[4 * k + 2] = uint8_t(comps[2].data[k]);
            pixels[4 * k + 3] = alpha ? uint8_t(alpha[k]) : 255;
        }
    }
    image->pixels = pixels;
    image->width = int32_t(width);
    image->height = int32_t(height);
    image->hasAlpha = components == 4 ? 1 : 0;
    image->isGrey = components == 1 ? 1 : 0;
}

} // namespace

// The memory budget of one frame, the one place it is stated: at most 8192 x 8192 pixels. At that size the peak is
// about 1.5 GB for three components (OpenJPEG's 32-bit samples and tile buffers, and our RGBA copy), and a damaged
// codestream that claims it takes about 4 s to refuse. The size segment is checked against it before the decoder
// allocates anything, since a damaged one could otherwise make the decoder take far more.
uint32_t MovieFrameMaxSide = 8192;

uint32_t DecodeMovieFrame(const uint8_t* record, size_t available, Image* image) {
    *image = Image{};
    if (available < 4) {
        SetMovieError("frame record cut short");
        return 0;
    }
    const uint32_t length = ReadLe32(record);
    if (length > available - 4) {
        SetMovieError("frame record of %u bytes runs past the movie", length);
        return 0;
    }
    size_t start = 0;
    if (!FindCodestream(record + 4, length, &start)) {
        SetMovieError("frame record holds no codestream");
        return 4 + length;
    }
    const uint8_t* code = record + 4 + start;
    const size_t codeLength = length - start;
    if (!CheckSizeSegment(code, codeLength)) {
        return 4 + length;
    }
    const uint32_t components = ReadBe16(code + 40);
    opj_image_t* decoded = RunDecoder(code, codeLength);
    if (decoded && CheckDecodedImage(decoded, components)) {
        TakeComponents(decoded, components, image);
    }
    if (decoded) {
        opj_image_destroy(decoded);
    }
    return 4 + length;
}
