# Shared compiler settings and small helpers for the whole tree.

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    add_compile_options(-Wall -Wextra)
endif()

# The Windows programs link everything static: find_library (and with it pkg-config's imported targets, such as
# FreeType's zlib) must pick a static archive, never a DLL's import library. Set here because the platform
# files, read after the toolchain file, put the import libraries first.
if(WIN32 AND CMAKE_CROSSCOMPILING)
    set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
endif()

set(QUIMBLES_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined or thread")
if(QUIMBLES_SANITIZE)
    add_compile_options(-fsanitize=${QUIMBLES_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${QUIMBLES_SANITIZE})
endif()

# Fuzz builds: every library gets libFuzzer's coverage instrumentation, so that the fuzzers see into the code
# they drive and not only into their entry points.
if(QUIMBLES_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# The player's output is fixed to the bit: every multiply and add rounded on its own, no x87 in 32-bit builds
# (so that both targets round float and double alike), and the per-frame loops unrolled and vectorized. WebAssembly
# is 32-bit too but has no x87: its float and double arithmetic is IEEE's, one rounding per operation.
function(quimbles_exact_float target)
    target_compile_options(${target} PRIVATE -ffp-contract=off)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT EMSCRIPTEN)
        target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
    endif()
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -O3)
    endif()
endfunction()

# quimbles_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
# A GoogleTest program registered with CTest; tests find the corpus through QUIMBLES_CORPUS_DIR.
function(quimbles_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    find_package(GTest REQUIRED)
    include(GoogleTest)
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    target_compile_definitions(${name} PRIVATE
        QUIMBLES_CORPUS_DIR="${QUIMBLES_CORPUS_DIR}"
        QUIMBLES_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
        QUIMBLES_BINARY_DIR="${CMAKE_BINARY_DIR}")
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    # Under an emulator (Wine for the Windows builds) a first start can take far longer than a native one.
    if(CMAKE_CROSSCOMPILING)
        set(discovery_timeout 300)
    else()
        set(discovery_timeout 60)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT ${discovery_timeout})
endfunction()

# quimbles_fuzz(NAME SOURCES a.cpp LIBS lib SEEDS dir-or-file...)
# With QUIMBLES_FUZZ (clang) the target is a libFuzzer program. In every other build it is linked with a small
# driver that runs the entry point once per seed file, and CTest replays the seeds with it (the asan preset
# runs them under the sanitizers).
function(quimbles_fuzz name)
    cmake_parse_arguments(F "" "" "SOURCES;LIBS;SEEDS" ${ARGN})
    if(QUIMBLES_FUZZ)
        add_executable(${name} ${F_SOURCES})
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    elseif(QUIMBLES_TESTS)
        add_executable(${name}-replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
        target_link_libraries(${name}-replay PRIVATE ${F_LIBS})
        set_target_properties(${name}-replay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
        add_test(NAME fuzz-replay.${name} COMMAND ${name}-replay ${F_SEEDS})
        return()
    else()
        return()
    endif()
    target_link_libraries(${name} PRIVATE ${F_LIBS})
endfunction()

# The program we ship (the 32-bit Windows build): functions and data no program calls are dropped at link time,
# and the symbols are stripped. The 64-bit twin keeps its symbols for debugging under Wine.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_BUILD_TYPE STREQUAL "Release")
    add_compile_options(-ffunction-sections)
    add_link_options(-s -Wl,--gc-sections)
endif()

# A program for the browser (Emscripten): main() runs on a worker thread so that its waits never hold the page up,
# the page calls it once it is ready (callMain), and its exit status reaches the page (onExit). Three more workers
# wait in a pool for the audio threads and the sound device's pump. The program lands beside its page.
function(quimbles_web_program target)
    target_link_options(${target} PRIVATE
        -pthread -sPROXY_TO_PTHREAD -sPTHREAD_POOL_SIZE=4 -sEXIT_RUNTIME=1 -sINVOKE_RUN=0
        -sINITIAL_MEMORY=134217728 -sENVIRONMENT=web,worker
        "-sEXPORTED_RUNTIME_METHODS=['callMain','FS','addRunDependency','removeRunDependency']")
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()
