// The tracker modules of the shared corpus: every .xm and .mod file (any case) in the named folders below
// QUIMBLES_CORPUS_DIR, sorted by path. Missing folders give nothing.
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

inline std::vector<std::string> CorpusModules(std::initializer_list<const char*> folders) {
    std::vector<std::string> files;
    for (const char* folder : folders) {
        const std::filesystem::path dir = std::filesystem::path(QUIMBLES_CORPUS_DIR) / folder;
        if (!std::filesystem::is_directory(dir))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if (ext == ".xm" || ext == ".mod")
                files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}
