// The conversion and scan loops, shared by every kernel. Each kernel's source
// file defines `struct Span` with two functions and then includes this file
// inside an anonymous namespace, so every CPU variant gets its own copy:
//
//   // Copies data[0..k) to out and returns k, the index of the first CR or LF
//   // (size when there is none). May store up to Out_Buffer::kSlack bytes
//   // past out + k; never reads past data + size.
//   static std::size_t Copy(const char* data, std::size_t size, char* out);
//   // Returns the index of the first CR or LF in data[0..size), or size.
//   static std::size_t Skip(const char* data, std::size_t size);

inline bool Convert_Chunk(quillet::Convert_State& st, const char* data, std::size_t size,
                          quillet::Out_Buffer& out) {
    const char* p = data;
    const char* const e = data + size;
    char* o = out.cur;
    std::uint64_t run = st.run;
    bool last_cr = st.last_cr;
    bool saw_text = st.saw_text;
    const bool short_target = st.target_len == 1 || st.target_len == 2;
    const char t0 = short_target ? st.target[0] : 0;
    const char t1 = st.target_len == 2 ? st.target[1] : 0;
    while (p < e) {
        char c = *p;
        if (c == '\n' || c == '\r') {
            // A run of line ends: CR counts one, an LF counts one unless it
            // completes a CR LF pair.
            do {
                const bool is_cr = c == '\r';
                run += is_cr | !last_cr;
                last_cr = is_cr;
                if (++p == e) break;
                c = *p;
            } while (c == '\n' || c == '\r');
            continue;
        }
        last_cr = false;
        saw_text = true;
        if (run != 0) {
            const std::uint64_t count =
                st.divisor > 1 ? run / st.divisor + run % st.divisor : run;
            run = 0;
            if (count == 1 && short_target && o < out.end) {
                o[0] = t0;
                o[1] = t1;  // harmless for a one-byte target: lands in room or slack
                o += st.target_len;
            } else {
                out.cur = o;
                if (!quillet::Emit_Line_Ends(st, count, out)) return false;
                o = out.cur;
            }
        }
        if (o >= out.end) {
            out.cur = o;
            if (!out.Flush()) return false;
            o = out.cur;
        }
        const std::size_t room = static_cast<std::size_t>(out.end - o);
        const std::size_t left = static_cast<std::size_t>(e - p);
        const std::size_t k = Span::Copy(p, left < room ? left : room, o);
        p += k;
        o += k;
    }
    st.run = run;
    st.last_cr = last_cr;
    st.saw_text = saw_text;
    out.cur = o;
    return true;
}

inline void Scan_Chunk(quillet::Scan_State& st, const char* data, std::size_t size) {
    const char* p = data;
    const char* const e = data + size;
    std::uint64_t run = st.run;
    bool last_cr = st.last_cr;
    std::uint64_t best = st.best;
    while (p < e) {
        char c = *p;
        if (c == '\n' || c == '\r') {
            do {
                const bool is_cr = c == '\r';
                run += is_cr | !last_cr;
                last_cr = is_cr;
                if (++p == e) break;
                c = *p;
            } while (c == '\n' || c == '\r');
            continue;
        }
        last_cr = false;
        if (run != 0) {
            if (best == 0 || run < best) best = run;
            run = 0;
            if (best == 1) break;  // nothing can be collapsed any more
        }
        p += Span::Skip(p, static_cast<std::size_t>(e - p));
    }
    st.run = run;
    st.last_cr = last_cr;
    st.best = best;
}
