#include "j2k_encode.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "test_temp.h"

namespace {

void Quiet(const char*, void*) {}

opj_codec_t* Codec(opj_codec_t* codec) {
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
    return codec;
}

// OpenJPEG reads and writes codestreams through a scratch file of this process.
std::string ScratchName() {
    static int count = 0;
    return "j2k-" + std::to_string(count++) + ".j2k";
}

} // namespace

std::vector<uint8_t> EncodeJ2k(const std::vector<uint8_t>& samples, int width, int height, int components, int dx,
                               int dy, float ratio, int tile) {
    std::vector<opj_image_cmptparm_t> parts(components);
    for (int c = 0; c < components; c++) {
        std::memset(&parts[c], 0, sizeof parts[c]);
        parts[c].dx = c == 0 ? 1 : dx;
        parts[c].dy = c == 0 ? 1 : dy;
        parts[c].w = (width + parts[c].dx - 1) / parts[c].dx;
        parts[c].h = (height + parts[c].dy - 1) / parts[c].dy;
        parts[c].prec = 8;
    }
    opj_image_t* image =
        opj_image_create(components, parts.data(), components == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    image->x1 = width;
    image->y1 = height;
    for (int c = 0; c < components; c++)
        for (int y = 0; y < int(parts[c].h); y++)
            for (int x = 0; x < int(parts[c].w); x++)
                image->comps[c].data[y * int(parts[c].w) + x] =
                    samples[(size_t(y) * parts[c].dy * width + x * parts[c].dx) * components + c];
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = ratio; // 0: lossless
    parameters.irreversible = ratio > 0 ? 1 : 0;
    parameters.cp_disto_alloc = 1;
    parameters.tcp_mct = (components >= 3 && dx == 1 && dy == 1) ? 1 : 0;
    parameters.tile_size_on = tile > 0;
    parameters.cp_tdx = parameters.cp_tdy = tile;
    const int side = tile > 0 ? std::min({width, height, tile}) : std::min(width, height);
    int levels = 5;
    while (levels > 0 && (side >> levels) < 1)
        levels--;
    parameters.numresolution = levels + 1;
    opj_codec_t* codec = Codec(opj_create_compress(OPJ_CODEC_J2K));
    const std::string path = TestTempPath(ScratchName());
    opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), false);
    bool ok = opj_setup_encoder(codec, &parameters, image) && opj_start_compress(codec, image, stream) &&
              opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    std::vector<uint8_t> bytes;
    {
        std::ifstream in(path, std::ios::binary); // closed before the removal, which Windows refuses otherwise
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::remove(path);
    return ok ? bytes : std::vector<uint8_t>();
}

std::vector<uint8_t> MakeMovie(const std::vector<std::vector<uint8_t>>& frames, int32_t count, size_t prefix) {
    std::vector<uint8_t> movie = {'Q', 'M', 'O', 'V', 1};
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; i++)
            movie.push_back(uint8_t(v >> (8 * i)));
    };
    put32(uint32_t(count));
    for (const auto& frame : frames) {
        put32(uint32_t(frame.size() + prefix));
        for (size_t i = 0; i < prefix; i++)
            movie.push_back(uint8_t(0x11 * (i + 1)));
        movie.insert(movie.end(), frame.begin(), frame.end());
    }
    return movie;
}

DecodedJ2k DecodeJ2k(const std::vector<uint8_t>& code) {
    DecodedJ2k result;
    const std::string path = WriteTempFile(ScratchName(), code);
    opj_stream_t* stream = opj_stream_create_default_file_stream(path.c_str(), true);
    opj_codec_t* codec = Codec(opj_create_decompress(OPJ_CODEC_J2K));
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
            result.sameSizes = result.sameSizes && comp.w == image->comps[0].w && comp.h == image->comps[0].h &&
                               comp.dx == image->comps[0].dx && comp.dy == image->comps[0].dy;
            result.planes.emplace_back(comp.data, comp.data + size_t(comp.w) * comp.h);
        }
    }
    if (image)
        opj_image_destroy(image);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    std::filesystem::remove(path);
    return result;
}
