// The plain kernel: the reference every faster one must match, and the one
// used on CPUs without the vector extensions.
#include <cstddef>
#include <cstdint>

#include "Line_End_Engine.h"

namespace {

struct Span {
    static std::size_t Copy(const char* data, std::size_t size, char* out) {
        std::size_t i = 0;
        for (; i < size; ++i) {
            const char c = data[i];
            if (c == '\n' || c == '\r') break;
            out[i] = c;
        }
        return i;
    }
    static std::size_t Skip(const char* data, std::size_t size) {
        std::size_t i = 0;
        while (i < size && data[i] != '\n' && data[i] != '\r') ++i;
        return i;
    }
};

#include "Kernel_Loop.inl"

bool Always() { return true; }

}  // namespace

namespace quillet {
extern const Kernel kKernel_Scalar = {"scalar", Always, Convert_Chunk<Span>, Scan_Chunk};
}
