#pragma once
// The line-end transform written as literally as possible: five whole-text
// passes built on replace-all. Slow, obviously right, and the yardstick every
// fast path is compared with.
#include <string>
#include <string_view>

namespace reference {

// Every occurrence of `from` (never empty) by `to`, left to right, without overlap.
inline std::string Replace_All(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, from.size(), from) == 0) {
            out += to;
            i += from.size();
        } else {
            out += text[i];
            ++i;
        }
    }
    return out;
}

// Length of the shortest run of consecutive LFs, 0 when there is no LF.
inline long long Shortest_Line_End_Run(std::string_view text) {
    long long best = 0;
    std::size_t i = 0;
    const std::size_t len = text.size();
    while (i < len) {
        if (text[i++] != '\n') continue;
        long long run = 1;
        while (i < len) {
            if (text[i++] != '\n') break;
            ++run;
        }
        if (best == 0 || run < best) best = run;
    }
    return best;
}

// 1-based position of the last character that is not LF, 0 when none.
inline std::size_t Last_Non_Line_End_Position(std::string_view text) {
    std::size_t p = text.size();
    while (p != 0 && text[p - 1] == '\n') --p;
    return p;
}

inline std::string Convert(std::string_view text, std::string_view line_end, bool remove_duplicates,
                           bool one_line_end_at_end) {
    std::string t = Replace_All(text, "\r\n", "\n");
    t = Replace_All(t, "\r", "\n");
    if (remove_duplicates) {
        const long long n = Shortest_Line_End_Run(t);
        if (n > 1) t = Replace_All(t, std::string(static_cast<std::size_t>(n), '\n'), "\n");
    }
    if (one_line_end_at_end) {
        const std::size_t p = Last_Non_Line_End_Position(t);
        t = p != 0 ? t.substr(0, p) + "\n" : std::string();
    }
    if (line_end != "\n") t = Replace_All(t, "\n", line_end);
    return t;
}

}  // namespace reference
