// The ten files of the show's data set and how each one is made.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace makedata {

// The ten files' names (without data/), in the order of the show's asset table, which also gives their sizes.
std::vector<std::string> DataFileNames();

// The bytes of one file of the set, by name; exactly its size.
std::vector<uint8_t> MakeDataFile(const std::string& name);

// Parts made elsewhere.
std::vector<uint8_t> MakeTextStrip(size_t size);
std::vector<uint8_t> MakeMovie(const std::string& name, size_t size);
std::vector<uint8_t> MakeSong(size_t size);

} // namespace makedata
