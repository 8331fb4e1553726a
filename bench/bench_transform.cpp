// The in-memory transform on an 8 MiB source-like text, per kernel and per
// option set, next to memcpy of the same buffer as the yardstick. Every figure
// is in bytes of input per second of the benchmark thread's CPU time: the
// machines this runs on are shared, and wall time counts other people's work.
//
//   Memcpy                      memcpy of the CR LF text into a buffer made once
//   Copy_To_New_String          a new std::string of the text each time (what a
//                               transform that returns a new text pays at least)
//   Text/<case>/<kernel>        Convert_Line_Ends_In_Text, the whole public call
//   Stream/<case>/<kernel>      the kernel alone into a reused 256 KiB buffer
//                               whose content is dropped (no result string)
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Line_End_Engine.h"
#include "Reference_Transform.h"
#include "Source_Text.h"
#include "modConvert_Line_Ends.h"

namespace {

constexpr std::size_t kText_Size = std::size_t{8} << 20;

const std::string& Crlf_Text() {
    static const std::string text = [] {
        std::string t = bench_text::Make_Source_Text(kText_Size, "\r\n");
        t.resize(kText_Size);  // exactly 8 MiB; the last line may lose its end
        return t;
    }();
    return text;
}

const std::string& Lf_Text() {
    static const std::string text = [] {
        std::string t = bench_text::Make_Source_Text(kText_Size, "\n");
        t.resize(kText_Size);
        return t;
    }();
    return text;
}

struct Case {
    const char* name;
    const std::string& (*input)();
    const char* line_end;
    bool remove_duplicates;
    bool one_at_end;
};

// The right result for a case, from the literal reference, made once.
const std::string& Expected(const Case& c) {
    static std::map<std::string, std::string> cache;
    auto it = cache.find(c.name);
    if (it == cache.end())
        it = cache.emplace(c.name, reference::Convert(c.input(), c.line_end, c.remove_duplicates, c.one_at_end))
                 .first;
    return it->second;
}

const Case kCases[] = {
    {"crlf_to_lf", Crlf_Text, "\n", false, false},
    {"lf_to_crlf", Lf_Text, "\r\n", false, false},
    {"crlf_to_lf_dup_end", Crlf_Text, "\n", true, true},
    {"crlf_to_crlf", Crlf_Text, "\r\n", false, false},
    {"crlf_to_cr", Crlf_Text, "\r", false, false},
};

void Memcpy(benchmark::State& state) {
    const std::string& in = Crlf_Text();
    std::vector<char> out(in.size());
    std::memset(out.data(), 1, out.size());  // fault the pages in before timing
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void Copy_To_New_String(benchmark::State& state) {
    const std::string& in = Crlf_Text();
    for (auto _ : state) {
        std::string copy(in);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void Text(benchmark::State& state, const Case& c, const char* kernel) {
    if (!quillet::Select_Kernel(kernel)) {
        state.SkipWithError("kernel not available");
        return;
    }
    const std::string& in = c.input();
    // A fast wrong answer is worth nothing: check the result before timing it.
    if (modConvert_Line_Ends::Convert_Line_Ends_In_Text(in, c.line_end, c.remove_duplicates, c.one_at_end) !=
        Expected(c)) {
        state.SkipWithError("result differs from the reference");
        return;
    }
    for (auto _ : state) {
        std::string out =
            modConvert_Line_Ends::Convert_Line_Ends_In_Text(in, c.line_end, c.remove_duplicates, c.one_at_end);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

class Discard_Sink final : public quillet::Byte_Sink {
public:
    std::size_t total = 0;
    bool Put(const char*, std::size_t size) override {
        total += size;
        return true;
    }
};

void Stream(benchmark::State& state, const Case& c, const char* kernel_name) {
    const quillet::Kernel* kernel = nullptr;
    for (std::size_t i = 0; i < quillet::Kernel_Count(); ++i)
        if (std::strcmp(quillet::Kernel_At(i).name, kernel_name) == 0) kernel = &quillet::Kernel_At(i);
    if (kernel == nullptr || !kernel->supported()) {
        state.SkipWithError("kernel not available");
        return;
    }
    const std::string& in = c.input();
    constexpr std::size_t kRoom = std::size_t{256} << 10;
    std::vector<char> buffer(kRoom + quillet::Out_Buffer::kSlack, 1);
    Discard_Sink sink;
    std::size_t produced = 0;
    for (auto _ : state) {
        sink.total = 0;
        quillet::Convert_State st;
        st.target = c.line_end;
        st.target_len = std::strlen(c.line_end);
        st.one_at_end = c.one_at_end;
        if (c.remove_duplicates) {
            quillet::Scan_State scan;
            kernel->scan(scan, in.data(), in.size());
            const std::uint64_t n = quillet::Finish_Scan(scan);
            st.divisor = n > 1 ? n : 0;
        }
        quillet::Out_Buffer out{buffer.data(), buffer.data(), buffer.data() + kRoom, &sink};
        kernel->convert(st, in.data(), in.size(), out);
        quillet::Finish_Convert(st, out);
        out.Flush();
        produced = sink.total;
        benchmark::ClobberMemory();
    }
    if (produced != Expected(c).size()) state.SkipWithError("output size differs from the reference");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

const int kRegistered = [] {
    benchmark::RegisterBenchmark("Memcpy", Memcpy)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Copy_To_New_String", Copy_To_New_String)
        ->Unit(benchmark::kMicrosecond);
    for (const Case& c : kCases) {
        for (std::size_t i = 0; i < quillet::Kernel_Count(); ++i) {
            const quillet::Kernel& k = quillet::Kernel_At(i);
            if (!k.supported()) continue;
            benchmark::RegisterBenchmark((std::string("Text/") + c.name + "/" + k.name).c_str(), Text, c, k.name)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (const Case& c : kCases) {
        for (std::size_t i = 0; i < quillet::Kernel_Count(); ++i) {
            const quillet::Kernel& k = quillet::Kernel_At(i);
            if (!k.supported()) continue;
            benchmark::RegisterBenchmark((std::string("Stream/") + c.name + "/" + k.name).c_str(), Stream, c,
                                         k.name)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();
