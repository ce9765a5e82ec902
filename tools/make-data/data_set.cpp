#include "data_set.h"

#include "pictures.h"
#include "show/assets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace makedata {

std::vector<std::string> DataFileNames() {
    std::vector<std::string> names;
    for (const Asset& asset : AssetTable)
        names.push_back(std::string(asset.path).substr(std::strlen("data/")));
    return names;
}

std::vector<uint8_t> MakeDataFile(const std::string& name) {
    size_t size = 0;
    for (const Asset& asset : AssetTable)
        if ("data/" + name == asset.path)
            size = size_t(asset.size);
    if (size == 0) {
        std::fprintf(stderr, "make-data: %s is not one of the data files\n", name.c_str());
        std::exit(1);
    }
    std::vector<uint8_t> bytes;
    // The sunset and the furry one are palette pictures (the fur is too busy for its size in RGB);
    // the logo is written over several IDAT chunks.
    if (name == "le_poilu.png")
        bytes = CanvasToPng(DrawHairyOne(), size, true, 0);
    else if (name == "garbet_he.png")
        bytes = CanvasToPng(DrawTwoMoons(), size, false, 0);
    else if (name == "tabi_feno.png")
        bytes = CanvasToPng(DrawDeepWater(), size, false, 0);
    else if (name == "vacances.png")
        bytes = CanvasToPng(DrawBeachSunset(), size, true, 0);
    else if (name == "quimbles.png")
        bytes = CanvasToPng(DrawLogo(), size, false, 16384);
    else if (name == "textes.png")
        bytes = MakeTextStrip(size);
    else if (name == "wide.xm")
        bytes = MakeSong(size);
    else
        bytes = MakeMovie(name, size);
    if (bytes.size() != size) {
        std::fprintf(stderr, "make-data: %s came out at %zu bytes instead of %zu\n", name.c_str(), bytes.size(), size);
        std::exit(1);
    }
    return bytes;
}

} // namespace makedata
