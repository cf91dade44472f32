#pragma once
// Marks a function whose loops the compiler vectorises: the build carries a version for each
// wider vector unit, and the processor's own is picked when the program starts.
// The AVX2 version is that of the x86-64-v3 level, which brings fused multiply-adds along.
#define ZV_VECTOR_CLONES __attribute__((target_clones("avx512f", "arch=x86-64-v3", "default")))
