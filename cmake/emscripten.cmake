# The web build: Debian's Emscripten, with threads (the show's main and audio threads are Web Workers sharing
# the module's memory). The library built for it (OpenJPEG) lives in build-deps/wasm, made by scripts/setup-web.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)

get_filename_component(QUIMBLES_DEPS_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build-deps/wasm" ABSOLUTE)
list(APPEND CMAKE_FIND_ROOT_PATH ${QUIMBLES_DEPS_PREFIX})
set(ENV{PKG_CONFIG_LIBDIR} "${QUIMBLES_DEPS_PREFIX}/lib/pkgconfig:${QUIMBLES_DEPS_PREFIX}/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Every object must be built for shared memory, or the threaded link refuses it.
string(APPEND CMAKE_C_FLAGS_INIT " -pthread")
string(APPEND CMAKE_CXX_FLAGS_INIT " -pthread")
