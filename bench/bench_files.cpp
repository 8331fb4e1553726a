// Runs one file workload per process, so a script can time it next to other
// tools on the same files.
//
//   quillet_bench_files gen FILE SIZE [--lf] [--seed N]
//       writes a source-like text of at least SIZE bytes (K, M, G suffixes),
//       CR LF line ends unless --lf
//   quillet_bench_files gen-many DIR COUNT SIZE
//       writes COUNT source-like CR LF files of about SIZE bytes each into DIR
//   quillet_bench_files convert FILE [--to crlf|lf|cr] [--dup] [--end]
//       converts FILE in place with Convert_File_Line_Ends and nothing else
//   quillet_bench_files drop DIR [--to crlf|lf|cr] [--dup] [--end]
//       drops every regular file in DIR (sorted by name) on Handle_Drop
//   quillet_bench_files measure [--files DIR] -- COMMAND ARGS...
//       runs COMMAND as a child and prints its wall time, CPU time and peak
//       resident memory; with --files, the paths of the files in DIR are
//       appended, in as many runs of COMMAND as the argument limit needs
//
// convert, drop and measure print one line of key=value pairs; the exit status
// is 0 on success.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Handle_Drop.h"
#include "Source_Text.h"
#include "modConvert_Line_Ends.h"

namespace {

[[noreturn]] void Usage() {
    std::fputs(
        "usage: quillet_bench_files gen FILE SIZE [--lf] [--seed N]\n"
        "       quillet_bench_files gen-many DIR COUNT SIZE\n"
        "       quillet_bench_files convert FILE [--to crlf|lf|cr] [--dup] [--end]\n"
        "       quillet_bench_files drop DIR [--to crlf|lf|cr] [--dup] [--end]\n"
        "       quillet_bench_files measure [--files DIR] -- COMMAND ARGS...\n",
        stderr);
    std::exit(2);
}

std::uint64_t Parse_Size(const std::string& s) {
    char* end = nullptr;
    std::uint64_t n = std::strtoull(s.c_str(), &end, 10);
    if (end == s.c_str()) Usage();
    switch (*end) {
        case 'K': case 'k': n <<= 10; break;
        case 'M': case 'm': n <<= 20; break;
        case 'G': case 'g': n <<= 30; break;
        case '\0': break;
        default: Usage();
    }
    return n;
}

// Peak resident memory of this process so far, in KiB, from the kernel's own count.
long Vm_Hwm_Kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double Seconds_Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Options {
    Conversion_Options conversion;
};

Options Parse_Options(int argc, char** argv, int first) {
    Options o;
    const char* line_end = "\n";
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--to" && i + 1 < argc) {
            const std::string t = argv[++i];
            if (t == "crlf") line_end = "\r\n";
            else if (t == "lf") line_end = "\n";
            else if (t == "cr") line_end = "\r";
            else Usage();
        } else if (a == "--dup") {
            o.conversion.Remove_Duplicates = true;
        } else if (a == "--end") {
            o.conversion.One_Line_End_At_End = true;
        } else {
            Usage();
        }
    }
    o.conversion.Line_End = std::string(line_end);
    return o;
}

bool Write_All(std::FILE* f, const std::string& s) { return std::fwrite(s.data(), 1, s.size(), f) == s.size(); }

int Gen(int argc, char** argv) {
    if (argc < 4) Usage();
    const std::string path = argv[2];
    const std::uint64_t size = Parse_Size(argv[3]);
    std::string_view line_end = "\r\n";
    std::uint64_t seed = 0x5eed'c0de'2024ULL;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lf") == 0) line_end = "\n";
        else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 0);
        else Usage();
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::perror(path.c_str());
        return 1;
    }
    bench_text::Source_Generator gen(seed);
    std::string block;
    std::uint64_t written = 0;
    while (written < size) {
        block.clear();
        const std::uint64_t want = std::min<std::uint64_t>(size - written, std::uint64_t{4} << 20);
        gen.Fill(block, static_cast<std::size_t>(want), line_end);
        if (!Write_All(f, block)) {
            std::perror(path.c_str());
            std::fclose(f);
            return 1;
        }
        written += block.size();
    }
    return std::fclose(f) == 0 ? 0 : 1;
}

int Gen_Many(int argc, char** argv) {
    if (argc != 5) Usage();
    const std::string dir = argv[2];
    const long count = std::strtol(argv[3], nullptr, 10);
    const std::uint64_t size = Parse_Size(argv[4]);
    std::filesystem::create_directories(dir);
    bench_text::Source_Generator gen;
    std::string text;
    for (long i = 0; i < count; ++i) {
        text.clear();
        gen.Fill(text, static_cast<std::size_t>(size), "\r\n");
        char name[32];
        std::snprintf(name, sizeof name, "/f%05ld.txt", i);
        std::FILE* f = std::fopen((dir + name).c_str(), "wb");
        if (f == nullptr || !Write_All(f, text) || std::fclose(f) != 0) {
            std::perror((dir + name).c_str());
            return 1;
        }
    }
    return 0;
}

int Convert(int argc, char** argv) {
    if (argc < 3) Usage();
    const std::string path = argv[2];
    const Options o = Parse_Options(argc, argv, 3);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = modConvert_Line_Ends::Convert_File_Line_Ends(path, path, o.conversion.Line_End,
                                                                 o.conversion.Remove_Duplicates,
                                                                 o.conversion.One_Line_End_At_End);
    std::printf("convert_s=%.6f vm_hwm_kib=%ld ok=%d\n", Seconds_Since(start), Vm_Hwm_Kib(), ok ? 1 : 0);
    return ok ? 0 : 1;
}

// A window that is no window: it keeps the options and the last message.
class Quiet_Surface final : public Window_Surface {
public:
    explicit Quiet_Surface(Conversion_Options options) : options_(std::move(options)) {}
    void Set_Wait_Visible(bool) override {}
    void Read_Options() override {}
    Conversion_Options Options() const override { return options_; }
    void Show_Message(const std::string& prompt, const std::string& title) override {
        last_prompt = prompt;
        last_title = title;
    }
    std::string last_prompt, last_title;

private:
    Conversion_Options options_;
};

std::vector<std::string> Files_In(const std::string& dir) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file()) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

int Drop(int argc, char** argv) {
    if (argc < 3) Usage();
    const Options o = Parse_Options(argc, argv, 3);
    Drop_Data data;
    data.Has_File_List = true;
    data.Files = Files_In(argv[2]);
    Quiet_Surface surface(o.conversion);
    const auto start = std::chrono::steady_clock::now();
    Handle_Drop(data, surface);
    const double seconds = Seconds_Since(start);
    const std::string want =
        "Successfully converted " + std::to_string(data.Files.size()) + " files, there were 0 errors.";
    const bool ok = surface.last_prompt == want;
    std::printf("drop_s=%.6f files=%zu vm_hwm_kib=%ld ok=%d\n", seconds, data.Files.size(), Vm_Hwm_Kib(),
                ok ? 1 : 0);
    if (!ok) std::fprintf(stderr, "unexpected summary: %s\n", surface.last_prompt.c_str());
    return ok ? 0 : 1;
}

struct Run_Result {
    double wall_s = 0, user_s = 0, sys_s = 0;
    long maxrss_kib = 0;
    int status = 0;
};

bool Run_Child(const std::vector<std::string>& args, Run_Result& total) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::execvp(argv[0], argv.data());
        std::perror(argv[0]);
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    if (::wait4(pid, &status, 0, &ru) != pid) return false;
    total.wall_s += Seconds_Since(start);
    total.user_s += static_cast<double>(ru.ru_utime.tv_sec) + ru.ru_utime.tv_usec / 1e6;
    total.sys_s += static_cast<double>(ru.ru_stime.tv_sec) + ru.ru_stime.tv_usec / 1e6;
    total.maxrss_kib = std::max(total.maxrss_kib, ru.ru_maxrss);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code != 0) total.status = code;
    return true;
}

int Measure(int argc, char** argv) {
    std::string files_dir;
    int i = 2;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) files_dir = argv[++i];
        else Usage();
    }
    if (i + 1 >= argc) Usage();
    const std::vector<std::string> command(argv + i + 1, argv + argc);
    Run_Result result;
    int runs = 0;
    if (files_dir.empty()) {
        if (!Run_Child(command, result)) return 1;
        runs = 1;
    } else {
        // Stay well inside the kernel's limit on arguments and environment together.
        const std::size_t limit = static_cast<std::size_t>(::sysconf(_SC_ARG_MAX)) / 4;
        const std::vector<std::string> files = Files_In(files_dir);
        std::size_t next = 0;
        while (next < files.size()) {
            std::vector<std::string> args = command;
            std::size_t bytes = 0;
            for (const std::string& a : args) bytes += a.size() + 1 + sizeof(char*);
            while (next < files.size() && bytes + files[next].size() + 1 + sizeof(char*) < limit) {
                bytes += files[next].size() + 1 + sizeof(char*);
                args.push_back(files[next++]);
            }
            if (args.size() == command.size()) return 1;  // one path longer than the limit
            if (!Run_Child(args, result)) return 1;
            ++runs;
        }
    }
    std::printf("wall_s=%.6f user_s=%.6f sys_s=%.6f maxrss_kib=%ld runs=%d exit=%d\n", result.wall_s,
                result.user_s, result.sys_s, result.maxrss_kib, runs, result.status);
    return result.status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Usage();
    const std::string cmd = argv[1];
    if (cmd == "gen") return Gen(argc, argv);
    if (cmd == "gen-many") return Gen_Many(argc, argv);
    if (cmd == "convert") return Convert(argc, argv);
    if (cmd == "drop") return Drop(argc, argv);
    if (cmd == "measure") return Measure(argc, argv);
    Usage();
}
