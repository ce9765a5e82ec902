# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix thread model, for std::thread and friends).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUIMBLES_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
