#include "j2k_encode.h"

#include <openjpeg.h>

#include <cstring>

namespace {

struct Sink {
    std::vector<uint8_t>* bytes;
    size_t position;
};

OPJ_SIZE_T SinkWrite(void* buffer, OPJ_SIZE_T count, void* user) {
    Sink* sink = static_cast<Sink*>(user);
    if (sink->bytes->size() < sink->position + count) {
        sink->bytes->resize(sink->position + count);
    }
    std::memcpy(sink->bytes->data() + sink->position, buffer, count);
    sink->position += count;
    return count;
}

OPJ_OFF_T SinkSkip(OPJ_OFF_T count, void* user) {
    Sink* sink = static_cast<Sink*>(user);
    sink->position += size_t(count);
    if (sink->bytes->size() < sink->position) {
        sink->bytes->resize(sink->position);
    }
    return count;
}

OPJ_BOOL SinkSeek(OPJ_OFF_T offset, void* user) {
    static_cast<Sink*>(user)->position = size_t(offset);
    return OPJ_TRUE;
}

struct Source {
    const std::vector<uint8_t>* bytes;
    size_t position;
};

OPJ_SIZE_T SourceRead(void* buffer, OPJ_SIZE_T count, void* user) {
    Source* s = static_cast<Source*>(user);
    size_t left = s->bytes->size() - s->position;
    if (left == 0) {
        return OPJ_SIZE_T(-1);
    }
    size_t n = count < left ? count : left;
    std::memcpy(buffer, s->bytes->data() + s->position, n);
    s->position += n;
    return n;
}

OPJ_OFF_T SourceSkip(OPJ_OFF_T count, void* user) {
    Source* s = static_cast<Source*>(user);
    size_t left = s->bytes->size() - s->position;
    size_t n = size_t(count) < left ? size_t(count) : left;
    s->position += n;
    return OPJ_OFF_T(n);
}

OPJ_BOOL SourceSeek(OPJ_OFF_T offset, void* user) {
    Source* s = static_cast<Source*>(user);
    if (size_t(offset) > s->bytes->size()) {
        return OPJ_FALSE;
    }
    s->position = size_t(offset);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

} // namespace

std::vector<uint8_t> EncodeJ2k(const std::vector<uint8_t>& samples, int width, int height, int components, int dx,
                               int dy, float ratio) {
    std::vector<opj_image_cmptparm_t> parts(components);
    for (int c = 0; c < components; c++) {
        std::memset(&parts[c], 0, sizeof parts[c]);
        parts[c].dx = c == 0 ? 1 : dx;
        parts[c].dy = c == 0 ? 1 : dy;
        parts[c].w = (width + parts[c].dx - 1) / parts[c].dx;
        parts[c].h = (height + parts[c].dy - 1) / parts[c].dy;
        parts[c].prec = 8;
        parts[c].sgnd = 0;
    }
    opj_image_t* image =
        opj_image_create(components, parts.data(), components == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    image->x0 = 0;
    image->y0 = 0;
    image->x1 = width;
    image->y1 = height;
    for (int c = 0; c < components; c++) {
        const int w = int(parts[c].w), h = int(parts[c].h);
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                const int sx = x * int(parts[c].dx), sy = y * int(parts[c].dy);
                image->comps[c].data[y * w + x] = samples[(size_t(sy) * width + sx) * components + c];
            }
        }
    }
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = ratio; // 0: lossless
    parameters.irreversible = ratio > 0 ? 1 : 0;
    parameters.cp_disto_alloc = 1;
    parameters.tcp_mct = (components >= 3 && dx == 1 && dy == 1) ? 1 : 0;
    int levels = 5;
    while (levels > 0 && ((width >> levels) < 1 || (height >> levels) < 1)) {
        levels--;
    }
    parameters.numresolution = levels + 1;
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
    std::vector<uint8_t> bytes;
    Sink sink = {&bytes, 0};
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &sink, nullptr);
    opj_stream_set_write_function(stream, SinkWrite);
    opj_stream_set_skip_function(stream, SinkSkip);
    opj_stream_set_seek_function(stream, SinkSeek);
    bool ok = opj_setup_encoder(codec, &parameters, image) && opj_start_compress(codec, image, stream) &&
              opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok) {
        bytes.clear();
    }
    return bytes;
}

std::vector<uint8_t> MakeMovie(const std::vector<std::vector<uint8_t>>& frames, int32_t count, size_t prefix) {
    std::vector<uint8_t> movie = {'Q', 'M', 'O', 'V', 1};
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; i++) {
            movie.push_back(uint8_t(v >> (8 * i)));
        }
    };
    put32(uint32_t(count));
    for (const auto& frame : frames) {
        put32(uint32_t(frame.size() + prefix));
        for (size_t i = 0; i < prefix; i++) {
            movie.push_back(uint8_t(0x11 * (i + 1)));
        }
        movie.insert(movie.end(), frame.begin(), frame.end());
    }
    return movie;
}

DecodedJ2k DecodeJ2k(const std::vector<uint8_t>& code) {
    DecodedJ2k result;
    Source source = {&code, 0};
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_TRUE);
    opj_stream_set_user_data(stream, &source, nullptr);
    opj_stream_set_user_data_length(stream, code.size());
    opj_stream_set_read_function(stream, SourceRead);
    opj_stream_set_skip_function(stream, SourceSkip);
    opj_stream_set_seek_function(stream, SourceSeek);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* image = nullptr;
    if (opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &image) &&
        opj_decode(codec, stream, image) && opj_end_decompress(codec, stream)) {
        result.ok = true;
        result.components = int(image->numcomps);
        result.width = int(image->comps[0].w);
        result.height = int(image->comps[0].h);
        for (unsigned c = 0; c < image->numcomps; c++) {
            const opj_image_comp_t& comp = image->comps[c];
            if (comp.w != image->comps[0].w || comp.h != image->comps[0].h || comp.dx != image->comps[0].dx ||
                comp.dy != image->comps[0].dy) {
                result.sameSizes = false;
            }
            result.planes.emplace_back(comp.data, comp.data + size_t(comp.w) * comp.h);
        }
    }
    if (image) {
        opj_image_destroy(image);
    }
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    return result;
}
