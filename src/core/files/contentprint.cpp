#include "contentprint.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TARVIX_PRINT_AVX2 1
#endif

namespace {

constexpr quint64 kPrime = 1099511628211ULL;
constexpr quint64 kBasis = 14695981039346656037ULL;
constexpr quint64 kKey = 0x9e3779b97f4a7c15ULL;    // key of position 0
constexpr quint64 kStep = 0xc2b2ae3d27d4eb4fULL;   // added per position
constexpr quint64 kLanes[4] = {0x165667b19e3779f9ULL, 0x27d4eb2f165667c5ULL, 0x85ebca77c2b2ae63ULL,
                               0xff51afd7ed558ccdULL};

inline quint64 bitsOf(const double *v)
{
    quint64 b;
    std::memcpy(&b, v, sizeof b);
    return b;
}

// Values from..n-1 into the lanes (value j into lane j mod 4).
void addScalar(const double *v, int from, int n, quint64 *acc)
{
    quint64 key = kKey + quint64(from) * kStep;
    for (int j = from; j < n; ++j, key += kStep) {
        const quint64 x = bitsOf(v + j);
        const quint64 z = x ^ key;
        acc[j & 3] += x + (z & 0xffffffffULL) * (z >> 32);
    }
}

#ifdef TARVIX_PRINT_AVX2
// The same sums four positions at a time; returns the first value not taken
// (the lanes take their values in any order: the sums are the same).
__attribute__((target("avx2"))) int addAvx2(const double *v, int n, quint64 *acc)
{
    __m256i sum = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(acc));
    __m256i key = _mm256_set_epi64x(qint64(kKey + 3 * kStep), qint64(kKey + 2 * kStep),
                                    qint64(kKey + kStep), qint64(kKey));
    const __m256i step = _mm256_set1_epi64x(qint64(4 * kStep));
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(v + j));
        const __m256i z = _mm256_xor_si256(x, key);
        const __m256i product = _mm256_mul_epu32(z, _mm256_srli_epi64(z, 32));
        sum = _mm256_add_epi64(sum, _mm256_add_epi64(x, product));
        key = _mm256_add_epi64(key, step);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(acc), sum);
    return j;
}

// Eight positions at a time: lanes k and k + 4 of the register both belong
// to lane k.
__attribute__((target("avx512f"))) int addAvx512(const double *v, int n, quint64 *acc)
{
    __m512i sum = _mm512_setzero_si512();
    __m512i key = _mm512_set_epi64(qint64(kKey + 7 * kStep), qint64(kKey + 6 * kStep),
                                   qint64(kKey + 5 * kStep), qint64(kKey + 4 * kStep),
                                   qint64(kKey + 3 * kStep), qint64(kKey + 2 * kStep),
                                   qint64(kKey + kStep), qint64(kKey));
    const __m512i step = _mm512_set1_epi64(qint64(8 * kStep));
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m512i x = _mm512_loadu_si512(v + j);
        const __m512i z = _mm512_xor_si512(x, key);
        // The zero-masked forms: the plain ones start from an undefined
        // register, which the compiler warns about.
        const __m512i product = _mm512_maskz_mul_epu32(0xff, z, _mm512_maskz_srli_epi64(0xff, z, 32));
        sum = _mm512_add_epi64(sum, _mm512_add_epi64(x, product));
        key = _mm512_add_epi64(key, step);
    }
    quint64 lanes[8];
    _mm512_storeu_si512(lanes, sum);
    for (int k = 0; k < 4; ++k)
        acc[k] += lanes[k] + lanes[k + 4];
    return j;
}

enum class Path { Scalar, Avx2, Avx512 };

Path path()
{
    static const Path p = __builtin_cpu_supports("avx512f") ? Path::Avx512
                          : __builtin_cpu_supports("avx2")  ? Path::Avx2
                                                            : Path::Scalar;
    return p;
}
#endif

} // namespace

namespace ContentPrint {

quint64 values(const double *v, int n)
{
    quint64 acc[4] = {kLanes[0], kLanes[1], kLanes[2], kLanes[3]};
    if (v && n > 0) {
        int from = 0;
#ifdef TARVIX_PRINT_AVX2
        switch (path()) {
        case Path::Avx512:
            from = addAvx512(v, n, acc);
            break;
        case Path::Avx2:
            from = addAvx2(v, n, acc);
            break;
        case Path::Scalar:
            break;
        }
#endif
        addScalar(v, from, n, acc);
    }
    quint64 r = kBasis ^ quint64(n < 0 ? 0 : n);
    for (quint64 lane : acc) {
        r = (r ^ lane) * kPrime;
        r ^= r >> 29;
    }
    return r ^ (r >> 32);
}

quint64 fold(int n, const quint64 *rows, const double *rhs, const double *solution)
{
    if (n < 1)
        return quint64(n);
    quint64 h = (quint64(n) ^ kBasis) * kPrime;
    auto mix = [&h](quint64 word) { h = (h ^ word ^ (h >> 29)) * kPrime; };
    for (int i = 0; i < n; ++i)
        mix(rows ? rows[i] : 0);
    mix(values(rhs, n));
    mix(values(solution, n));
    return h;
}

} // namespace ContentPrint
