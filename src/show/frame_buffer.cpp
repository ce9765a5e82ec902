#include "show/frame_buffer.h"

#include <cstdlib>
#include <cstring>

uint32_t* FrameBuffer = nullptr;

bool AllocFrameBuffer() {
    // Not cleared: the script clears it before the first use.
    FrameBuffer = static_cast<uint32_t*>(std::malloc(size_t(FrameWidth) * size_t(FrameHeight) * 4));
    return FrameBuffer != nullptr;
}

void FreeFrameBuffer() {
    std::free(FrameBuffer);
    FrameBuffer = nullptr;
}

void ClearFrame() {
    if (FrameBuffer) {
        std::memset(FrameBuffer, 0, size_t(FrameWidth) * size_t(FrameHeight) * 4);
    }
}
