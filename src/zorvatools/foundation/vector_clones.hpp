#pragma once
// Marks a function whose loops the compiler vectorises: the build carries a version for each
// wider vector unit, and the processor's own is picked when the program starts.
#define ZV_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
