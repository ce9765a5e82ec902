#include "movie_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <openjpeg.h>

namespace makedata {
namespace {

struct MemoryOut {
    std::vector<uint8_t> bytes;
    size_t at = 0;
};

OPJ_SIZE_T WriteOut(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* out = static_cast<MemoryOut*>(user);
    if (out->at + size > out->bytes.size())
        out->bytes.resize(out->at + size);
    std::memcpy(out->bytes.data() + out->at, buffer, size);
    out->at += size;
    return size;
}
OPJ_OFF_T SkipOut(OPJ_OFF_T n, void* user) {
    auto* out = static_cast<MemoryOut*>(user);
    out->at += size_t(n);
    if (out->at > out->bytes.size())
        out->bytes.resize(out->at);
    return n;
}
OPJ_BOOL SeekOut(OPJ_OFF_T n, void* user) {
    auto* out = static_cast<MemoryOut*>(user);
    out->at = size_t(n);
    if (out->at > out->bytes.size())
        out->bytes.resize(out->at);
    return OPJ_TRUE;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "make-data: OpenJPEG %s\n", what);
    std::exit(1);
}

} // namespace

std::vector<uint8_t> EncodeJ2k(const std::vector<uint8_t>& rgb, int width, int height, size_t targetBytes) {
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    // The encoder defaults to lossless 5/3 without the colour transform; we want small lossy frames.
    params.irreversible = 1;
    params.tcp_mct = 1;
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = float(double(width) * height * 3 / double(targetBytes));
    params.cp_disto_alloc = 1;
    char comment[] = "QUIMBLES";
    params.cp_comment = comment; // replaces the encoder's longer default comment

    opj_image_cmptparm_t comps[3];
    std::memset(comps, 0, sizeof comps);
    for (auto& c : comps) {
        c.dx = c.dy = 1;
        c.w = OPJ_UINT32(width);
        c.h = OPJ_UINT32(height);
        c.prec = 8;
        c.sgnd = 0;
    }
    opj_image_t* image = opj_image_create(3, comps, OPJ_CLRSPC_SRGB);
    if (!image)
        Fail("cannot create an image");
    // opj_image_create leaves the image area unset.
    image->x0 = 0;
    image->y0 = 0;
    image->x1 = OPJ_UINT32(width);
    image->y1 = OPJ_UINT32(height);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < width * height; ++i)
            image->comps[k].data[i] = rgb[size_t(i) * 3 + k];

    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    if (!codec || !opj_setup_encoder(codec, &params, image))
        Fail("does not accept the encoder settings");
    MemoryOut out;
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &out, nullptr);
    opj_stream_set_write_function(stream, WriteOut);
    opj_stream_set_skip_function(stream, SkipOut);
    opj_stream_set_seek_function(stream, SeekOut);
    if (!opj_start_compress(codec, image, stream) || !opj_encode(codec, stream) || !opj_end_compress(codec, stream))
        Fail("fails to encode a frame");
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    return out.bytes;
}

std::vector<uint8_t> BuildMovie(const std::vector<Canvas>& frames, size_t targetSize) {
    const size_t n = frames.size();
    std::vector<std::vector<uint8_t>> rgb;
    for (const Canvas& f : frames)
        rgb.push_back(ToRgb8(f, 0));
    // Start from an even share of the file and shrink the share until everything fits; the encoder can
    // overshoot its target slightly, which the loop absorbs.
    size_t share = (targetSize - 9) / n - 4;
    for (;;) {
        std::vector<uint8_t> file = {'Q', 'M', 'O', 'V', '1'};
        for (int s = 0; s < 32; s += 8)
            file.push_back(uint8_t(n >> s));
        for (size_t i = 0; i < n; ++i) {
            std::vector<uint8_t> cs = EncodeJ2k(rgb[i], frames[i].width, frames[i].height, share);
            for (int s = 0; s < 32; s += 8)
                file.push_back(uint8_t(cs.size() >> s));
            file.insert(file.end(), cs.begin(), cs.end());
        }
        if (file.size() <= targetSize) {
            std::fprintf(stderr, "  %zu frames of about %zu bytes, %zu bytes of padding\n", n, share,
                         targetSize - file.size());
            file.resize(targetSize, 0); // bytes after the last record are not read
            return file;
        }
        size_t over = file.size() - targetSize;
        size_t cut = std::max<size_t>(over / n + 1, share / 100);
        if (cut >= share)
            break;
        share -= cut;
    }
    std::fprintf(stderr, "make-data: the movie does not fit in %zu bytes\n", targetSize);
    std::exit(1);
}

} // namespace makedata
