#include "j2k_writer.h"

#include <algorithm>
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

void Quiet(const char*, void*) {}

} // namespace

std::vector<uint8_t> EncodeJ2k(const std::vector<uint8_t>& samples, int width, int height, const J2kLayout& layout) {
    const int n = layout.components;
    std::vector<opj_image_cmptparm_t> parts(static_cast<size_t>(n));
    for (int c = 0; c < n; c++) {
        std::memset(&parts[c], 0, sizeof parts[c]);
        parts[c].dx = c == 0 ? 1 : OPJ_UINT32(layout.dx);
        parts[c].dy = c == 0 ? 1 : OPJ_UINT32(layout.dy);
        parts[c].w = (OPJ_UINT32(width) + parts[c].dx - 1) / parts[c].dx;
        parts[c].h = (OPJ_UINT32(height) + parts[c].dy - 1) / parts[c].dy;
        parts[c].prec = 8;
    }
    opj_image_t* image = opj_image_create(OPJ_UINT32(n), parts.data(), n == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    if (!image)
        return {};
    // opj_image_create leaves the image area unset.
    image->x0 = image->y0 = 0;
    image->x1 = OPJ_UINT32(width);
    image->y1 = OPJ_UINT32(height);
    for (int c = 0; c < n; c++)
        for (size_t y = 0; y < parts[c].h; y++)
            for (size_t x = 0; x < parts[c].w; x++)
                image->comps[c].data[y * parts[c].w + x] =
                    samples[(y * parts[c].dy * size_t(width) + x * parts[c].dx) * size_t(n) + size_t(c)];

    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = layout.ratio;
    params.irreversible = layout.ratio > 0 ? 1 : 0;
    params.cp_disto_alloc = 1;
    // The colour transform only where three full-size components allow it.
    params.tcp_mct = n >= 3 && layout.dx == 1 && layout.dy == 1 ? 1 : 0;
    params.tile_size_on = layout.tile > 0 ? OPJ_TRUE : OPJ_FALSE;
    params.cp_tdx = params.cp_tdy = layout.tile;
    // As many resolution levels as the smallest side (or tile) allows, at most OpenJPEG's default of six.
    const int side = layout.tile > 0 ? std::min({width, height, layout.tile}) : std::min(width, height);
    int levels = 5;
    while (levels > 0 && (side >> levels) < 1)
        levels--;
    params.numresolution = levels + 1;
    char comment[] = "QUIMBLES";
    params.cp_comment = comment; // replaces the encoder's longer default comment

    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
    MemoryOut out;
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &out, nullptr);
    opj_stream_set_write_function(stream, WriteOut);
    opj_stream_set_skip_function(stream, SkipOut);
    opj_stream_set_seek_function(stream, SeekOut);
    const bool ok = opj_setup_encoder(codec, &params, image) && opj_start_compress(codec, image, stream) &&
                    opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    return ok ? out.bytes : std::vector<uint8_t>();
}

} // namespace makedata
