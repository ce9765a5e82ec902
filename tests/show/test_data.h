#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A data set with the show's ten file names and exact sizes, made for the tests: uniform pictures (blue 255,
// green 40 x scene number), an opaque red text strip, movies of small encoded frames, and a module copied from
// `moduleSource` (zeros when empty), each brought to its recorded size.
void MakeTestData(const std::filesystem::path& dataDir, const std::string& moduleSource, int movieFrames);

// A PNG of uniform colour (make-data's writer), brought to exactly `size` bytes with a text chunk before IEND.
void WriteSizedPng(const std::filesystem::path& path, int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a,
                   size_t size);
void WriteSizedFile(const std::filesystem::path& path, std::vector<uint8_t> bytes, size_t size);
