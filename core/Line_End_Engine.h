#pragma once
// The streaming line-end engine behind the text and file conversions.
//
// A text is seen as spans of ordinary bytes separated by runs of line ends. A
// line end is CR LF, a lone CR or a lone LF, so a run of CR and LF bytes holds
// (bytes - CR LF pairs) line ends. The whole conversion is then local to each
// run: a run of m line ends becomes f(m) line ends in the target style, where
// f(m) = m, or m / n + m % n when uniformly repeated line ends are collapsed
// (n being the shortest run in the whole text), and the run at the very end
// becomes exactly one line end (none for a text without other bytes) when the
// text must end in one line end. Runs are emitted when they end, so the engine
// needs no look-ahead and works on chunks of any size, cut anywhere (also
// between the CR and the LF of a pair).
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillet {

// Receives the converted bytes in order. Returns false to stop the conversion.
class Byte_Sink {
public:
    virtual bool Put(const char* data, std::size_t size) = 0;

protected:
    ~Byte_Sink() = default;
};

// A fixed output buffer in front of a sink, with room for at least kMin_Room
// bytes. The kernels may store up to kSlack bytes past `end` (never past the
// allocation).
struct Out_Buffer {
    static constexpr std::size_t kMin_Room = 128;
    static constexpr std::size_t kSlack = 64;
    char* begin = nullptr;
    char* cur = nullptr;
    char* end = nullptr;  // usable end; the allocation holds kSlack more bytes
    Byte_Sink* sink = nullptr;

    bool Flush();
    // Makes room for `size` bytes at the caller's write position `o`, which
    // stands for `cur` (it may have run a little into the slack): flushes when
    // there is less. False when the sink refused the output.
    bool Make_Room(char*& o, std::size_t size) {
        if (o <= end && static_cast<std::size_t>(end - o) >= size) return true;
        cur = o;
        if (!Flush()) return false;
        o = cur;
        return true;
    }
};

// Settings and running state of one conversion.
struct Convert_State {
    // settings
    const char* target = "\r\n";
    std::size_t target_len = 2;
    std::uint64_t divisor = 0;  // shortest run when it exceeds 1, else 0: runs keep their length
    bool one_at_end = false;
    // state carried from chunk to chunk
    std::uint64_t run = 0;  // line ends seen in the current run, not yet emitted
    bool last_cr = false;   // the last byte seen was a CR, so an LF now completes its pair
    bool saw_text = false;  // a byte other than CR and LF has been seen
};

// Running state of the shortest-run scan.
struct Scan_State {
    std::uint64_t best = 0;  // shortest finished run, 0 while none
    std::uint64_t run = 0;
    bool last_cr = false;
    // Once a run of one line end is seen nothing can be collapsed.
    bool Decided() const { return best == 1; }
};

// One set of kernels; several builds of the same code for different CPUs.
struct Kernel {
    const char* name;
    bool (*supported)();
    // Converts a chunk; false when the sink refused the output.
    bool (*convert)(Convert_State& state, const char* data, std::size_t size, Out_Buffer& out);
    // Scans a chunk for the shortest run of line ends.
    void (*scan)(Scan_State& state, const char* data, std::size_t size);
};

// Emits the run that ends the text and flushes nothing. False when the sink refused output.
bool Finish_Convert(Convert_State& state, Out_Buffer& out);
// Ends the scan; returns the shortest run (0 when the text holds no line end).
std::uint64_t Finish_Scan(Scan_State& state);

// Writes `count` line ends of the target style, flushing as needed.
bool Emit_Line_Ends(const Convert_State& state, std::uint64_t count, Out_Buffer& out);

// The kernels this build holds, fastest first, the plain scalar one last.
// Those the CPU cannot run are still listed; ask `supported`.
std::size_t Kernel_Count();
const Kernel& Kernel_At(std::size_t index);

// The kernel conversions use: the fastest the CPU supports, unless the
// environment variable QUILLET_KERNEL names another (e.g. "scalar").
const Kernel& Active_Kernel();
// Chooses the kernel by name for this process (tests and benchmarks). False when
// no such kernel exists or the CPU cannot run it.
bool Select_Kernel(std::string_view name);

}  // namespace quillet
