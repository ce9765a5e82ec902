#include "app/files.h"

#include <cstdio>
#include <cstdlib>

ReadFileResult ReadWholeFile(const char* path, size_t limit, uint8_t** bytes, size_t* size, size_t expected) {
    *bytes = nullptr;
    *size = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        return ReadFileCannotOpen;
    }
    size_t length = expected;
    if (length == SIZE_MAX) {
        long measured = -1;
        if (std::fseek(file, 0, SEEK_END) == 0) {
            measured = std::ftell(file);
        }
        if (measured < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
            std::fclose(file);
            return ReadFileCannotRead;
        }
        length = size_t(measured);
    }
    if (length > limit) {
        std::fclose(file);
        return ReadFileTooLarge;
    }
    uint8_t* block = static_cast<uint8_t*>(std::malloc(length > 0 ? length : 1));
    if (!block) {
        std::fclose(file);
        return ReadFileOutOfMemory;
    }
    const size_t got = std::fread(block, 1, length, file);
    std::fclose(file);
    if (got != length) {
        std::free(block);
        *size = got; // what the file held, for the caller's reason
        return ReadFileCannotRead;
    }
    *bytes = block;
    *size = length;
    return ReadFileOk;
}

const char* ReadFileReason(ReadFileResult result) {
    switch (result) {
    case ReadFileOk:
        return "read";
    case ReadFileCannotOpen:
        return "cannot open the file";
    case ReadFileCannotRead:
        return "cannot read the file";
    case ReadFileTooLarge:
        return "the file is too large";
    case ReadFileOutOfMemory:
        return "out of memory";
    }
    return "cannot read the file";
}
