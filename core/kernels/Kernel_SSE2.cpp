// 16 bytes at a time with SSE2.
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "Line_End_Engine.h"

namespace {

inline unsigned Line_End_Mask(__m128i v) {
    const __m128i lf = _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'));
    const __m128i cr = _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(lf, cr)));
}

struct Span {
    static std::size_t Copy(const char* data, std::size_t size, char* out) {
        std::size_t i = 0;
        for (; i + 16 <= size; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
            const unsigned m = Line_End_Mask(v);
            if (m != 0) return i + static_cast<std::size_t>(__builtin_ctz(m));
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
        for (; i + 16 <= size; i += 16) {
            const unsigned m =
                Line_End_Mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
            if (m != 0) return i + static_cast<std::size_t>(__builtin_ctz(m));
        }
        while (i < size && data[i] != '\n' && data[i] != '\r') ++i;
        return i;
    }
};

#include "Kernel_Loop.inl"

bool Supported() {
#if defined(__x86_64__) || defined(_M_X64)
    return true;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#endif
}

}  // namespace

namespace quillet {
extern const Kernel kKernel_SSE2 = {"sse2", Supported, Convert_Chunk<Span>, Scan_Chunk};
}
