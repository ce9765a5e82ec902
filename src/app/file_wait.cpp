// The wait for a data file to reach its recorded size. It sleeps on the platform's clock, so it goes with the
// platform libraries rather than with the whole-file reads that every loader links.
#include "app/files.h"

#include <cstdint>
#include <cstdio>

#include "app/system.h"

static char waitError[256] = "";

const char* FileWaitError() {
    return waitError;
}

int32_t FileSize(const char* path) {
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        return -1;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    std::fclose(file);
    return (size < 0 || size > INT32_MAX) ? -1 : int32_t(size);
}

// A file that is still being copied in gets this long to reach its size.
constexpr uint32_t probePauseMs = 10;
constexpr uint32_t waitLimitMs = 10000;

bool WaitForFileSize(const char* path, int32_t size) {
    int32_t have = FileSize(path);
    if (have == size) {
        return true;
    }
    int32_t reported = -2;
    uint32_t waited = 0;
    uint32_t sinceReport = 0;
    while (have != size) {
        // Say what we wait for whenever it changes, and once a second while it does not.
        if (have != reported || sinceReport >= 1000) {
            if (have < 0) {
                std::fprintf(stderr, "quimbles: waiting for %s (not there yet, needs %d bytes)\n", path, int(size));
            } else {
                std::fprintf(stderr, "quimbles: waiting for %s (%d of %d bytes)\n", path, int(have), int(size));
            }
            reported = have;
            sinceReport = 0;
        }
        if (waited >= waitLimitMs) {
            if (have < 0) {
                std::snprintf(waitError, sizeof waitError, "%s is missing (it should have %d bytes)", path, int(size));
            } else {
                std::snprintf(waitError, sizeof waitError, "%s has %d bytes instead of %d", path, int(have), int(size));
            }
            return false;
        }
        SleepMs(probePauseMs);
        waited += probePauseMs;
        sinceReport += probePauseMs;
        have = FileSize(path);
    }
    return true;
}
