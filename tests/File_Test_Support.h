#pragma once
// Real files in a private temporary folder, and small helpers around them.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace test_files {

class Temp_Dir {
public:
    explicit Temp_Dir(const std::string& base = "") {
        std::string root = base;
        if (root.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            root = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        }
        std::string templ = root + "/quillet-test-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) std::abort();
        path_ = templ;
    }
    Temp_Dir(const Temp_Dir&) = delete;
    Temp_Dir& operator=(const Temp_Dir&) = delete;
    ~Temp_Dir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // The names in the folder, to catch stray temporary files.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_)) names.insert(e.path().filename().string());
        return names;
    }

private:
    std::string path_;
};

inline void Write_File(const std::string& path, const std::string& content, mode_t mode = 0644) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0) std::abort();
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::fchmod(fd, mode);
    ::close(fd);
}

inline std::string Read_File(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline struct stat Stat(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
}

// Runs `body` in a child process and returns its exit code, or -1 when it did
// not finish within `seconds` (it is then killed): a call that blocks must not
// hang the test suite.
template <class Body>
int Run_In_Child(Body body, int seconds = 20) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(static_cast<unsigned>(seconds) + 5);
        ::_exit(body());
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace test_files
