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
//
// A kernel may also define
//   // Converts data[0..size), which ends in a byte other than CR and LF and
//   // does not continue a run, when every line end keeps its own place (no
//   // collapsing). The target is one byte (`target`, CR or LF) or, when
//   // `target` is 0, CR LF. Flushes `out` as needed.
//   static bool Body(const char* data, std::size_t size, quillet::Out_Buffer& out, char target);
// and then most of the text goes through it in blocks, without a branch per line.

inline bool Convert_Chunk_General(quillet::Convert_State& st, const char* data, std::size_t size,
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
        if (!out.Make_Room(o, 1)) return false;
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

// Adds the line-end bytes data[0..size) to the current run.
inline void Count_Run(quillet::Convert_State& st, const char* data, std::size_t size) {
    std::uint64_t run = st.run;
    bool last_cr = st.last_cr;
    for (std::size_t i = 0; i < size; ++i) {
        const bool is_cr = data[i] == '\r';
        run += is_cr | !last_cr;
        last_cr = is_cr;
    }
    st.run = run;
    st.last_cr = last_cr;
}

template <class S>
bool Convert_Chunk(quillet::Convert_State& st, const char* data, std::size_t size, quillet::Out_Buffer& out) {
    if constexpr (requires { &S::Body; }) {
        char body_target;
        if (st.target_len == 1 && (st.target[0] == '\n' || st.target[0] == '\r'))
            body_target = st.target[0];
        else if (st.target_len == 2 && st.target[0] == '\r' && st.target[1] == '\n')
            body_target = 0;
        else
            return Convert_Chunk_General(st, data, size, out);
        if (st.divisor > 1) return Convert_Chunk_General(st, data, size, out);

        // Leading line ends continue the pending run; trailing ones start the
        // next; what lies between goes through the block kernel.
        std::size_t head = 0;
        while (head < size && (data[head] == '\n' || data[head] == '\r')) ++head;
        std::size_t tail = size;
        while (tail > head && (data[tail - 1] == '\n' || data[tail - 1] == '\r')) --tail;
        Count_Run(st, data, head);
        if (tail > head) {
            if (st.run != 0 && !quillet::Emit_Line_Ends(st, st.run, out)) return false;
            st.run = 0;
            st.last_cr = false;
            st.saw_text = true;
            if (!S::Body(data + head, tail - head, out, body_target)) return false;
        }
        Count_Run(st, data + tail, size - tail);
        return true;
    } else {
        return Convert_Chunk_General(st, data, size, out);
    }
}
