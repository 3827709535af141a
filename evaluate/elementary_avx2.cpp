// The four-lane kernels. This file alone is compiled for AVX2 and holds nothing but these calls,
// so that no AVX2 code can stand in for code that other files share.
#ifdef TAVRELO_HAVE_LIBMVEC
#include <immintrin.h>

extern "C" {
__m256d _ZGVdN4v_sin(__m256d);
__m256d _ZGVdN4v_cos(__m256d);
__m256d _ZGVdN4v_tan(__m256d);
__m256d _ZGVdN4v_exp(__m256d);
__m256d _ZGVdN4v_log(__m256d);
__m256d _ZGVdN4v_cbrt(__m256d);

#define TAVRELO_AVX2_KERNEL(name)                                                                  \
    void tavrelo_avx2_##name(const double* in, double* out) {                                      \
        _mm256_storeu_pd(out, _ZGVdN4v_##name(_mm256_loadu_pd(in)));                               \
    }

TAVRELO_AVX2_KERNEL(sin)
TAVRELO_AVX2_KERNEL(cos)
TAVRELO_AVX2_KERNEL(tan)
TAVRELO_AVX2_KERNEL(exp)
TAVRELO_AVX2_KERNEL(log)
TAVRELO_AVX2_KERNEL(cbrt)

#undef TAVRELO_AVX2_KERNEL
}
#endif
