// Scratch files for tests. CTest runs every case of a test program as a process of its own, several at once, so a
// fixed file name in a shared directory would let one case read what another is still writing. Each process gets a
// directory of its own instead, removed when the process ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

struct TestTempDirectory {
    std::filesystem::path path;
    TestTempDirectory() {
        path = std::filesystem::temp_directory_path() / ("quimbles-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
    }
    ~TestTempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline const std::filesystem::path& TestTempDir() {
    static const TestTempDirectory directory;
    return directory.path;
}

inline std::string TestTempPath(const std::string& name) {
    return (TestTempDir() / name).string();
}

// Writes `bytes` to a scratch file called `name` and returns its path.
inline std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = TestTempPath(name);
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

// The whole of a file (empty when it cannot be read).
inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
