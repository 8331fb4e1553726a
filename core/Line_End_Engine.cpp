#include "Line_End_Engine.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace quillet {

#if QUILLET_HAVE_AVX512
extern const Kernel kKernel_AVX512;
#endif
#if QUILLET_HAVE_AVX2
extern const Kernel kKernel_AVX2;
#endif
#if QUILLET_HAVE_SSE2
extern const Kernel kKernel_SSE2;
#endif
extern const Kernel kKernel_Scalar;

namespace {

const Kernel* const kKernels[] = {
#if QUILLET_HAVE_AVX512
    &kKernel_AVX512,
#endif
#if QUILLET_HAVE_AVX2
    &kKernel_AVX2,
#endif
#if QUILLET_HAVE_SSE2
    &kKernel_SSE2,
#endif
    &kKernel_Scalar,
};

const Kernel* Find_Kernel(std::string_view name) {
    for (const Kernel* k : kKernels)
        if (name == k->name && k->supported()) return k;
    return nullptr;
}

const Kernel* Choose_Kernel() {
    if (const char* forced = std::getenv("QUILLET_KERNEL"); forced != nullptr && *forced != '\0') {
        if (const Kernel* k = Find_Kernel(forced)) return k;
    }
    for (const Kernel* k : kKernels)
        if (k->supported()) return k;
    return &kKernel_Scalar;
}

std::atomic<const Kernel*> g_active{nullptr};

}  // namespace

bool Out_Buffer::Flush() {
    if (cur != begin) {
        if (!sink->Put(begin, static_cast<std::size_t>(cur - begin))) return false;
        cur = begin;
    }
    return true;
}

bool Emit_Line_Ends(const Convert_State& st, std::uint64_t count, Out_Buffer& out) {
    const std::size_t len = st.target_len;
    if (len == 0) return true;
    while (count != 0) {
        std::size_t room = out.cur < out.end ? static_cast<std::size_t>(out.end - out.cur) : 0;
        if (room < len) {
            if (!out.Flush()) return false;
            room = static_cast<std::size_t>(out.end - out.cur);
            if (room < len) {  // a target longer than the whole buffer
                if (!out.sink->Put(st.target, len)) return false;
                --count;
                continue;
            }
        }
        std::uint64_t fit = room / len;
        if (fit > count) fit = count;
        if (len == 1) {
            std::memset(out.cur, st.target[0], fit);
            out.cur += fit;
        } else {
            for (std::uint64_t i = 0; i < fit; ++i) {
                std::memcpy(out.cur, st.target, len);
                out.cur += len;
            }
        }
        count -= fit;
    }
    return true;
}

bool Finish_Convert(Convert_State& st, Out_Buffer& out) {
    std::uint64_t count;
    if (st.one_at_end)
        count = st.saw_text ? 1 : 0;  // the final run, or none, becomes one line end
    else
        count = st.divisor > 1 ? st.run / st.divisor + st.run % st.divisor : st.run;
    st.run = 0;
    st.last_cr = false;
    return Emit_Line_Ends(st, count, out);
}

std::uint64_t Finish_Scan(Scan_State& st) {
    if (st.run != 0 && (st.best == 0 || st.run < st.best)) st.best = st.run;
    st.run = 0;
    st.last_cr = false;
    return st.best;
}

std::size_t Kernel_Count() { return sizeof kKernels / sizeof kKernels[0]; }

const Kernel& Kernel_At(std::size_t index) { return *kKernels[index]; }

const Kernel& Active_Kernel() {
    const Kernel* k = g_active.load(std::memory_order_acquire);
    if (k == nullptr) {
        k = Choose_Kernel();
        g_active.store(k, std::memory_order_release);
    }
    return *k;
}

bool Select_Kernel(std::string_view name) {
    const Kernel* k = Find_Kernel(name);
    if (k == nullptr) return false;
    g_active.store(k, std::memory_order_release);
    return true;
}

}  // namespace quillet
