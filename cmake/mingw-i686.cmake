# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (posix thread model, for std::thread and friends).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUIMBLES_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# The 32-bit program does its floating point in SSE2 registers, so results do not depend on x87 spills.
string(APPEND CMAKE_C_FLAGS_INIT " -msse2 -mfpmath=sse")
string(APPEND CMAKE_CXX_FLAGS_INIT " -msse2 -mfpmath=sse")
