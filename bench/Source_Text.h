#pragma once
// Deterministic text that looks like program source: nested blocks, comments,
// declarations and calls, blank lines, lines of very different lengths, about
// 34 bytes a line on average counting a two-byte line end. The same seed gives
// the same lines whatever the line end, so a CR LF text and its LF twin hold
// the same content.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace bench_text {

class Source_Generator {
public:
    explicit Source_Generator(std::uint64_t seed = 0x5eed'c0de'2024ULL) : state_(seed) {}

    // Appends one line, line end included.
    void Append_Line(std::string& out, std::string_view line_end) {
        const std::uint64_t kind = Next() % 100;
        if (kind < 12) {  // blank line
            out += line_end;
            return;
        }
        if (kind < 20 && depth_ > 0) {  // a block closes
            --depth_;
            Indent(out);
            out += Next() % 4 == 0 ? "};" : "}";
            out += line_end;
            return;
        }
        Indent(out);
        if (kind < 29) {  // comment
            out += "// ";
            Words(out, 2 + Next() % 7);
        } else if (kind < 35 && depth_ < 5) {  // a block opens
            static constexpr std::string_view kOpen[] = {"if (", "for (auto& ", "while (", "switch (",
                                                         "} else if ("};
            out += kOpen[Next() % std::size(kOpen)];
            Identifier(out);
            if (Next() % 2) {
                out += Next() % 2 ? " < " : " != ";
                Identifier(out);
            }
            out += ") {";
            ++depth_;
        } else if (kind < 45) {  // short statement
            static constexpr std::string_view kShort[] = {"return ", "++", "delete "};
            static constexpr std::string_view kAlone[] = {"break;", "continue;", "return;"};
            if (Next() % 3 == 0) {
                out += kAlone[Next() % std::size(kAlone)];
            } else {
                out += kShort[Next() % std::size(kShort)];
                Identifier(out);
                out += ';';
            }
        } else {  // declaration or call, sometimes long
            if (Next() % 2 == 0) {
                static constexpr std::string_view kTypes[] = {"int ", "auto ", "const std::string& ",
                                                              "std::size_t ", "bool ", "double "};
                out += kTypes[Next() % std::size(kTypes)];
            }
            Identifier(out);
            out += " = ";
            Identifier(out);
            out += '(';
            const std::uint64_t args = Next() % 8 == 0 ? 3 + Next() % 5 : Next() % 3;
            for (std::uint64_t i = 0; i < args; ++i) {
                if (i != 0) out += ", ";
                Identifier(out);
            }
            out += ");";
            if (Next() % 6 == 0) {
                out += "  // ";
                Words(out, 1 + Next() % 5);
            }
        }
        out += line_end;
    }

    // Appends whole lines until `out` holds at least `size` bytes.
    void Fill(std::string& out, std::size_t size, std::string_view line_end) {
        while (out.size() < size) Append_Line(out, line_end);
    }

private:
    std::uint64_t Next() {  // splitmix64
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    void Indent(std::string& out) { out.append(static_cast<std::size_t>(depth_) * 4, ' '); }
    void Identifier(std::string& out) {
        static constexpr std::string_view kNames[] = {
            "i",      "n",      "count",  "buffer", "size",        "result", "text",   "Line_End",
            "offset", "value",  "item",   "state",  "out",         "begin",  "end",    "data",
            "path",   "name",   "index",  "total",  "options",     "kernel", "chunk",  "Read_At",
            "Flush",  "Append", "Update", "limit",  "Convert_All", "x",      "node",   "entry"};
        out += kNames[Next() % std::size(kNames)];
        if (Next() % 4 == 0) {
            out += Next() % 2 ? "." : "->";
            out += kNames[Next() % std::size(kNames)];
        }
    }
    void Words(std::string& out, std::uint64_t count) {
        static constexpr std::string_view kWords[] = {
            "the", "file", "is",  "read",  "whole", "and", "then", "written", "back", "line", "ends",
            "of",  "each", "run", "stays", "when",  "a",   "text", "holds",   "no",   "byte", "left"};
        for (std::uint64_t i = 0; i < count; ++i) {
            if (i != 0) out += ' ';
            out += kWords[Next() % std::size(kWords)];
        }
    }

    std::uint64_t state_;
    int depth_ = 0;
};

// A source-like text of at least `size` bytes (whole lines) with the given line end.
inline std::string Make_Source_Text(std::size_t size, std::string_view line_end,
                                    std::uint64_t seed = 0x5eed'c0de'2024ULL) {
    std::string out;
    out.reserve(size + 256);
    Source_Generator gen(seed);
    gen.Fill(out, size, line_end);
    return out;
}

}  // namespace bench_text
