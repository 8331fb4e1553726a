// Runs a fuzz target without libFuzzer: every file named on the command line,
// every file in every folder named there, and optionally a number of
// pseudo-random inputs, each passed once to LLVMFuzzerTestOneInput. A mismatch
// aborts, so this is an ordinary test.
//
//   replay [--random=N] [--seed=S] [--max-len=L] PATH...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Run(const std::string& bytes) {
    // An exact-size copy, as libFuzzer hands inputs over.
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(copy.empty() ? nullptr : copy.data(), copy.size());
}

// Inputs rich in what matters here: CR, LF, runs of them, plain spans.
std::string Random_Input(std::mt19937_64& rng, std::size_t max_len) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(rng());  // option and layout bytes
    const std::size_t len = rng() % (max_len + 1);
    while (s.size() < len) {
        switch (rng() % 6) {
            case 0: s.append(1 + rng() % 6, '\n'); break;
            case 1: for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) s += "\r\n"; break;
            case 2: s += "\r\r\n"; break;
            case 3: s.append(1 + rng() % 90, static_cast<char>('a' + rng() % 26)); break;
            case 4: s += '\r'; break;
            default: s += static_cast<char>(rng());
        }
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    long random_runs = 0;
    std::uint64_t seed = 1;
    std::size_t max_len = 300;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--random=", 9) == 0) random_runs = std::strtol(argv[i] + 9, nullptr, 10);
        else if (std::strncmp(argv[i], "--seed=", 7) == 0) seed = std::strtoull(argv[i] + 7, nullptr, 10);
        else if (std::strncmp(argv[i], "--max-len=", 10) == 0) max_len = std::strtoul(argv[i] + 10, nullptr, 10);
        else paths.emplace_back(argv[i]);
    }
    std::vector<std::string> files;
    for (const std::string& p : paths) {
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::directory_iterator(p))
                if (e.is_regular_file()) files.push_back(e.path().string());
        } else if (std::filesystem::is_regular_file(p)) {
            files.push_back(p);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", p.c_str());
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
        std::ifstream in(f, std::ios::binary);
        Run(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    }
    std::mt19937_64 rng(seed);
    for (long i = 0; i < random_runs; ++i) Run(Random_Input(rng, max_len));
    std::printf("replayed %zu files and %ld random inputs\n", files.size(), random_runs);
    return files.empty() && random_runs == 0 ? 1 : 0;  // a replay of nothing tests nothing
}
