#pragma once
#include <cstdint>

// The show's ten data files, in the order the show uses them, each with the exact size it must have before it is
// read. The script loads them from here; make-data writes them, the capture counts the movies' frames and the web
// build copies the files by this table (web/CMakeLists.txt reads the paths from the lines below, one per line).

struct Asset {
    const char* path; // relative to the working folder
    int32_t size;
};

enum AssetIndex {
    AssetMusic,
    AssetTexts,
    AssetScene1,
    AssetScene2,
    AssetScene3,
    AssetScene4,
    AssetMovie1,
    AssetMovie2,
    AssetMovie3,
    AssetLogo,
    AssetCount
};

// clang-format off
inline constexpr Asset AssetTable[AssetCount] = {
    {"data/wide.xm", 40420},
    {"data/textes.png", 68264},
    {"data/le_poilu.png", 133299},
    {"data/garbet_he.png", 143543},
    {"data/tabi_feno.png", 125658},
    {"data/vacances.png", 117741},
    {"data/tabi.movie", 360063},
    {"data/rocu.movie", 316964},
    {"data/rocu_mange.movie", 109422},
    {"data/quimbles.png", 164266},
};
// clang-format on
