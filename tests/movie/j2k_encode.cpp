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

// OpenJPEG reads codestreams through a scratch file of this process.
std::string ScratchName() {
    static int count = 0;
    return "j2k-" + std::to_string(count++) + ".j2k";
}

} // namespace

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
