#pragma once
// Helpers shared by the differential fuzz targets: reading options out of the
// input, and stopping loudly (so libFuzzer keeps the input) on a mismatch.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Line_End_Engine.h"

namespace fuzz {

inline constexpr std::string_view kStyles[] = {"\r\n", "\n", "\r"};

struct Options {
    std::string_view line_end;
    bool remove_duplicates;
    bool one_at_end;
};

// Bits 0-1 pick the style (3 wraps to CR LF), bit 2 Remove_Duplicates, bit 3 One_Line_End_At_End.
inline Options Options_From(std::uint8_t b) {
    return Options{kStyles[(b & 3) % 3], (b & 4) != 0, (b & 8) != 0};
}

inline std::string Show(std::string_view s, std::size_t limit = 400) {
    std::string out;
    for (std::size_t i = 0; i < s.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\r') out += "<CR>";
        else if (c == '\n') out += "<LF>";
        else if (c < 32 || c > 126) out += "<" + std::to_string(c) + ">";
        else out += static_cast<char>(c);
    }
    if (s.size() > limit) out += "...(" + std::to_string(s.size()) + " bytes)";
    return out;
}

[[noreturn]] inline void Mismatch(const char* what, const char* kernel, const Options& o, std::string_view input,
                                  std::string_view got, std::string_view want) {
    std::fprintf(stderr,
                 "MISMATCH in %s (kernel %s, target %s, remove duplicates %d, one line end at end %d)\n"
                 "input: %s\ngot:   %s\nwant:  %s\n",
                 what, kernel, Show(o.line_end).c_str(), o.remove_duplicates, o.one_at_end,
                 Show(input).c_str(), Show(got).c_str(), Show(want).c_str());
    std::abort();
}

// Makes `name` the active kernel for as long as it lives, then puts the old one back.
class Kernel_Choice {
public:
    explicit Kernel_Choice(const char* name) : before_(quillet::Active_Kernel().name) {
        if (!quillet::Select_Kernel(name)) std::abort();
    }
    ~Kernel_Choice() { quillet::Select_Kernel(before_); }
    Kernel_Choice(const Kernel_Choice&) = delete;
    Kernel_Choice& operator=(const Kernel_Choice&) = delete;

private:
    const char* before_;
};

}  // namespace fuzz
