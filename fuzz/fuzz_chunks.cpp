// The streaming engine fed the way the file path feeds it, but in chunks whose
// sizes come from the input (so they end inside CR LF pairs and inside runs)
// and through output buffers of a few bytes, against the literal reference.
//
// Input: byte 0 options (bits 0-1 target: CR LF, LF, CR, or one of the odd
// targets picked by bits 4-5; bit 2 Remove_Duplicates; bit 3
// One_Line_End_At_End; bit 6 also cut right after every CR; bit 7 the sink
// refuses output after a while), byte 1 output room, byte 2 count of the chunk
// size bytes that follow (cycled; below 200 a chunk of 0 to 69 bytes, from 200
// up one of 64 to about 2,000), byte 3 when the sink refuses; then the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Fuzz_Support.h"
#include "Reference_Transform.h"

namespace {

// Targets outside the three styles: the engine must not assume one or two bytes.
const std::string kOdd_Targets[] = {"", "<EOL>", "\n\r", std::string(100, '=') + "\r\n"};

class Recording_Sink final : public quillet::Byte_Sink {
public:
    std::string s;
    std::size_t refuse_after = SIZE_MAX;
    bool refused = false;
    bool Put(const char* data, std::size_t size) override {
        if (s.size() + size > refuse_after) {
            refused = true;
            return false;
        }
        s.append(data, size);
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint8_t flags = data[0];
    fuzz::Options o = fuzz::Options_From(flags);
    std::string target(o.line_end);
    if ((flags & 3) == 3) target = kOdd_Targets[(flags >> 4) & 3];
    o.line_end = target;
    const bool cut_after_cr = (flags & 0x40) != 0;
    const bool refusing = (flags & 0x80) != 0;
    const std::size_t room = quillet::Out_Buffer::kMin_Room + (data[1] < 200 ? data[1] % 16 : std::size_t{1} << (data[1] % 16));
    const std::size_t n_sizes = std::min<std::size_t>(1 + data[2] % 8, size - 3);
    const std::uint8_t* sizes = data + 3;
    const std::size_t refuse_after = static_cast<std::size_t>(data[3]) * 3;
    const std::size_t header = 3 + n_sizes;
    const std::string text(reinterpret_cast<const char*>(data + header), size - header);

    // The cuts: lengths cycled from the size bytes (0 allowed), plus one after every CR.
    std::vector<std::size_t> cuts;
    for (std::size_t off = 0, i = 0; off < text.size(); ++i) {
        // Mostly short chunks; size bytes of 200 and up give chunks of several vector blocks.
        const std::uint8_t b = sizes[i % n_sizes];
        const std::size_t want_n = b < 200 ? b % 70 : 64 + static_cast<std::size_t>(b - 200) * 37;
        std::size_t n = std::min<std::size_t>(want_n, text.size() - off);
        if (cut_after_cr) {
            const std::size_t cr = text.find('\r', off);
            if (cr != std::string::npos && cr < off + n) n = cr + 1 - off;
        }
        cuts.push_back(n);
        off += n;
        if (i > 4 * text.size() + 16) return 0;  // only empty chunks: nothing would move on
    }
    auto for_each_chunk = [&](auto&& body) {
        std::size_t off = 0;
        for (const std::size_t n : cuts) {
            // An exact-size copy: a read past the chunk is caught by AddressSanitizer.
            std::unique_ptr<char[]> chunk(new char[n == 0 ? 1 : n]);
            std::copy_n(text.data() + off, n, chunk.get());
            if (!body(chunk.get(), n)) return;
            off += n;
        }
    };

    const std::string normal = reference::Replace_All(reference::Replace_All(text, "\r\n", "\n"), "\r", "\n");
    const long long shortest = reference::Shortest_Line_End_Run(normal);
    const std::string want = reference::Convert(text, o.line_end, o.remove_duplicates, o.one_at_end);

    for (std::size_t ki = 0; ki < quillet::Kernel_Count(); ++ki) {
        const quillet::Kernel& k = quillet::Kernel_At(ki);
        if (!k.supported()) continue;

        quillet::Scan_State scan;
        for_each_chunk([&](const char* p, std::size_t n) {
            k.scan(scan, p, n);
            return !scan.Decided();  // as the file path does: stop once a lone line end is seen
        });
        const std::uint64_t found = quillet::Finish_Scan(scan);
        if (found != static_cast<std::uint64_t>(shortest))
            fuzz::Mismatch("chunked scan", k.name, o, text, std::to_string(found), std::to_string(shortest));

        quillet::Convert_State st;
        st.target = target.data();
        st.target_len = target.size();
        st.one_at_end = o.one_at_end;
        st.divisor = o.remove_duplicates && found > 1 ? found : 0;
        Recording_Sink sink;
        if (refusing) sink.refuse_after = refuse_after;
        std::unique_ptr<char[]> buffer(new char[room + quillet::Out_Buffer::kSlack]);
        quillet::Out_Buffer out{buffer.get(), buffer.get(), buffer.get() + room, &sink};
        bool ok = true;
        for_each_chunk([&](const char* p, std::size_t n) { return ok = k.convert(st, p, n, out); });
        ok = ok && quillet::Finish_Convert(st, out) && out.Flush();

        if (refusing && sink.refused) {
            // Stopped early: what did go out must be the start of the right result.
            if (ok || want.compare(0, sink.s.size(), sink.s) != 0)
                fuzz::Mismatch("chunked convert, refused output", k.name, o, text, sink.s, want);
            continue;
        }
        if (!ok || sink.s != want) fuzz::Mismatch("chunked convert", k.name, o, text, sink.s, want);
    }
    return 0;
}
