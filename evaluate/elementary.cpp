#include "evaluate/elementary.hpp"

#include <array>
#include <cmath>

#ifdef TAVRELO_HAVE_LIBMVEC
#include <emmintrin.h>

// glibc's vector math library: two lanes with SSE2, the x86-64 baseline.
extern "C" {
__m128d _ZGVbN2v_sin(__m128d);
__m128d _ZGVbN2v_cos(__m128d);
__m128d _ZGVbN2v_tan(__m128d);
__m128d _ZGVbN2v_exp(__m128d);
__m128d _ZGVbN2v_log(__m128d);
__m128d _ZGVbN2v_cbrt(__m128d);
// Four lanes with AVX2, in elementary_avx2.cpp (compiled for AVX2, called only where it runs).
void tavrelo_avx2_sin(const double*, double*);
void tavrelo_avx2_cos(const double*, double*);
void tavrelo_avx2_tan(const double*, double*);
void tavrelo_avx2_exp(const double*, double*);
void tavrelo_avx2_log(const double*, double*);
void tavrelo_avx2_cbrt(const double*, double*);
}
#endif

namespace tavrelo::detail {
namespace {

template <double (*F)(double)>
void scalar(const double* in, double* out) {
    for (int i = 0; i < 4; ++i) {
        out[i] = F(in[i]);
    }
}

double sin_of(double a) { return std::sin(a); }
double cos_of(double a) { return std::cos(a); }
double tan_of(double a) { return std::tan(a); }
double exp_of(double a) { return std::exp(a); }
double log_of(double a) { return std::log(a); }
double cbrt_of(double a) { return std::cbrt(a); }

using Table = std::array<Kernel4, 6>;

constexpr Table kScalar{scalar<sin_of>, scalar<cos_of>, scalar<tan_of>,
                        scalar<exp_of>, scalar<log_of>, scalar<cbrt_of>};

#ifdef TAVRELO_HAVE_LIBMVEC
template <__m128d (*F)(__m128d)>
void sse2(const double* in, double* out) {
    _mm_storeu_pd(out, F(_mm_loadu_pd(in)));
    _mm_storeu_pd(out + 2, F(_mm_loadu_pd(in + 2)));
}

constexpr Table kSse2{sse2<_ZGVbN2v_sin>, sse2<_ZGVbN2v_cos>, sse2<_ZGVbN2v_tan>,
                      sse2<_ZGVbN2v_exp>, sse2<_ZGVbN2v_log>, sse2<_ZGVbN2v_cbrt>};
constexpr Table kAvx2{tavrelo_avx2_sin, tavrelo_avx2_cos, tavrelo_avx2_tan,
                      tavrelo_avx2_exp, tavrelo_avx2_log, tavrelo_avx2_cbrt};
#endif

struct Choice {
    const Table* table;
    const char* name;
};

Choice choose() noexcept {
#ifdef TAVRELO_HAVE_LIBMVEC
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return {&kAvx2, "avx2"};
    }
    return {&kSse2, "sse2"};
#else
    return {&kScalar, "scalar"};
#endif
}

const Choice& chosen() noexcept {
    static const Choice choice = choose();
    return choice;
}

}  // namespace

Kernel4 kernel_of(Elementary f) noexcept { return (*chosen().table)[static_cast<std::size_t>(f)]; }

const char* elementary_kernels() noexcept { return chosen().name; }

}  // namespace tavrelo::detail
