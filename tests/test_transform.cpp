// The line-end transform: the documented cases, then every kernel against the
// literal reference over many random texts, whole and cut into chunks.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Line_End_Engine.h"
#include "Reference_Transform.h"
#include "modConvert_Line_Ends.h"

using modConvert_Line_Ends::Convert_Line_Ends_In_Text;

namespace {

const std::string CRLF = "\r\n", LF = "\n", CR = "\r";
const std::string kStyles[] = {CRLF, LF, CR};

// Runs `body` once with each kernel this CPU can run, then restores the default.
template <class Body>
void For_Each_Kernel(Body body) {
    const std::string before = quillet::Active_Kernel().name;
    int ran = 0;
    for (std::size_t i = 0; i < quillet::Kernel_Count(); ++i) {
        const quillet::Kernel& k = quillet::Kernel_At(i);
        if (!k.supported()) continue;
        ASSERT_TRUE(quillet::Select_Kernel(k.name));
        SCOPED_TRACE(std::string("kernel ") + k.name);
        body();
        ++ran;
    }
    quillet::Select_Kernel(before);
    EXPECT_GE(ran, 1);
}

std::string Show(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == '\r') out += "<CR>";
        else if (c == '\n') out += "<LF>";
        else if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) out += "<" + std::to_string(static_cast<unsigned char>(c)) + ">";
        else out += c;
    }
    return out;
}

struct Case {
    std::string in;
    std::string line_end;
    bool remove_duplicates;
    bool one_at_end;
    std::string expected;
};

TEST(Transform, DocumentedCases) {
    const std::vector<Case> cases = {
        // line ends of every kind come out in the target style
        {"a\r\nb\rc\n", CRLF, false, false, "a\r\nb\r\nc\r\n"},
        {"a\r\nb\r\n", LF, false, false, "a\nb\n"},
        {"a\rb", LF, false, false, "a\nb"},
        {"a\r\r\nb", LF, false, false, "a\n\nb"},   // CR CR LF is two line ends
        {"a\n\rb", LF, false, false, "a\n\nb"},     // LF CR too
        {"a\nb\n", CR, false, false, "a\rb\r"},
        {"a\r\nb\r\n", CRLF, false, false, "a\r\nb\r\n"},  // already right: unchanged
        // text without line ends
        {"abc", CRLF, true, false, "abc"},
        {"abc", CRLF, false, true, "abc\r\n"},
        // collapsing uniformly repeated line ends
        {"a\n\nb\n\n", LF, true, false, "a\nb\n"},
        {"a\nb\n\nc", LF, true, false, "a\nb\n\nc"},           // shortest run 1: unchanged
        {"a\n\n\nb\n\n", LF, true, false, "a\n\nb\n"},         // runs 3 and 2, n = 2
        {"a\n\n\n\n\n\n\nb\n\n\n", LF, true, false, "a\n\n\nb\n"},  // 7 = 2*3+1: 2+1 with n = 3
        {"a\r\r\nb\r\r\n", CRLF, true, false, "a\r\nb\r\n"},   // CR CR LF lines read as doubled
        {"\n\n", LF, true, false, "\n"},
        // one line end at the end
        {"x\n\n\n", LF, false, true, "x\n"},
        {"\n\n\r\n\r", CRLF, false, true, ""},
        {"\n", LF, false, true, ""},
        {"a\n\nb\n\n\n\n", LF, true, true, "a\nb\n"},          // collapse first, then trim
        {"a\n\nb\n\n\n\n", LF, true, false, "a\nb\n\n"},
        // bytes are never decoded: UTF-16 halves and NULs pass through
        {std::string("a\0\r\0\n\0", 6), LF, false, false, std::string("a\0\n\0\n\0", 6)},
        {"\xff\xfe\r\n\x80", CR, false, false, "\xff\xfe\r\x80"},
    };
    For_Each_Kernel([&] {
        for (const Case& c : cases) {
            EXPECT_EQ(Show(Convert_Line_Ends_In_Text(c.in, c.line_end, c.remove_duplicates, c.one_at_end)),
                      Show(c.expected))
                << "input " << Show(c.in) << " to " << Show(c.line_end) << " dup " << c.remove_duplicates
                << " end " << c.one_at_end;
        }
    });
}

TEST(Transform, EmptyTextStaysEmptyAndInputIsNotModified) {
    For_Each_Kernel([] {
        for (const std::string& style : kStyles)
            for (int flags = 0; flags < 4; ++flags)
                EXPECT_EQ(Convert_Line_Ends_In_Text("", style, flags & 1, flags & 2), "");
    });
    const std::string in = "a\r\nb";
    const std::string copy = in;
    Convert_Line_Ends_In_Text(in, LF, true, true);
    EXPECT_EQ(in, copy);
}

// Texts built to hit the hard spots: runs of every length, CR CR LF, CR at
// the edges, long plain spans that cross vector widths.
std::string Random_Text(std::mt19937_64& rng) {
    static const char* const alphabets[] = {"\r\n", "\r\na", "\r\nab", "a\n", "\rx", "abcdefgh\r\n\n\n",
                                            "\n\n\n\nq", "\r\r\n"};
    const std::string alphabet = alphabets[rng() % std::size(alphabets)];
    const std::size_t len = rng() % 4 == 0 ? rng() % 600 : rng() % 80;
    std::string s;
    while (s.size() < len) {
        switch (rng() % 8) {
            case 0: s.append(rng() % 150, 'z'); break;                 // a long plain span
            case 1: s.append(1 + rng() % 5, '\n'); break;              // a run of LFs
            case 2: for (int i = 1 + rng() % 3; i > 0; --i) s += "\r\n"; break;
            case 3: s += "\r\r\n"; break;
            default: s += alphabet[rng() % alphabet.size()];
        }
    }
    return s;
}

TEST(Transform, MatchesReferenceOnRandomTexts) {
    For_Each_Kernel([] {
        std::mt19937_64 rng(20261207);
        for (int i = 0; i < 20000; ++i) {
            const std::string text = Random_Text(rng);
            const std::string& style = kStyles[i % 3];
            const bool dup = (i / 3) % 2, end = (i / 6) % 2;
            const std::string expected = reference::Convert(text, style, dup, end);
            const std::string got = Convert_Line_Ends_In_Text(text, style, dup, end);
            if (got != expected) {
                ADD_FAILURE() << "input " << Show(text) << " to " << Show(style) << " dup " << dup
                              << " end " << end << "\n got " << Show(got) << "\nwant " << Show(expected);
                return;
            }
        }
    });
}

// Also targets that are not one of the three styles: the engine must not
// assume a length of one or two.
TEST(Transform, AnyTargetText) {
    std::mt19937_64 rng(7);
    for (const std::string& target : {std::string(), std::string("<EOL>"), std::string("\n\r")}) {
        for (int i = 0; i < 2000; ++i) {
            const std::string text = Random_Text(rng);
            const bool dup = i % 2, end = (i / 2) % 2;
            ASSERT_EQ(Show(Convert_Line_Ends_In_Text(text, target, dup, end)),
                      Show(reference::Convert(text, target, dup, end)));
        }
    }
}

class String_Sink final : public quillet::Byte_Sink {
public:
    std::string s;
    bool Put(const char* data, std::size_t size) override {
        s.append(data, size);
        return true;
    }
};

// Feeds the engine the way the file path does, but in random chunks cut
// anywhere (inside CR LF pairs and runs) and through the smallest output buffers.
std::string Convert_In_Chunks(const quillet::Kernel& k, const std::string& text, const std::string& style,
                              bool dup, bool end, std::mt19937_64& rng) {
    quillet::Convert_State st;
    st.target = style.data();
    st.target_len = style.size();
    st.one_at_end = end;
    auto cuts = [&](auto&& each) {
        for (std::size_t off = 0; off < text.size();) {
            const std::size_t n = std::min<std::size_t>(text.size() - off, 1 + rng() % 40);
            const std::string chunk = text.substr(off, n);  // exact-size copy: reads past it are caught by ASan
            each(chunk);
            off += n;
        }
    };
    if (dup) {
        quillet::Scan_State scan;
        cuts([&](const std::string& c) { k.scan(scan, c.data(), c.size()); });
        const std::uint64_t n = quillet::Finish_Scan(scan);
        st.divisor = n > 1 ? n : 0;
    }
    String_Sink sink;
    const std::size_t room = quillet::Out_Buffer::kMin_Room + rng() % 16;
    std::vector<char> buffer(room + quillet::Out_Buffer::kSlack);
    quillet::Out_Buffer out{buffer.data(), buffer.data(), buffer.data() + room, &sink};
    cuts([&](const std::string& c) { EXPECT_TRUE(k.convert(st, c.data(), c.size(), out)); });
    EXPECT_TRUE(quillet::Finish_Convert(st, out));
    EXPECT_TRUE(out.Flush());
    return sink.s;
}

TEST(Transform, ChunkedStreamingMatchesReference) {
    std::mt19937_64 rng(42);
    for (std::size_t i = 0; i < quillet::Kernel_Count(); ++i) {
        const quillet::Kernel& k = quillet::Kernel_At(i);
        if (!k.supported()) continue;
        SCOPED_TRACE(k.name);
        for (int j = 0; j < 6000; ++j) {
            const std::string text = Random_Text(rng);
            const std::string& style = kStyles[j % 3];
            const bool dup = (j / 3) % 2, end = (j / 6) % 2;
            const std::string got = Convert_In_Chunks(k, text, style, dup, end, rng);
            const std::string expected = reference::Convert(text, style, dup, end);
            if (got != expected) {
                ADD_FAILURE() << "input " << Show(text) << "\n got " << Show(got) << "\nwant " << Show(expected);
                return;
            }
        }
    }
}

TEST(Transform, LongRunsAndLongLines) {
    // A run far longer than any buffer, collapsed and not.
    const std::string many(1'200'001, '\n');
    const std::string text = "a" + many + "b" + std::string(600'000, '\n') + "c\r\n\r\n";
    For_Each_Kernel([&] {
        for (int flags = 0; flags < 4; ++flags)
            for (const std::string& style : kStyles)
                ASSERT_EQ(Convert_Line_Ends_In_Text(text, style, flags & 1, flags & 2),
                          reference::Convert(text, style, flags & 1, flags & 2));
        const std::string line(1'500'000, 'x');
        EXPECT_EQ(Convert_Line_Ends_In_Text(line + "\n" + line, CRLF, false, true), line + "\r\n" + line + "\r\n");
    });
}

TEST(Transform, KernelChoiceCanBeForced) {
    const std::string before = quillet::Active_Kernel().name;
    EXPECT_TRUE(quillet::Select_Kernel("scalar"));
    EXPECT_STREQ(quillet::Active_Kernel().name, "scalar");
    EXPECT_FALSE(quillet::Select_Kernel("no-such-kernel"));
    EXPECT_STREQ(quillet::Active_Kernel().name, "scalar");
    // The scalar kernel is always present, and listed last.
    EXPECT_STREQ(quillet::Kernel_At(quillet::Kernel_Count() - 1).name, "scalar");
    quillet::Select_Kernel(before);
}

}  // namespace
