// 32 bytes at a time with AVX2. Where no line ends are collapsed, blocks are
// converted whole: byte shuffles from small tables squeeze out the CRs of CR LF
// pairs or make room for the missing half of a pair, 8 bytes at a time.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "Line_End_Engine.h"

namespace {

// For each 8-bit mask of bytes to drop: the shuffle that packs the others.
struct Squeeze_Table {
    std::uint8_t shuffle[256][8];
    std::uint8_t kept[256];
};
constexpr Squeeze_Table Make_Squeeze_Table() {
    Squeeze_Table t{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned k = 0;
        for (unsigned b = 0; b < 8; ++b)
            if (!((m >> b) & 1)) t.shuffle[m][k++] = static_cast<std::uint8_t>(b);
        t.kept[m] = static_cast<std::uint8_t>(k);
        for (; k < 8; ++k) t.shuffle[m][k] = 0x80;
    }
    return t;
}
alignas(64) constexpr Squeeze_Table kSqueeze = Make_Squeeze_Table();

// For each 8-bit mask of holes (a hole before byte k): the shuffle that spreads
// the bytes out and leaves the holes zero (index with the top bit set).
struct Expand_Table {
    std::uint8_t shuffle[256][16];
    std::uint8_t size[256];
};
constexpr Expand_Table Make_Expand_Table() {
    Expand_Table t{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned k = 0;
        for (unsigned b = 0; b < 8; ++b) {
            if ((m >> b) & 1) t.shuffle[m][k++] = 0x80;
            t.shuffle[m][k++] = static_cast<std::uint8_t>(b);
        }
        t.size[m] = static_cast<std::uint8_t>(k);
        for (; k < 16; ++k) t.shuffle[m][k] = 0x80;
    }
    return t;
}
alignas(64) constexpr Expand_Table kExpand = Make_Expand_Table();

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

    static bool Body(const char* data, std::size_t size, quillet::Out_Buffer& out, char target) {
        return target != 0 ? Squeeze(data, size, out, target) : Expand_To_CrLf(data, size, out);
    }

    // One-byte target: the CR of each CR LF pair goes, every other CR or LF
    // becomes the target byte.
    static bool Squeeze(const char* data, std::size_t size, quillet::Out_Buffer& out, char target) {
        const __m256i cr_v = _mm256_set1_epi8('\r'), lf_v = _mm256_set1_epi8('\n');
        const __m256i t_v = _mm256_set1_epi8(target);
        const __m128i eight = _mm_set1_epi8(8);
        char* o = out.cur;
        std::size_t i = 0;
        for (; i + 32 <= size; i += 32) {
            if (!out.Make_Room(o, 32)) return false;
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
            const __m256i is_cr = _mm256_cmpeq_epi8(v, cr_v), is_lf = _mm256_cmpeq_epi8(v, lf_v);
            const std::uint32_t cr = static_cast<std::uint32_t>(_mm256_movemask_epi8(is_cr));
            const std::uint32_t lf = static_cast<std::uint32_t>(_mm256_movemask_epi8(is_lf));
            const std::uint32_t next_lf = i + 32 < size && data[i + 32] == '\n';
            const std::uint32_t drop = cr & ((lf >> 1) | (next_lf << 31));
            const __m256i mapped = _mm256_blendv_epi8(v, t_v, _mm256_or_si256(is_cr, is_lf));
            if (drop == 0) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), mapped);
                o += 32;
                continue;
            }
            const __m128i halves[2] = {_mm256_castsi256_si128(mapped), _mm256_extracti128_si256(mapped, 1)};
            for (int g = 0; g < 4; ++g) {
                const unsigned m = (drop >> (8 * g)) & 0xFF;
                __m128i shuffle = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kSqueeze.shuffle[m]));
                if (g & 1) shuffle = _mm_add_epi8(shuffle, eight);
                _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(halves[g >> 1], shuffle));
                o += kSqueeze.kept[m];
            }
        }
        if (!out.Make_Room(o, 32)) return false;
        for (; i < size; ++i) {  // fewer than 32 bytes left
            const char c = data[i];
            if (c == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
            *o++ = c == '\r' || c == '\n' ? target : c;
        }
        out.cur = o;
        return true;
    }

    // CR LF target: pairs stay, a lone LF gets a CR before it, a lone CR an LF
    // after it. A hole left for an added byte is a CR when an LF follows it,
    // else an LF (it then follows a lone CR).
    static bool Expand_To_CrLf(const char* data, std::size_t size, quillet::Out_Buffer& out) {
        const __m256i cr_v = _mm256_set1_epi8('\r'), lf_v = _mm256_set1_epi8('\n');
        const __m128i cr_x = _mm_set1_epi8('\r'), lf_x = _mm_set1_epi8('\n');
        const __m128i eight = _mm_set1_epi8(8), zero = _mm_setzero_si128();
        char* o = out.cur;
        std::uint32_t prev_cr = 0, lf_carry = 0;
        std::size_t i = 0;
        for (; i + 32 <= size; i += 32) {
            if (!out.Make_Room(o, 64)) return false;
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
            const std::uint32_t cr = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, cr_v)));
            const std::uint32_t lf = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, lf_v)));
            const std::uint32_t next_lf = i + 32 < size && data[i + 32] == '\n';
            const std::uint32_t lone_lf = lf & ~((cr << 1) | prev_cr);
            const std::uint32_t lone_cr = cr & ~((lf >> 1) | (next_lf << 31));
            const std::uint32_t holes = lone_lf | (lone_cr << 1) | lf_carry;
            lf_carry = lone_cr >> 31;
            prev_cr = cr >> 31;
            if (holes == 0) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(o), v);
                o += 32;
                continue;
            }
            const __m128i halves[2] = {_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)};
            for (int g = 0; g < 4; ++g) {
                const unsigned m = (holes >> (8 * g)) & 0xFF;
                __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(kExpand.shuffle[m]));
                const __m128i is_hole = _mm_cmplt_epi8(shuffle, zero);
                if (g & 1) shuffle = _mm_add_epi8(shuffle, eight);
                __m128i r = _mm_shuffle_epi8(halves[g >> 1], shuffle);
                const __m128i before_lf = _mm_cmpeq_epi8(_mm_srli_si128(r, 1), lf_x);
                r = _mm_blendv_epi8(r, _mm_blendv_epi8(lf_x, cr_x, before_lf), is_hole);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), r);
                o += kExpand.size[m];
            }
        }
        if (!out.Make_Room(o, 64)) return false;
        if (lf_carry) *o++ = '\n';
        for (; i < size; ++i) {  // fewer than 32 bytes left
            const char c = data[i];
            if (c == '\n' && (i == 0 || data[i - 1] != '\r')) *o++ = '\r';
            *o++ = c;
            if (c == '\r' && (i + 1 == size || data[i + 1] != '\n')) *o++ = '\n';
        }
        out.cur = o;
        return true;
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
