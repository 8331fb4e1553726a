// 32 bytes at a time with AVX2.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "Line_End_Engine.h"

namespace {

inline std::uint32_t Line_End_Mask(__m256i v) {
    const __m256i lf = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'));
    const __m256i cr = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r'));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(lf, cr)));
}

struct Span {
    static std::size_t Copy(const char* data, std::size_t size, char* out) {
        std::size_t i = 0;
        for (; i + 32 <= size; i += 32) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), v);
            const std::uint32_t m = Line_End_Mask(v);
            if (m != 0) return i + static_cast<std::size_t>(__builtin_ctz(m));
        }
        if (i + 16 <= size) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
            const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')))));
            if (m != 0) return i + static_cast<std::size_t>(__builtin_ctz(m));
            i += 16;
        }
        for (; i < size; ++i) {
            const char c = data[i];
            if (c == '\n' || c == '\r') break;
            out[i] = c;
        }
        return i;
    }
    static std::size_t Skip(const char* data, std::size_t size) {
        std::size_t i = 0;
        for (; i + 32 <= size; i += 32) {
            const std::uint32_t m =
                Line_End_Mask(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i)));
            if (m != 0) return i + static_cast<std::size_t>(__builtin_ctz(m));
        }
        while (i < size && data[i] != '\n' && data[i] != '\r') ++i;
        return i;
    }
};

#include "Kernel_Loop.inl"

bool Supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

}  // namespace

namespace quillet {
extern const Kernel kKernel_AVX2 = {"avx2", Supported, Convert_Chunk<Span>, Scan_Chunk};
}
