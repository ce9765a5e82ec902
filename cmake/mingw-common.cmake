# What both Windows cross builds share; mingw-i686.cmake and mingw-x86_64.cmake set the processor and the
# compiler triple, then include this file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QUIMBLES_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUIMBLES_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUIMBLES_MINGW_TRIPLE}-windres)

# Libraries built for this target (OpenJPEG, FreeType, libpng, GoogleTest) live in a prefix of their own beside the sources.
get_filename_component(QUIMBLES_DEPS_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build-deps/mingw-${CMAKE_SYSTEM_PROCESSOR}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${QUIMBLES_MINGW_TRIPLE} ${QUIMBLES_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config, when a target asks for it, must see only the libraries built for this target, and name what a
# static library needs in turn (FreeType needs zlib).
set(ENV{PKG_CONFIG_LIBDIR} "${QUIMBLES_DEPS_PREFIX}/lib/pkgconfig:/usr/${QUIMBLES_MINGW_TRIPLE}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static)

# OpenJPEG is linked static: without this its header would ask for DLL imports.
string(APPEND CMAKE_C_FLAGS_INIT " -DOPJ_STATIC")
string(APPEND CMAKE_CXX_FLAGS_INIT " -DOPJ_STATIC")
# Link zlib (packaged for mingw with an import library too) statically, like everything else.
set(ZLIB_USE_STATIC_LIBS ON)

# Standard printf formats (%zu, %lld) instead of the old system runtime's dialect.
string(APPEND CMAKE_C_FLAGS_INIT " -D__USE_MINGW_ANSI_STDIO=1")
string(APPEND CMAKE_CXX_FLAGS_INIT " -D__USE_MINGW_ANSI_STDIO=1")
# GCC checks format strings here against the old runtime's dialect even with standard formats on; the Linux
# builds check the same strings against the standard, so the check is left to them.
string(APPEND CMAKE_C_FLAGS_INIT " -Wno-format")
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-format")

# Static runtime: the program needs no DLL beyond those Windows ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
