// The streaming file path: the input goes to a real file, Convert_File_Line_Ends
// (or a File_Batch) rewrites it, and what is read back must equal the literal
// reference.
//
// Input: byte 0 options, byte 1 how the file is met (bit 0 it has a second hard
// link, so it is rewritten in place; bit 1 the result goes to another file and
// the source must stay as it was; bit 2 it is preceded by about 1 MiB of plain
// text, so a read-chunk boundary falls inside the fuzzed bytes, at an offset
// from byte 2; bit 3 it goes through a File_Batch, next to a second file with
// the same content, and with bit 4 it is named twice in that batch, so it is
// converted again from its first result), then the text.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "Fuzz_Support.h"
#include "Reference_Transform.h"
#include "modConvert_Line_Ends.h"

namespace {

// Files are read in chunks of this size on their way through the engine.
constexpr std::size_t kRead_Chunk = std::size_t{1} << 20;

// A private folder for one input, made fresh and removed when the input is done
// (left behind, with the files, when a mismatch stops the run).
class Work_Dir {
public:
    Work_Dir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillet-fuzz-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) std::abort();
        path_ = templ;
    }
    ~Work_Dir() {
        if (DIR* d = ::opendir(path_.c_str())) {
            while (dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..") ::unlink((path_ + "/" + name).c_str());
            }
            ::closedir(d);
        }
        ::rmdir(path_.c_str());
    }
    Work_Dir(const Work_Dir&) = delete;
    Work_Dir& operator=(const Work_Dir&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        ::closedir(d);
    }
    return names;
}

void Write(const std::string& path, const std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(content.data(), 1, content.size(), f) != content.size() || std::fclose(f) != 0)
        std::abort();
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const fuzz::Options o = fuzz::Options_From(data[0]);
    const bool hard_link = (data[1] & 1) != 0;
    const bool other_target = (data[1] & 2) != 0;
    const bool straddle = (data[1] & 4) != 0;
    const bool batch = (data[1] & 8) != 0;
    const bool twice = batch && (data[1] & 16) != 0;
    const std::string text(reinterpret_cast<const char*>(data + 3), size - 3);

    std::string content = text;
    std::string want;
    if (straddle) {
        // Plain bytes up to just before the chunk boundary. They hold no line
        // end, so they pass through and change nothing else: the result is
        // the padding followed by the result for one plain byte and the text.
        const std::size_t into = text.empty() ? 0 : data[2] % (text.size() + 1);
        const std::string pad(kRead_Chunk - into, 'x');
        content = pad + text;
        want = pad.substr(1) + reference::Convert("x" + text, o.line_end, o.remove_duplicates, o.one_at_end);
    } else {
        want = reference::Convert(text, o.line_end, o.remove_duplicates, o.one_at_end);
    }

    const Work_Dir dir;
    const std::string source = dir.Path() + "/in.txt";
    const std::string link = dir.Path() + "/in-link.txt";
    const std::string other = dir.Path() + "/out.txt";
    const std::string second = dir.Path() + "/second.txt";
    Write(source, content);
    if (hard_link && ::link(source.c_str(), link.c_str()) != 0) std::abort();

    if (batch) {
        Write(second, content);
        const std::set<std::string> before = Names(dir.Path());
        modConvert_Line_Ends::File_Batch files(o.line_end, o.remove_duplicates, o.one_at_end);
        files.Convert(source);
        files.Convert(second);
        if (twice) files.Convert(hard_link ? link : source);
        const std::vector<bool> results = files.Results();
        const std::string want_source =
            twice ? reference::Convert(want, o.line_end, o.remove_duplicates, o.one_at_end) : want;
        if (results != std::vector<bool>(twice ? 3 : 2, true))
            fuzz::Mismatch("file batch, results", "default", o, text, "(a conversion failed)", want);
        if (Read(source) != want_source)
            fuzz::Mismatch(twice ? "file batch, named twice" : "file batch", quillet::Active_Kernel().name, o,
                           text, Read(source), want_source);
        if (hard_link && Read(link) != want_source)
            fuzz::Mismatch("file batch, second hard link", "default", o, text, Read(link), want_source);
        if (Read(second) != want)
            fuzz::Mismatch("file batch, second file", quillet::Active_Kernel().name, o, text, Read(second), want);
        if (Names(dir.Path()) != before) fuzz::Mismatch("file batch, stray files", "default", o, text, "", "");
        return 0;
    }

    if (other_target) Write(other, "old content of the target\r\n");
    const std::string& target = other_target ? other : source;

    const std::set<std::string> before = Names(dir.Path());
    const bool ok = modConvert_Line_Ends::Convert_File_Line_Ends(source, target, o.line_end, o.remove_duplicates,
                                                                 o.one_at_end);
    const std::string got = Read(target);
    const char* what = hard_link ? "file conversion (hard-linked file)" : "file conversion";
    if (!ok) fuzz::Mismatch(what, "default", o, text, "(conversion failed)", want);
    if (got != want) fuzz::Mismatch(what, quillet::Active_Kernel().name, o, text, got, want);
    // The second name shows the same file: converted with it, or untouched with the source.
    const std::string& link_want = other_target ? content : want;
    if (hard_link && Read(link) != link_want)
        fuzz::Mismatch("file conversion, second hard link", "default", o, text, Read(link), link_want);
    if (other_target && Read(source) != content)
        fuzz::Mismatch("file conversion, source of another target", "default", o, text, Read(source), content);
    if (Names(dir.Path()) != before) fuzz::Mismatch("file conversion, stray files", "default", o, text, "", "");
    return 0;
}
