#pragma once
// Hot loops over samples are compiled for several instruction sets and the widest the
// machine runs is chosen when the program loads. Only integer and exactly rounded
// floating-point operations are used in them (no contraction), so every variant gives
// the same bits. (ThreadSanitizer cannot run the load-time selectors, which execute before
// its runtime is set up, so its builds use the plain variant.)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define SONTEVA_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#define SONTEVA_BMI2_CLONES __attribute__((target_clones("bmi2", "default")))
#else
#define SONTEVA_VECTOR_CLONES
#define SONTEVA_BMI2_CLONES
#endif
