// 64 bytes at a time with AVX-512BW; masked loads cover the tail of a chunk
// without reading past it.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "Line_End_Engine.h"

namespace {

inline std::uint64_t Line_End_Mask(__m512i v) {
    return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\n')) |
           _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\r'));
}

struct Span {
    static std::size_t Copy(const char* data, std::size_t size, char* out) {
        std::size_t i = 0;
        for (; i + 64 <= size; i += 64) {
            const __m512i v = _mm512_loadu_si512(data + i);
            _mm512_storeu_si512(out + i, v);
            const std::uint64_t m = Line_End_Mask(v);
            if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
        }
        if (i < size) {
            const __mmask64 valid = _bzhi_u64(~0ULL, static_cast<unsigned>(size - i));
            const __m512i v = _mm512_maskz_loadu_epi8(valid, data + i);
            _mm512_storeu_si512(out + i, v);
            const std::uint64_t m = Line_End_Mask(v) & valid;
            return m != 0 ? i + static_cast<std::size_t>(__builtin_ctzll(m)) : size;
        }
        return i;
    }
    static std::size_t Skip(const char* data, std::size_t size) {
        std::size_t i = 0;
        for (; i + 64 <= size; i += 64) {
            const std::uint64_t m = Line_End_Mask(_mm512_loadu_si512(data + i));
            if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
        }
        if (i < size) {
            const __mmask64 valid = _bzhi_u64(~0ULL, static_cast<unsigned>(size - i));
            const std::uint64_t m = Line_End_Mask(_mm512_maskz_loadu_epi8(valid, data + i)) & valid;
            return m != 0 ? i + static_cast<std::size_t>(__builtin_ctzll(m)) : size;
        }
        return i;
    }
};

#include "Kernel_Loop.inl"

bool Supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("bmi2");
}

}  // namespace

namespace quillet {
extern const Kernel kKernel_AVX512 = {"avx512", Supported, Convert_Chunk, Scan_Chunk};
}
