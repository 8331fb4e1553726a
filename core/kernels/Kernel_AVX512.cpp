// 64 bytes at a time with AVX-512 (BW and VBMI2); masked loads cover the tail
// of a chunk without reading past it. Where no line ends are collapsed, a
// block is converted whole: CRs of CR LF pairs are squeezed out with a
// compress, or missing halves of CR LF pairs are made room for with an expand.
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

    static bool Body(const char* data, std::size_t size, quillet::Out_Buffer& out, char target) {
        return target != 0 ? Squeeze(data, size, out, target) : Expand_To_CrLf(data, size, out);
    }

    // One-byte target: the CR of each CR LF pair goes, every other CR or LF
    // becomes the target byte.
    static bool Squeeze(const char* data, std::size_t size, quillet::Out_Buffer& out, char target) {
        const __m512i cr_v = _mm512_set1_epi8('\r'), lf_v = _mm512_set1_epi8('\n');
        const __m512i t_v = _mm512_set1_epi8(target);
        char* o = out.cur;
        for (std::size_t i = 0; i < size; i += 64) {
            if (!out.Make_Room(o, 64)) return false;
            const std::size_t n = size - i < 64 ? size - i : 64;
            const __mmask64 valid = n == 64 ? ~0ULL : _bzhi_u64(~0ULL, static_cast<unsigned>(n));
            const __m512i v = _mm512_maskz_loadu_epi8(valid, data + i);
            const std::uint64_t cr = _mm512_mask_cmpeq_epi8_mask(valid, v, cr_v);
            const std::uint64_t lf = _mm512_mask_cmpeq_epi8_mask(valid, v, lf_v);
            const std::uint64_t next_lf = i + 64 < size && data[i + 64] == '\n';
            const std::uint64_t drop = cr & ((lf >> 1) | (next_lf << 63));
            const std::uint64_t keep = valid & ~drop;
            const __m512i mapped = _mm512_mask_mov_epi8(v, (cr | lf) & keep, t_v);
            _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(keep, mapped));
            o += _mm_popcnt_u64(keep);
        }
        out.cur = o;
        return true;
    }

    // CR LF target: pairs stay, a lone LF gets a CR before it, a lone CR an LF
    // after it. 32 bytes in give at most 64 out; the expand leaves a hole
    // where a byte is added, and the holes are then filled.
    static bool Expand_To_CrLf(const char* data, std::size_t size, quillet::Out_Buffer& out) {
        constexpr std::uint64_t kHoles = 0x5555555555555555ULL, kBytes = 0xAAAAAAAAAAAAAAAAULL;
        const __m512i cr_w = _mm512_set1_epi8('\r'), lf_w = _mm512_set1_epi8('\n');
        char* o = out.cur;
        std::uint64_t prev_cr = 0;   // the last byte of the previous block was a CR
        std::uint64_t lf_carry = 0;  // ... a lone one, so its LF goes first in this block
        for (std::size_t i = 0; i < size; i += 64) {
            if (!out.Make_Room(o, 128)) return false;
            const std::size_t n = size - i < 64 ? size - i : 64;
            const std::uint64_t valid = n == 64 ? ~0ULL : _bzhi_u64(~0ULL, static_cast<unsigned>(n));
            const __m512i v = _mm512_maskz_loadu_epi8(valid, data + i);
            const std::uint64_t cr = _mm512_mask_cmpeq_epi8_mask(valid, v, cr_w);
            const std::uint64_t lf = _mm512_mask_cmpeq_epi8_mask(valid, v, lf_w);
            const std::uint64_t next_lf = i + 64 < size && data[i + 64] == '\n';
            const std::uint64_t lone_lf = lf & ~((cr << 1) | prev_cr);
            const std::uint64_t lone_cr = cr & ~((lf >> 1) | (next_lf << 63));
            const std::uint64_t cr_holes = lone_lf;                   // before byte k
            const std::uint64_t lf_holes = (lone_cr << 1) | lf_carry;  // before byte k
            lf_carry = lone_cr >> 63;
            prev_cr = cr >> 63;
            if ((cr_holes | lf_holes) == 0) {  // nothing to add: the block stays as it is
                _mm512_storeu_si512(o, v);
                o += n;
                continue;
            }
            // Each half of 32 bytes becomes at most 64. Slot 2k is a possible
            // hole before byte k, slot 2k+1 byte k itself.
            // The expand takes its bytes from the bottom of the register: the
            // second half is moved down for it.
            const __m512i halves[2] = {v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, 0xEE)};
            for (int h = 0; h < 2; ++h) {
                const unsigned shift = 32 * static_cast<unsigned>(h);
                const std::uint64_t half_valid = (valid >> shift) & 0xFFFFFFFFULL;
                if (half_valid == 0) break;
                const std::uint64_t cr_slots = _pdep_u64((cr_holes >> shift) & 0xFFFFFFFFULL, kHoles);
                const std::uint64_t lf_slots = _pdep_u64((lf_holes >> shift) & 0xFFFFFFFFULL, kHoles);
                const std::uint64_t used = cr_slots | lf_slots | (_pdep_u64(half_valid, kHoles) << 1);
                __m512i w = _mm512_maskz_expand_epi8(_pext_u64(kBytes, used), halves[h]);
                w = _mm512_mask_mov_epi8(w, _pext_u64(cr_slots, used), cr_w);
                w = _mm512_mask_mov_epi8(w, _pext_u64(lf_slots, used), lf_w);
                _mm512_storeu_si512(o, w);
                o += _mm_popcnt_u64(used);
            }
        }
        out.cur = o;
        return true;
    }
};

#include "Kernel_Loop.inl"

bool Supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

}  // namespace

namespace quillet {
extern const Kernel kKernel_AVX512 = {"avx512", Supported, Convert_Chunk<Span>, Scan_Chunk};
}
