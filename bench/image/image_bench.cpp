// Inflate against zlib's uncompress and libdeflate on the same streams; LoadPng against libpng's simplified API
// and libspng on the same files. Each peer decodes into a buffer of the known size, as ours does.
// With --ratios[=ROUNDS] [FILTER] it prints instead Inflate's speed ratios over the corpus and the show's data set
// (the streams whose names contain FILTER); with --png-ratios, LoadPng's against libpng and libspng on the corpus's
// real pictures and the data set.
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

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
    return streams;
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

// Prints ours against libpng's simplified API and libspng (both RGBA out) per file, the share of our time spent
// in Inflate, and the geometric means; returns the geometric mean against libpng.
double ReportPngRatios(const char* title, const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".png")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::printf("\n%s (%s)\n%-46s %9s %9s %9s %9s %7s %7s %8s\n", title, folder.c_str(), "file", "bytes", "ours us",
                "libpng us", "spng us", "libpng", "spng", "inflate");
    double logPng = 0, logSpng = 0, worstLarge = 1e9;
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
        if (file.size() > 100000)
            worstLarge = std::min(worstLarge, vsPng);
        ++n;
    }
    const double geoPng = std::exp(logPng / std::max(n, 1)), geoSpng = std::exp(logSpng / std::max(n, 1));
    std::printf("geometric mean over %d files: %.2fx libpng, %.2fx libspng; worst file over 100 KB: %.2fx libpng\n", n,
                geoPng, geoSpng, worstLarge);
    return geoPng;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]).rfind("--ratios", 0) == 0)
        return ReportRatios(argv[1][8] == '=' ? std::atoi(argv[1] + 9) : 10, argc > 2 ? argv[2] : "");

    // --png-ratios: only the ratio tables of the corpus's real pictures and of the show's data set.
    if (argc > 1 && !std::strcmp(argv[1], "--png-ratios")) {
        ReportPngRatios("PNG corpus, real pictures", fs::path(QUIMBLES_CORPUS_DIR) / "png/real");
        ReportPngRatios("The show's data set", QUIMBLES_DATA_DIR);
        return 0;
    }
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
