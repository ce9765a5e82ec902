#pragma once

// What the processor offers beyond the build's baseline is asked at run time (__builtin_cpu_supports), and code
// for it is compiled with a target attribute. QUIMBLES_X86_DISPATCH is 1 where both are available.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define QUIMBLES_X86_DISPATCH 1
#else
#define QUIMBLES_X86_DISPATCH 0
#endif
