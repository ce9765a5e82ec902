#pragma once
#include <cstdlib>
#include <cstring>

// Under scripts/test-wine the X screen and the sound server are there, and a device that fails to open is a failure;
// in a plain run of the suite they may be absent and those cases skip.
inline bool DevicesRequired() {
    const char* value = std::getenv("QUIMBLES_REQUIRE_DEVICES");
    return value != nullptr && std::strcmp(value, "1") == 0;
}
