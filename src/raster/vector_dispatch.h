#pragma once
// Vector kernels compiled twice, for AVX2 and for the baseline, with the
// choice made at each call from a flag read once. Not target_clones: its
// ifunc resolvers run while the program is still being relocated, before a
// sanitizer's runtime is set up, and an instrumented resolver crashes there.

[[nodiscard]] inline bool CpuHasAvx2()
{
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

// Defines Name Params, which runs Body Args compiled for AVX2 when the CPU
// has it and for the baseline otherwise. Body is an always-inline function
// holding the loop, so both copies are the same code.
#define LW_VECTOR_KERNEL(Name, Body, Params, Args)                                                                     \
    __attribute__((target("avx2"))) void Name##Avx2 Params { Body Args; }                                              \
    void Name Params                                                                                                   \
    {                                                                                                                  \
        if (CpuHasAvx2())                                                                                              \
            Name##Avx2 Args;                                                                                           \
        else                                                                                                           \
            Body Args;                                                                                                 \
    }
