// Inflate against zlib's uncompress and libdeflate on the same streams; LoadPng against libpng's simplified API
// and libspng on the same files. Each peer decodes into a buffer of the known size, as ours does.
// With --ratios[=ROUNDS] [FILTER] it prints instead Inflate's speed ratios over the corpus, the show's data set and
// the photographs made here (the streams whose names contain FILTER); with --png-ratios, LoadPng's against libpng
// and libspng on the corpus's real pictures, the data set and the photographs, and the peak memory of decoding the
// largest photograph; with --all-ratios[=ROUNDS], both.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/inflate.h"
#include "image/png.h"
#include "png_writer.h"

using Bytes = std::vector<uint8_t>;

namespace fs = std::filesystem;

namespace {

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A 640x480 picture with smooth gradients, hard-edged shapes and a noisy band, like a demo's backdrop.
Bytes MakePicture(int channels) {
    const int w = 640, h = 480;
    Bytes p(size_t(w) * h * channels);
    uint32_t state = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            state = state * 1664525u + 1013904223u;
            double d = std::hypot(x - 320.0, y - 240.0);
            bool disc = d < 150 && d > 100;
            bool band = y > 380 && y < 420;
            uint8_t* px = &p[(size_t(y) * w + x) * channels];
            px[0] = static_cast<uint8_t>(disc ? 240 : x * 255 / w);
            px[1] = static_cast<uint8_t>(disc ? 40 : y * 255 / h);
            px[2] = static_cast<uint8_t>(band ? state >> 24 : (x + y) / 5);
            if (channels == 4)
                px[3] = static_cast<uint8_t>(disc ? 255 : 128 + (x % 64));
        }
    return p;
}

// The joined IDAT data of a PNG file: a zlib stream.
Bytes IdatStream(const Bytes& file) {
    Bytes stream;
    size_t pos = 8;
    while (pos + 12 <= file.size()) {
        uint32_t length = uint32_t(file[pos]) << 24 | file[pos + 1] << 16 | file[pos + 2] << 8 | file[pos + 3];
        if (std::string(file.begin() + pos + 4, file.begin() + pos + 8) == "IDAT")
            stream.insert(stream.end(), file.begin() + pos + 8, file.begin() + pos + 8 + length);
        pos += 12 + length;
    }
    return stream;
}

// Photographs made here for the PNG ratios: camera-sized, noisy, every colour type and every filter, saved the way
// a photo program saves them (zlib at a stated level, adaptive filters, the data cut into 64 KB IDAT chunks).
struct Photo {
    std::string name;
    int width, height, colourType;
    int filter; // 0..4 on every row, or -1: per row the filter of the smallest sum of absolute values
    int level;
    int grain; // the noise's standard deviation in sample levels
};

const Photo Photos[] = {
    {"photo-rgb-4000x3000", 4000, 3000, 2, -1, 6, 9},          {"photo-rgb-4000x3000-clean", 4000, 3000, 2, -1, 6, 1},
    {"photo-rgb-4000x3000-grain20", 4000, 3000, 2, -1, 6, 20}, {"photo-rgba-3000x2000", 3000, 2000, 6, -1, 6, 5},
    {"photo-grey-4000x3000", 4000, 3000, 0, -1, 6, 5},         {"photo-palette-4000x3000", 4000, 3000, 3, 0, 6, 5},
    {"photo-rgb-2000x1500-clean-L9", 2000, 1500, 2, -1, 9, 1}, {"photo-rgb-2000x1500-L1", 2000, 1500, 2, -1, 1, 5},
    {"photo-rgb-2000x1500-none", 2000, 1500, 2, 0, 6, 5},      {"photo-rgb-2000x1500-sub", 2000, 1500, 2, 1, 6, 5},
    {"photo-rgb-2000x1500-up", 2000, 1500, 2, 2, 6, 5},        {"photo-rgb-2000x1500-average", 2000, 1500, 2, 3, 6, 5},
    {"photo-rgb-2000x1500-paeth", 2000, 1500, 2, 4, 6, 5},     {"photo-rgba-2000x1500-paeth", 2000, 1500, 6, 4, 6, 5},
};

// Gaussian-like noise: the sum of four uniform bytes, centred, scaled to a standard deviation of `grain`.
struct Noise {
    uint64_t state = 0x9E3779B97F4A7C15u;
    int Next(int grain) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        const int sum = int(state & 0xFF) + int(state >> 8 & 0xFF) + int(state >> 16 & 0xFF) + int(state >> 24 & 0xFF);
        return (sum - 510) * grain / 148; // four uniform bytes have a standard deviation of 147.8
    }
};

// A scene of smooth light, a horizon with hills, a few soft discs and a striped object, with sensor noise on each
// sample; RGB, then reduced to what the colour type keeps.
Bytes PhotoSamples(const Photo& p, Bytes* palette) {
    const int w = p.width, h = p.height;
    const int channels = p.colourType == 6 ? 4 : p.colourType == 2 ? 3 : 1;
    Bytes out(size_t(w) * h * channels);
    Noise noise;
    std::vector<double> hill(w), waveX(w), waveY(h);
    for (int x = 0; x < w; ++x) {
        hill[x] = h * (0.55 + 0.08 * std::sin(x * 6.0 / w) + 0.03 * std::sin(x * 23.0 / w + 1));
        waveX[x] = std::sin(x * 9.0 / w);
    }
    for (int y = 0; y < h; ++y)
        waveY[y] = std::cos(y * 7.0 / h);
    if (p.colourType == 3)
        for (int i = 0; i < 252; ++i) // a 6 x 7 x 6 colour cube
            palette->insert(palette->end(), {uint8_t(i / 42 * 51), uint8_t(i / 6 % 7 * 42), uint8_t(i % 6 * 51)});
    for (int y = 0; y < h; ++y) {
        uint8_t* row = &out[size_t(y) * w * channels];
        for (int x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            double rgb[3];
            if (y < hill[x]) { // sky: a gradient with soft clouds
                const double cloud = 40 * waveX[x] * waveY[y] * waveX[(x * 3) % w];
                rgb[0] = 90 + 80 * v + cloud, rgb[1] = 140 + 60 * v + cloud, rgb[2] = 230 - 30 * v + cloud;
            } else { // ground: fields with furrows
                const double furrow = 25 * std::sin((x + 3.0 * y) * 0.05);
                rgb[0] = 70 + 60 * u + furrow, rgb[1] = 110 + 40 * waveX[x] + furrow, rgb[2] = 40 + 30 * v;
            }
            const double d = std::hypot(x - 0.7 * w, y - 0.3 * h);
            if (d < 0.08 * h) // the sun, with a soft edge
                for (double& c : rgb)
                    c = std::max(c, 255 - 2.5 * std::max(0.0, d - 0.06 * h));
            if (u > 0.2 && u < 0.35 && v > 0.5 && v < 0.9) // a striped box
                rgb[0] = rgb[1] = rgb[2] = (x / 16 + y / 16) % 2 ? 200 : 60;
            int s[4];
            for (int k = 0; k < 3; ++k)
                s[k] = std::clamp(int(rgb[k]) + noise.Next(p.grain), 0, 255);
            s[3] = std::clamp(int(255 * (1 - u * v)) + noise.Next(p.grain), 0, 255);
            uint8_t* px = row + size_t(x) * channels;
            if (p.colourType == 0)
                px[0] = uint8_t((s[0] * 77 + s[1] * 150 + s[2] * 29) >> 8);
            else if (p.colourType == 3)
                px[0] = uint8_t((s[0] * 6 / 256) * 42 + (s[1] * 7 / 256) * 6 + s[2] * 6 / 256);
            else
                for (int k = 0; k < channels; ++k)
                    px[k] = uint8_t(s[k]);
        }
    }
    return out;
}

int PaethOf(int a, int b, int c) {
    const int q = a + b - c, pa = std::abs(q - a), pb = std::abs(q - b), pc = std::abs(q - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

void PutChunk(Bytes& file, const char* type, const uint8_t* data, size_t length) {
    const uint8_t head[8] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length),
                             uint8_t(type[0]),      uint8_t(type[1]),      uint8_t(type[2]),     uint8_t(type[3])};
    file.insert(file.end(), head, head + 8);
    file.insert(file.end(), data, data + length);
    const uint32_t crc = uint32_t(crc32(crc32(0, head + 4, 4), data, uInt(length)));
    const uint8_t tail[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
    file.insert(file.end(), tail, tail + 4);
}

// The PNG file of a photograph: filtered rows compressed by zlib, cut into IDAT chunks of 64 KB.
Bytes PhotoPng(const Photo& p) {
    Bytes palette, samples = PhotoSamples(p, &palette);
    const int bpp = p.colourType == 6 ? 4 : p.colourType == 2 ? 3 : 1;
    const size_t stride = size_t(p.width) * bpp;
    Bytes filtered((stride + 1) * p.height), zero(stride, 0), candidate(stride);
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* row = &samples[stride * y];
        const uint8_t* up = y ? row - stride : zero.data();
        uint8_t* out = &filtered[(stride + 1) * y];
        long bestScore = -1;
        for (int f = 0; f < 5; ++f) {
            if (p.filter >= 0 && f != p.filter)
                continue;
            long score = 0;
            for (size_t i = 0; i < stride; ++i) {
                const int a = i >= size_t(bpp) ? row[i - bpp] : 0, b = up[i], c = i >= size_t(bpp) ? up[i - bpp] : 0;
                const int predicted = f == 0 ? 0 : f == 1 ? a : f == 2 ? b : f == 3 ? (a + b) / 2 : PaethOf(a, b, c);
                candidate[i] = uint8_t(row[i] - predicted);
                score += candidate[i] < 128 ? candidate[i] : 256 - candidate[i];
            }
            if (bestScore < 0 || score < bestScore) {
                bestScore = score;
                out[0] = uint8_t(f);
                std::memcpy(out + 1, candidate.data(), stride);
            }
        }
    }
    uLongf length = compressBound(uLong(filtered.size()));
    Bytes z(length);
    compress2(z.data(), &length, filtered.data(), uLong(filtered.size()), p.level);
    z.resize(length);
    Bytes file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const uint8_t ihdr[13] = {uint8_t(p.width >> 24),
                              uint8_t(p.width >> 16),
                              uint8_t(p.width >> 8),
                              uint8_t(p.width),
                              uint8_t(p.height >> 24),
                              uint8_t(p.height >> 16),
                              uint8_t(p.height >> 8),
                              uint8_t(p.height),
                              8,
                              uint8_t(p.colourType),
                              0,
                              0,
                              0};
    PutChunk(file, "IHDR", ihdr, 13);
    if (p.colourType == 3)
        PutChunk(file, "PLTE", palette.data(), palette.size());
    for (size_t at = 0; at < z.size(); at += 65536)
        PutChunk(file, "IDAT", z.data() + at, std::min<size_t>(65536, z.size() - at));
    PutChunk(file, "IEND", nullptr, 0);
    return file;
}

// The photographs, made once into the bench's folder; a new generator version makes them again.
constexpr int PhotosVersion = 2;

fs::path PhotosFolder() {
    const fs::path folder = fs::path(BENCH_FILES_DIR) / "photos", stamp = folder / "VERSION";
    std::ifstream in(stamp);
    int version = 0;
    if (in >> version && version == PhotosVersion)
        return folder;
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const Photo& p : Photos) {
        std::fprintf(stderr, "making %s.png\n", p.name.c_str());
        const Bytes png = PhotoPng(p);
        std::ofstream(folder / (p.name + ".png"), std::ios::binary)
            .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    }
    std::ofstream(stamp) << PhotosVersion << "\n";
    return folder;
}

struct Stream {
    std::string name;
    Bytes compressed;
    size_t size;
};

std::vector<Stream> Streams;
std::vector<fs::path> Pictures;

void Prepare() {
    fs::create_directories(BENCH_FILES_DIR);
    fs::path deflateSrc = fs::path(QUIMBLES_CORPUS_DIR) / "deflate/src";
    for (const char* name : {"text-GPL-3.txt", "perl-unicore-Name.pl", "elf-so-libm.so.6", "font-DejaVuSans.ttf"}) {
        Bytes data = ReadFile(deflateSrc / name);
        uLongf length = compressBound(static_cast<uLong>(data.size()));
        Bytes out(length);
        compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()), 6);
        out.resize(length);
        Streams.push_back({name, out, data.size()});
    }
    for (int channels : {3, 4}) {
        std::string name = channels == 3 ? "picture-rgb-640x480" : "picture-rgba-640x480";
        fs::path path = fs::path(BENCH_FILES_DIR) / (name + ".png");
        Bytes png = makedata::EncodePng({640, 480, channels == 4 ? 6 : 2, MakePicture(channels), {}});
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
        Pictures.push_back(path);
        Streams.push_back({"idat-" + name, IdatStream(ReadFile(path)), size_t(640 * channels + 1) * 480});
    }
}

void BM_InflateOurs(benchmark::State& state, const Stream* s) {
    Bytes out(s->size);
    for (auto _ : state) {
        OutputLimit = static_cast<uint32_t>(s->size);
        int64_t n = Inflate(s->compressed.data(), s->compressed.size(), out.data(), 0);
        if (n != int64_t(s->size))
            state.SkipWithError("Inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s->size));
}

void BM_InflateZlib(benchmark::State& state, const Stream* s) {
    Bytes out(s->size);
    for (auto _ : state) {
        uLongf length = static_cast<uLongf>(s->size);
        if (uncompress(out.data(), &length, s->compressed.data(), static_cast<uLong>(s->compressed.size())) != Z_OK)
            state.SkipWithError("uncompress failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s->size));
}

void BM_InflateLibdeflate(benchmark::State& state, const Stream* s) {
    Bytes out(s->size);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        size_t got = 0;
        if (libdeflate_zlib_decompress(d, s->compressed.data(), s->compressed.size(), out.data(), out.size(), &got) !=
            LIBDEFLATE_SUCCESS)
            state.SkipWithError("libdeflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    libdeflate_free_decompressor(d);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s->size));
}

void BM_LoadPngOurs(benchmark::State& state, const fs::path* path) {
    for (auto _ : state) {
        Image image;
        if (!LoadPng(path->c_str(), &image, 0))
            state.SkipWithError(PngError());
        benchmark::DoNotOptimize(image.pixels);
        std::free(image.pixels);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 640 * 480);
}

void BM_LoadPngLibpng(benchmark::State& state, const fs::path* path) {
    Bytes out(640 * 480 * 4);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_file(&image, path->c_str()))
            state.SkipWithError("libpng begin failed");
        image.format = PNG_FORMAT_RGBA;
        if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr))
            state.SkipWithError("libpng finish failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 640 * 480);
}

void BM_LoadPngSpng(benchmark::State& state, const fs::path* path) {
    Bytes out(640 * 480 * 4);
    for (auto _ : state) {
        std::FILE* f = std::fopen(path->c_str(), "rb");
        spng_ctx* ctx = spng_ctx_new(0);
        spng_set_png_file(ctx, f);
        if (spng_decode_image(ctx, out.data(), out.size(), SPNG_FMT_RGBA8, 0) != 0)
            state.SkipWithError("spng failed");
        spng_ctx_free(ctx);
        std::fclose(f);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 640 * 480);
}

// The ratio report's streams: the corpus files and the show's data compressed by zlib at levels 1, 6 and 9, and the
// image data of the real pictures as their encoders wrote it.
struct RatioStream {
    std::string group, name;
    Bytes compressed, original;
};

// zlib's output for a stream, grown until it fits; empty when zlib refuses it.
Bytes ZlibDecoded(const Bytes& stream) {
    for (size_t size = stream.size() * 4 + 1024;; size *= 2) {
        Bytes out(size);
        uLongf length = static_cast<uLongf>(size);
        int status = uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size()));
        if (status == Z_OK) {
            out.resize(length);
            return out;
        }
        if (status != Z_BUF_ERROR)
            return {};
    }
}

std::vector<RatioStream> RatioStreams() {
    std::vector<RatioStream> streams;
    auto addLevels = [&](const std::string& group, const fs::path& path) {
        Bytes data = ReadFile(path);
        for (int level : {1, 6, 9}) {
            uLongf length = compressBound(static_cast<uLong>(data.size()));
            Bytes out(length);
            compress2(out.data(), &length, data.data(), static_cast<uLong>(data.size()), level);
            out.resize(length);
            streams.push_back({group, path.filename().string() + "-L" + std::to_string(level), out, data});
        }
    };
    auto addPicture = [&](const std::string& group, const fs::path& path) {
        Bytes stream = IdatStream(ReadFile(path));
        Bytes original = ZlibDecoded(stream);
        if (!original.empty())
            streams.push_back({group, path.filename().string(), stream, original});
    };
    auto sorted = [](const fs::path& dir) {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file())
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    };
    const fs::path corpus = QUIMBLES_CORPUS_DIR;
    for (const char* dir : {"deflate/src", "mod", "xm", "j2k/real"})
        for (const fs::path& file : sorted(corpus / dir))
            addLevels(dir, file);
    for (const fs::path& file : sorted(corpus / "png/real"))
        if (file.extension() == ".png")
            addPicture("png/real", file);
    for (const fs::path& file : sorted(QUIMBLES_DATA_DIR))
        file.extension() == ".png" ? addPicture("data", file) : addLevels("data", file);
    for (const fs::path& file : sorted(PhotosFolder()))
        if (file.extension() == ".png")
            addPicture("photos", file);
    return streams;
}

// The corpus folders whose files are compressed at levels 1, 6 and 9: the streams the level means are taken over.
bool CorpusLevelStream(const RatioStream& s) {
    return s.group == "deflate/src" || s.group == "mod" || s.group == "xm" || s.group == "j2k/real";
}

// The processor time this process has used: on a machine shared with other work, the time the decoders wait for the
// processor does not count.
double CpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// Ours, zlib and libdeflate on each stream in turn, in a rotating order, ROUNDS times; each time is that of a batch
// of decodes lasting about two milliseconds, and the best batch of each decoder counts. Prints every stream's ratios,
// the geometric mean of each group and of all streams, and the worst stream against each peer.
int ReportRatios(int rounds, const std::string& filter) {
    std::vector<RatioStream> streams = RatioStreams();
    std::erase_if(streams,
                  [&](const RatioStream& s) { return (s.group + "/" + s.name).find(filter) == std::string::npos; });
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    auto decode = [&](int who, const RatioStream& s, Bytes& out) {
        if (who == 0) {
            OutputLimit = static_cast<uint32_t>(out.size());
            return Inflate(s.compressed.data(), s.compressed.size(), out.data(), 0) == int64_t(out.size());
        }
        if (who == 1) {
            uLongf length = static_cast<uLongf>(out.size());
            return uncompress(out.data(), &length, s.compressed.data(), static_cast<uLong>(s.compressed.size())) ==
                       Z_OK &&
                   length == out.size();
        }
        size_t got = 0;
        return libdeflate_zlib_decompress(d, s.compressed.data(), s.compressed.size(), out.data(), out.size(), &got) ==
                   LIBDEFLATE_SUCCESS &&
               got == out.size();
    };
    struct Row {
        double best[3];
    };
    std::vector<Row> rows(streams.size());
    std::vector<int> batch(streams.size());
    Bytes out;
    for (size_t i = 0; i < streams.size(); ++i) {
        out.assign(streams[i].original.size(), 0);
        for (int who = 0; who < 3; ++who)
            if (!decode(who, streams[i], out) || out != streams[i].original) {
                std::fprintf(stderr, "%s: decoder %d gives the wrong bytes\n", streams[i].name.c_str(), who);
                return 1;
            }
        double t0 = CpuSeconds();
        decode(1, streams[i], out);
        batch[i] = std::clamp(static_cast<int>(2e-3 / std::max(CpuSeconds() - t0, 1e-9)), 1, 10000);
        rows[i] = {{1e30, 1e30, 1e30}};
    }
    for (int round = 0; round < rounds; ++round)
        for (size_t i = 0; i < streams.size(); ++i) {
            out.resize(streams[i].original.size());
            for (int k = 0; k < 3; ++k) {
                int who = (k + round + int(i)) % 3;
                double t0 = CpuSeconds();
                for (int n = 0; n < batch[i]; ++n)
                    decode(who, streams[i], out);
                double t = (CpuSeconds() - t0) / batch[i];
                rows[i].best[who] = std::min(rows[i].best[who], t);
            }
        }
    libdeflate_free_decompressor(d);

    std::printf("%-52s %9s %8s %8s %9s %9s\n", "stream", "out", "in", "MB/s", "/zlib", "/libdefl");
    std::vector<std::string> groups;
    for (const RatioStream& s : streams)
        if (std::find(groups.begin(), groups.end(), s.group) == groups.end())
            groups.push_back(s.group);
    size_t worstZlib = 0, worstLibdeflate = 0;
    double allZlib = 0, allLibdeflate = 0;
    for (const std::string& group : groups) {
        double logZlib = 0, logLibdeflate = 0;
        int count = 0;
        for (size_t i = 0; i < streams.size(); ++i) {
            if (streams[i].group != group)
                continue;
            const double* b = rows[i].best;
            std::printf("%-52s %9zu %8zu %8.0f %9.3f %9.3f\n", (group + "/" + streams[i].name).c_str(),
                        streams[i].original.size(), streams[i].compressed.size(),
                        double(streams[i].original.size()) / b[0] / 1e6, b[1] / b[0], b[2] / b[0]);
            logZlib += std::log(b[1] / b[0]), logLibdeflate += std::log(b[2] / b[0]), ++count;
            if (b[1] / b[0] < rows[worstZlib].best[1] / rows[worstZlib].best[0])
                worstZlib = i;
            if (b[2] / b[0] < rows[worstLibdeflate].best[2] / rows[worstLibdeflate].best[0])
                worstLibdeflate = i;
        }
        allZlib += logZlib, allLibdeflate += logLibdeflate;
        std::printf("  geometric mean of %-30s (%3d streams) %18.3f %9.3f\n", group.c_str(), count,
                    std::exp(logZlib / count), std::exp(logLibdeflate / count));
    }
    const double n = double(streams.size());
    std::printf("ours/zlib:       geometric mean %.3f over %zu streams, worst %.3f (%s)\n", std::exp(allZlib / n),
                streams.size(), rows[worstZlib].best[1] / rows[worstZlib].best[0], streams[worstZlib].name.c_str());
    std::printf("ours/libdeflate: geometric mean %.3f over %zu streams, worst %.3f (%s)\n", std::exp(allLibdeflate / n),
                streams.size(), rows[worstLibdeflate].best[2] / rows[worstLibdeflate].best[0],
                streams[worstLibdeflate].name.c_str());
    // The corpus streams level by level (suffix -L1, -L6, -L9) and together, against libdeflate.
    for (const char* level : {"-L1", "-L6", "-L9", ""}) {
        double logSum = 0;
        int count = 0;
        size_t slowest = 0;
        for (size_t i = 0; i < streams.size(); ++i) {
            if (!CorpusLevelStream(streams[i]) || !streams[i].name.ends_with(level))
                continue;
            const double ratio = rows[i].best[2] / rows[i].best[0];
            logSum += std::log(ratio);
            if (count++ == 0 || ratio < rows[slowest].best[2] / rows[slowest].best[0])
                slowest = i;
        }
        if (count > 0)
            std::printf("corpus %-9s ours/libdeflate: geometric mean %.3f over %3d streams, slowest %.3f (%s/%s)\n",
                        *level ? level + 1 : "L1+L6+L9", std::exp(logSum / count), count,
                        rows[slowest].best[2] / rows[slowest].best[0], streams[slowest].group.c_str(),
                        streams[slowest].name.c_str());
    }
    return 0;
}

// The PNG ratios: every decoder on the same file in memory, turn about, so that a busy machine slows them alike.
// A round times each decoder once (as many decodes as fill about 3 ms), in an order that changes from round to
// round; the ratios are taken within each round and the median round's is reported, and the times are medians.
// Time is this thread's processor time, so that the other programs of a shared machine only count through what
// they do to the caches.
struct PngTimes {
    double ours = 0, inflate = 0, libpng = 0, spng = 0, vsLibpng = 0, vsSpng = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

template <class Decode> double TimeRound(Decode decode, int repeats) {
    const double start = ThreadSeconds();
    for (int i = 0; i < repeats; ++i)
        decode();
    return (ThreadSeconds() - start) / repeats;
}

bool TimePng(const Bytes& file, PngTimes* t) {
    Image probe;
    if (!LoadPngFromMemory(file.data(), file.size(), "bench", &probe, 0))
        return false;
    const size_t rgbaBytes = size_t(probe.width) * probe.height * 4;
    const uint32_t inflatedBytes = uint32_t((size_t(probe.width) * (probe.isGrey ? 1 : 4) + 1) * probe.height);
    std::free(probe.pixels);
    Bytes out(rgbaBytes ? rgbaBytes : 1), stream = IdatStream(file), inflated(inflatedBytes + 1);
    auto ours = [&] {
        Image image;
        LoadPngFromMemory(file.data(), file.size(), "bench", &image, 0);
        benchmark::DoNotOptimize(image.pixels);
        std::free(image.pixels);
    };
    // Inflate alone into a buffer of the filtered rows' size (an upper bound for RGB and palette files).
    auto inflate = [&] {
        OutputLimit = inflatedBytes;
        benchmark::DoNotOptimize(Inflate(stream.data(), stream.size(), inflated.data(), 0));
    };
    auto libpng = [&] {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, file.data(), file.size());
        image.format = PNG_FORMAT_RGBA;
        png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
        benchmark::DoNotOptimize(out.data());
    };
    auto spng = [&] {
        spng_ctx* ctx = spng_ctx_new(0);
        spng_set_png_buffer(ctx, file.data(), file.size());
        spng_decode_image(ctx, out.data(), out.size(), SPNG_FMT_RGBA8, 0);
        spng_ctx_free(ctx);
        benchmark::DoNotOptimize(out.data());
    };
    const double once = std::max(1e-7, TimeRound(libpng, 1));
    const int repeats = std::max(1, int(0.003 / once));
    std::vector<double> times[4], vsLibpng, vsSpng;
    for (int round = 0; round < 15; ++round) {
        double took[4];
        for (int k = 0; k < 4; ++k) {
            const int which = (k + round) % 4;
            took[which] = which == 0   ? TimeRound(ours, repeats)
                          : which == 1 ? TimeRound(libpng, repeats)
                          : which == 2 ? TimeRound(spng, repeats)
                                       : TimeRound(inflate, repeats);
            times[which].push_back(took[which]);
        }
        vsLibpng.push_back(took[1] / took[0]);
        vsSpng.push_back(took[2] / took[0]);
    }
    *t = {Median(times[0]), Median(times[3]), Median(times[1]), Median(times[2]), Median(vsLibpng), Median(vsSpng)};
    return true;
}

// The slowest file against libpng, overall and among those over 1 MB.
struct PngSummary {
    double slowest = 1e9, slowestLarge = 1e9;
    std::string slowestName, slowestLargeName;
};

// Prints ours against libpng's simplified API and libspng (both RGBA out) per file, the share of our time spent
// in Inflate, the geometric means and the slowest file; keeps the slowest files in *summary.
void ReportPngRatios(const char* title, const fs::path& folder, PngSummary* summary) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".png")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::printf("\n%s (%s)\n%-46s %9s %9s %9s %9s %7s %7s %8s\n", title, folder.c_str(), "file", "bytes", "ours us",
                "libpng us", "spng us", "libpng", "spng", "inflate");
    double logPng = 0, logSpng = 0, slowest = 1e9;
    std::string slowestName;
    int n = 0;
    for (const fs::path& path : files) {
        const Bytes file = ReadFile(path);
        PngTimes t;
        if (!TimePng(file, &t)) {
            std::printf("%-46s refused: %s\n", path.filename().c_str(), PngError());
            continue;
        }
        const double vsPng = t.vsLibpng, vsSpng = t.vsSpng;
        std::printf("%-46s %9zu %9.1f %9.1f %9.1f %6.2fx %6.2fx %7.0f%%\n", path.filename().c_str(), file.size(),
                    t.ours * 1e6, t.libpng * 1e6, t.spng * 1e6, vsPng, vsSpng, 100 * std::min(1.0, t.inflate / t.ours));
        logPng += std::log(vsPng);
        logSpng += std::log(vsSpng);
        if (vsPng < slowest)
            slowest = vsPng, slowestName = path.filename().string();
        if (vsPng < summary->slowest)
            summary->slowest = vsPng, summary->slowestName = path.filename().string();
        if (file.size() > 1000000 && vsPng < summary->slowestLarge)
            summary->slowestLarge = vsPng, summary->slowestLargeName = path.filename().string();
        ++n;
    }
    std::printf("geometric mean over %d files: %.2fx libpng, %.2fx libspng; slowest: %.2fx libpng (%s)\n", n,
                std::exp(logPng / std::max(n, 1)), std::exp(logSpng / std::max(n, 1)), slowest, slowestName.c_str());
}

// The growth of this process's peak resident memory, in bytes, while `decode` runs.
template <class Decode> long PeakGrowth(Decode decode) {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const long before = usage.ru_maxrss;
    decode();
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_maxrss - before) * 1024;
}

// --peak-memory WHO FILE, run in a fresh process: the peak memory that decoding FILE adds, for WHO = memory
// (LoadPngFromMemory, the file already read), file (LoadPng, reading the file included) or libpng (its simplified
// API from memory into a buffer allocated for it).
int PrintPeakMemory(const std::string& who, const char* path) {
    // Read in one piece of the exact size, so that the peak before the decode is the file's.
    Bytes file(who != "file" ? fs::file_size(path) : 0);
    std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(file.data()), std::streamsize(file.size()));
    const long growth = PeakGrowth([&] {
        Image image;
        if (who == "memory")
            LoadPngFromMemory(file.data(), file.size(), path, &image, 0);
        else if (who == "file")
            LoadPng(path, &image, 0);
        else {
            png_image png{};
            png.version = PNG_IMAGE_VERSION;
            png_image_begin_read_from_memory(&png, file.data(), file.size());
            png.format = PNG_FORMAT_RGBA;
            image.pixels = static_cast<uint8_t*>(std::malloc(PNG_IMAGE_SIZE(png)));
            png_image_finish_read(&png, nullptr, image.pixels, 0, nullptr);
        }
        benchmark::DoNotOptimize(image.pixels);
        std::free(image.pixels);
    });
    std::printf("%ld\n", growth);
    return 0;
}

// The peak memory of decoding the largest photograph, each way in a process of its own.
void ReportPeakMemory(const fs::path& path) {
    Image image;
    if (!LoadPng(path.c_str(), &image, 0))
        return;
    const double pictureMb = double(image.width) * image.height * (image.isGrey ? 1 : 4) / 1e6;
    std::free(image.pixels);
    auto growth = [&](const char* who) {
        const std::string command =
            "'" + fs::read_symlink("/proc/self/exe").string() + "' --peak-memory " + who + " '" + path.string() + "'";
        long bytes = -1;
        if (std::FILE* child = popen(command.c_str(), "r")) {
            if (std::fscanf(child, "%ld", &bytes) != 1)
                bytes = -1;
            pclose(child);
        }
        return double(bytes) / 1e6;
    };
    std::printf("\npeak memory of decoding %s (%dx%d, %.1f MB of pixels, %.1f MB file): LoadPngFromMemory %.1f MB, "
                "LoadPng %.1f MB (reading the file included), libpng %.1f MB\n",
                path.filename().c_str(), image.width, image.height, pictureMb, double(fs::file_size(path)) / 1e6,
                growth("memory"), growth("file"), growth("libpng"));
}

// The PNG tables, the slowest files and the peak memory of the 4000x3000 photograph.
void ReportAllPngRatios() {
    const fs::path photos = PhotosFolder();
    PngSummary summary;
    ReportPngRatios("PNG corpus, real pictures", fs::path(QUIMBLES_CORPUS_DIR) / "png/real", &summary);
    ReportPngRatios("The show's data set", QUIMBLES_DATA_DIR, &summary);
    ReportPngRatios("Photographs made here", photos, &summary);
    std::printf("\nslowest file: %.2fx libpng (%s); slowest file over 1 MB: %.2fx libpng (%s)\n", summary.slowest,
                summary.slowestName.c_str(), summary.slowestLarge, summary.slowestLargeName.c_str());
    ReportPeakMemory(photos / "photo-rgb-4000x3000.png");
}

// The ratio reports compare batches that take turns; a batch that starts on another processor than the others runs
// with cold caches, and on a shared machine the processors need not be equally fast. So those reports keep the
// process on the processor it started on.
void StayOnThisProcessor() {
    const int cpu = sched_getcpu();
    if (cpu < 0)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

} // namespace

int main(int argc, char** argv) {
    const std::string option = argc > 1 ? argv[1] : "";
    if (option.rfind("--ratios", 0) == 0 || option == "--png-ratios" || option.rfind("--all-ratios", 0) == 0)
        StayOnThisProcessor();
    auto rounds = [&](size_t at) { return option.size() > at && option[at] == '=' ? std::atoi(argv[1] + at + 1) : 10; };
    if (option.rfind("--ratios", 0) == 0)
        return ReportRatios(rounds(8), argc > 2 ? argv[2] : "");
    if (option == "--png-ratios") {
        ReportAllPngRatios();
        return 0;
    }
    if (option.rfind("--all-ratios", 0) == 0) {
        const int status = ReportRatios(rounds(12), "");
        ReportAllPngRatios();
        return status;
    }
    if (option == "--peak-memory" && argc > 3)
        return PrintPeakMemory(argv[2], argv[3]);
    Prepare();
    for (const Stream& s : Streams) {
        benchmark::RegisterBenchmark(("Inflate/ours/" + s.name).c_str(), BM_InflateOurs, &s);
        benchmark::RegisterBenchmark(("Inflate/zlib/" + s.name).c_str(), BM_InflateZlib, &s);
        benchmark::RegisterBenchmark(("Inflate/libdeflate/" + s.name).c_str(), BM_InflateLibdeflate, &s);
    }
    for (const fs::path& p : Pictures) {
        std::string name = p.stem().string();
        benchmark::RegisterBenchmark(("LoadPng/ours/" + name).c_str(), BM_LoadPngOurs, &p);
        benchmark::RegisterBenchmark(("LoadPng/libpng/" + name).c_str(), BM_LoadPngLibpng, &p);
        benchmark::RegisterBenchmark(("LoadPng/spng/" + name).c_str(), BM_LoadPngSpng, &p);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
