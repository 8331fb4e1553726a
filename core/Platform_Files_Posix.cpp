// The file seam on POSIX systems (Linux first).
//
// A file is replaced the way careful editors save: the new content goes to a
// fresh file in the same folder, is flushed to disk, and is then renamed over
// the old one, so the path always names a whole file. Where a rename would
// change the file's identity (several hard links, an owner or extended
// attributes we cannot give the new file, a folder we may not write in) the
// file is rewritten in place instead, after its original bytes have been
// copied aside and its new size reserved, so that any failure puts the old
// bytes back.
#include "Platform_Files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace quillet::platform {

// Gives the seam's own code access to an Input_File's handle.
class Replacement_Access {
public:
    static int Fd(const Input_File& f) { return static_cast<int>(f.handle_); }
    static bool Same_File(const Input_File& f, const struct stat& st) {
        return f.Is_Open() && f.device_ == static_cast<std::uint64_t>(st.st_dev) &&
               f.inode_ == static_cast<std::uint64_t>(st.st_ino);
    }
    // Makes `f` read from the already open descriptor `fd` (taking it over).
    static bool Adopt(Input_File& f, int fd) {
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return false;
        }
        f.Close();
        f.handle_ = fd;
        f.size_ = static_cast<std::uint64_t>(st.st_size);
        f.device_ = static_cast<std::uint64_t>(st.st_dev);
        f.inode_ = static_cast<std::uint64_t>(st.st_ino);
        return true;
    }
};

namespace {

// At most this much per read or write call: Linux moves at most about 2 GiB
// per call anyway, and a loop covers any size.
constexpr std::size_t kMax_Io = std::size_t{1} << 30;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Moves exactly `size` bytes with `call` (one read or write of at most
// kMax_Io bytes at an offset), through interruptions and short transfers.
// False on an error, or when nothing more moves (a read at the end of file).
template <class Byte, class Call>
bool Transfer_All(Byte* data, std::size_t size, std::uint64_t offset, Call call) {
    while (size != 0) {
        const ssize_t n = call(data, size < kMax_Io ? size : kMax_Io, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool Write_All(int fd, const char* data, std::size_t size) {
    return Transfer_All(data, size, 0,
                        [fd](const char* p, std::size_t n, off_t) { return ::write(fd, p, n); });
}

bool Pwrite_All(int fd, const char* data, std::size_t size, std::uint64_t offset) {
    return Transfer_All(data, size, offset,
                        [fd](const char* p, std::size_t n, off_t at) { return ::pwrite(fd, p, n, at); });
}

// A read that ends early (the file shrank under us) is a failure.
bool Pread_All(int fd, char* data, std::size_t size, std::uint64_t offset) {
    return Transfer_All(data, size, offset,
                        [fd](char* p, std::size_t n, off_t at) { return ::pread(fd, p, n, at); });
}

// Copies `size` bytes from `from` (offset 0) to `to` (offset 0).
bool Copy_Bytes(int from, int to, std::uint64_t size) {
    loff_t in_off = 0, out_off = 0;
    while (static_cast<std::uint64_t>(in_off) < size) {
        const std::uint64_t left = size - static_cast<std::uint64_t>(in_off);
        const ssize_t n = ::copy_file_range(from, &in_off, to, &out_off,
                                            left < kMax_Io ? left : kMax_Io, 0);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return false;
        break;  // not supported across these files: copy through a buffer
    }
    if (static_cast<std::uint64_t>(in_off) == size) return true;
    std::vector<char> buffer(std::size_t{1} << 20);
    std::uint64_t off = static_cast<std::uint64_t>(in_off);
    while (off < size) {
        const std::size_t n =
            size - off < buffer.size() ? static_cast<std::size_t>(size - off) : buffer.size();
        if (!Pread_All(from, buffer.data(), n, off) || !Pwrite_All(to, buffer.data(), n, off))
            return false;
        off += n;
    }
    return true;
}

std::string Folder_Of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A name for a temporary file that no one else picks.
std::string Temp_Name(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const unsigned long long mix =
        (static_cast<unsigned long long>(ts.tv_nsec) << 20) ^
        (static_cast<unsigned long long>(::getpid()) << 8) ^ counter.fetch_add(1);
    char name[64];
    std::snprintf(name, sizeof name, "/.quillet-%012llx.tmp", mix & 0xffffffffffffULL);
    return folder + name;
}

// A new file in `folder` for content that is not final yet. An unnamed one
// (O_TMPFILE) where the file system allows it: it vanishes by itself if we
// fail or are killed. Otherwise a hidden named one, which we remove on failure.
struct Temp_File {
    Fd fd;
    std::string folder;
    std::string name;  // empty while unnamed

    bool Create(const std::string& in_folder, mode_t mode, int access = O_WRONLY) {
        folder = in_folder;
        const int tfd = ::open(folder.c_str(), O_TMPFILE | access | O_CLOEXEC, mode);
        if (tfd >= 0) {
            fd.Reset(tfd);
            return true;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
        for (int attempt = 0; attempt < 64; ++attempt) {
            std::string candidate = Temp_Name(folder);
            const int nfd =
                ::open(candidate.c_str(), O_CREAT | O_EXCL | access | O_CLOEXEC | O_NOCTTY, mode);
            if (nfd >= 0) {
                fd.Reset(nfd);
                name = std::move(candidate);
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }

    // Gives the finished file the name `target`, replacing what is there in one step.
    bool Commit(const std::string& target) {
        if (name.empty()) {
            char proc_path[64];
            std::snprintf(proc_path, sizeof proc_path, "/proc/self/fd/%d", fd.Get());
            for (int attempt = 0; attempt < 64 && name.empty(); ++attempt) {
                std::string candidate = Temp_Name(folder);
                if (::linkat(AT_FDCWD, proc_path, AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
                    ::linkat(fd.Get(), "", AT_FDCWD, candidate.c_str(), AT_EMPTY_PATH) == 0) {
                    name = std::move(candidate);
                } else if (errno != EEXIST) {
                    return false;
                }
            }
            if (name.empty()) return false;
        }
        if (::rename(name.c_str(), target.c_str()) != 0) return false;
        name.clear();
        return true;
    }

    ~Temp_File() {
        if (!name.empty()) ::unlink(name.c_str());
    }
};

// Gives the new file the extended attributes of the old one (ACLs among them).
// False when one of them cannot be carried over.
bool Copy_Extended_Attributes(const std::string& from_path, int to_fd) {
    ssize_t size = ::listxattr(from_path.c_str(), nullptr, 0);
    if (size < 0) return errno == ENOTSUP;
    if (size == 0) return true;
    std::vector<char> names(static_cast<std::size_t>(size) + 1);
    size = ::listxattr(from_path.c_str(), names.data(), names.size());
    if (size < 0) return false;
    std::vector<char> value;
    for (ssize_t i = 0; i < size;) {
        const char* attr = names.data() + i;
        i += static_cast<ssize_t>(std::strlen(attr)) + 1;
        const ssize_t len = ::getxattr(from_path.c_str(), attr, nullptr, 0);
        if (len < 0) return false;
        value.resize(static_cast<std::size_t>(len) + 1);
        const ssize_t got = ::getxattr(from_path.c_str(), attr, value.data(), value.size());
        if (got < 0) return false;
        if (::fsetxattr(to_fd, attr, value.data(), static_cast<std::size_t>(got), 0) != 0) return false;
    }
    return true;
}

// Large new files are written around the page cache (O_DIRECT) from an
// aligned staging buffer: filling fresh cache pages costs far more than the
// disk write itself, and the data has to reach the disk before the rename
// anyway. Small files, and file systems that refuse O_DIRECT, are written
// through the cache.
class Temp_Output final : public Content_Output {
public:
    static constexpr std::uint64_t kDirect_From = std::uint64_t{8} << 20;

    Temp_Output(int fd, std::uint64_t expected_size) : fd_(fd) {
        if (expected_size >= kDirect_From) {
            const int flags = ::fcntl(fd_, F_GETFL);
            direct_ = flags != -1 && ::fcntl(fd_, F_SETFL, flags | O_DIRECT) == 0;
        }
    }

    bool Write(const char* data, std::size_t size) override {
        if (!direct_) return Write_All(fd_, data, size);
        char* stage = Stage();
        if (stage == nullptr) return Leave_Direct() && Write_All(fd_, data, size);
        while (size != 0) {
            std::size_t n = kStage - fill_;
            if (n > size) n = size;
            std::memcpy(stage + fill_, data, n);
            fill_ += n;
            data += n;
            size -= n;
            if (fill_ == kStage && !Drain()) return false;
        }
        return true;
    }

    // Writes what is still staged. The last partial block goes through the cache.
    bool Finish() {
        if (!direct_ || fill_ == 0) return true;
        return Drain();
    }

private:
    static constexpr std::size_t kStage = std::size_t{4} << 20;
    static constexpr std::size_t kAlign = 4096;

    static char* Stage() {
        struct Aligned {
            char* p = static_cast<char*>(std::aligned_alloc(kAlign, kStage));
            ~Aligned() { std::free(p); }
        };
        thread_local Aligned stage;
        return stage.p;
    }

    bool Leave_Direct() {
        direct_ = false;
        const int flags = ::fcntl(fd_, F_GETFL);
        return flags != -1 && ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) == 0;
    }

    // Writes the whole aligned part of the stage directly, the rest (only at
    // the very end) through the cache.
    bool Drain() {
        char* stage = Stage();
        const std::size_t aligned = fill_ & ~(kAlign - 1);
        std::size_t done = 0;
        while (done < aligned) {
            const ssize_t n = ::write(fd_, stage + done, aligned - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EINVAL) break;  // refused here after all: use the cache
            if (n <= 0 || static_cast<std::size_t>(n) % kAlign != 0) return false;
            done += static_cast<std::size_t>(n);
        }
        if (done < fill_) {
            if (!Leave_Direct() || !Write_All(fd_, stage + done, fill_ - done)) return false;
        }
        fill_ = 0;
        return true;
    }

    int fd_;
    bool direct_ = false;
    std::size_t fill_ = 0;
};

class Positioned_Output final : public Content_Output {
public:
    explicit Positioned_Output(int fd) : fd_(fd) {}
    bool Write(const char* data, std::size_t size) override {
        if (!Pwrite_All(fd_, data, size, offset_)) return false;
        offset_ += size;
        return true;
    }
    std::uint64_t Written() const { return offset_; }

private:
    int fd_;
    std::uint64_t offset_ = 0;
};

// A private, unnamed copy of the file open as `fd`, for putting its bytes back.
bool Make_Backup(int fd, std::uint64_t size, const std::string& folder, Input_File& backup) {
    std::vector<std::string> places{folder};
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') places.emplace_back(tmp);
    places.emplace_back("/tmp");
    places.emplace_back("/var/tmp");
    for (const std::string& place : places) {
        Temp_File temp;
        if (!temp.Create(place, 0600, O_RDWR)) continue;
        if (!temp.name.empty()) ::unlink(temp.name.c_str());  // nobody needs to see it
        temp.name.clear();
        if (!Copy_Bytes(fd, temp.fd.Get(), size)) continue;
        return Replacement_Access::Adopt(backup, temp.fd.Release());
    }
    return false;
}

// Rewrites the file at `path` in place: its inode, links, owner and
// attributes stay as they are. The original bytes are copied aside first and
// the new size reserved; any failure writes the original bytes back.
bool Rewrite_In_Place(const std::string& path, const struct stat& expected, Input_File* source,
                      Content_Producer& producer) {
    Fd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid()) return false;
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != expected.st_dev ||
        st.st_ino != expected.st_ino)
        return false;
    const std::uint64_t old_size = static_cast<std::uint64_t>(st.st_size);

    Input_File backup;
    if (!Make_Backup(fd.Get(), old_size, Folder_Of(path), backup)) return false;
    // Rewriting the file we read from: read the copy instead.
    Input_File* from = source != nullptr && Replacement_Access::Same_File(*source, st) ? &backup : source;

    Counting_Output counter;
    if (!producer.Produce(from, counter)) return false;
    const std::uint64_t new_size = counter.Total();

    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        new_size > static_cast<std::uint64_t>(limit.rlim_cur))
        return false;
    if (new_size > old_size &&
        ::fallocate(fd.Get(), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(new_size)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        return false;  // no room: nothing has been written yet

    Positioned_Output out(fd.Get());
    if (producer.Produce(from, out) && out.Written() == new_size &&
        ::ftruncate(fd.Get(), static_cast<off_t>(new_size)) == 0 && ::fdatasync(fd.Get()) == 0)
        return true;

    // Put the original bytes back.
    if (Copy_Bytes(Replacement_Access::Fd(backup), fd.Get(), old_size))
        ::ftruncate(fd.Get(), static_cast<off_t>(old_size));
    ::fdatasync(fd.Get());
    return false;
}

enum class Temp_Result { Ok, Failed, Use_In_Place };

// Writes the new content to a temporary file that carries the old file's
// identity, ready to be renamed over it.
Temp_Result Prepare_Temp(Temp_File& temp, const std::string& path, const struct stat* old,
                         Input_File* source, Content_Producer& producer) {
    const std::string folder = Folder_Of(path);
    if (!temp.Create(folder, old != nullptr ? 0600 : 0666)) {
        // A folder we may not add files to: the file itself may still be writable.
        return old != nullptr && (errno == EACCES || errno == EPERM) ? Temp_Result::Use_In_Place
                                                                     : Temp_Result::Failed;
    }
    if (old != nullptr) {
        struct stat now;
        if (::fstat(temp.fd.Get(), &now) != 0) return Temp_Result::Failed;
        if ((now.st_uid != old->st_uid || now.st_gid != old->st_gid) &&
            ::fchown(temp.fd.Get(), old->st_uid, old->st_gid) != 0)
            return Temp_Result::Use_In_Place;
        if (::fchmod(temp.fd.Get(), old->st_mode & 07777) != 0) return Temp_Result::Use_In_Place;
        if (!Copy_Extended_Attributes(path, temp.fd.Get())) return Temp_Result::Use_In_Place;
    }
    Temp_Output out(temp.fd.Get(), source != nullptr ? source->Size() : 0);
    if (!producer.Produce(source, out) || !out.Finish()) return Temp_Result::Failed;
    return Temp_Result::Ok;  // complete, but not yet flushed to disk
}

}  // namespace

bool Is_Folder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Input_File::Open(const std::string& path) {
    Close();
    struct stat st;
    // Only regular files: a FIFO would block the open, a device could react to it.
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    if (!Replacement_Access::Adopt(*this, fd)) return false;
    struct stat now;
    if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
        Close();
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

void Input_File::Close() {
    if (handle_ != kNone) ::close(static_cast<int>(handle_));
    handle_ = kNone;
    size_ = 0;
    device_ = inode_ = 0;
}

bool Input_File::Read_At(std::uint64_t offset, char* data, std::size_t size) {
    return Is_Open() && Pread_All(static_cast<int>(handle_), data, size, offset);
}

namespace {

// The file a replacement is for, after links, and whether it is allowed.
struct Target {
    std::string path;
    struct stat st {};
    bool exists = false;
};

bool Inspect_Target(const std::string& target_path, Target& target) {
    if (target_path.empty()) return false;
    target.path = target_path;
    if (::lstat(target.path.c_str(), &target.st) != 0) {
        target.exists = false;
        return errno == ENOENT;  // a missing file is created
    }
    target.exists = true;
    if (S_ISLNK(target.st.st_mode)) {
        // Convert the file the link points to, and leave the link a link.
        char* real = ::realpath(target.path.c_str(), nullptr);
        if (real == nullptr) return false;
        target.path = real;
        std::free(real);
        if (::stat(target.path.c_str(), &target.st) != 0) return false;
    }
    if (!S_ISREG(target.st.st_mode)) return false;
    // No write bit at all means read-only, also for root, who could write anyway.
    if ((target.st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    return ::faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) == 0;
}

enum class Outcome { Failed, Done, Ready_To_Commit };

// Everything up to the flush: either the file is already rewritten in place
// (Done), or `temp` holds its complete new content (Ready_To_Commit).
Outcome Prepare(const Target& target, Temp_File& temp, Input_File* source, Content_Producer& producer) {
    if (target.exists && target.st.st_nlink > 1)
        return Rewrite_In_Place(target.path, target.st, source, producer) ? Outcome::Done : Outcome::Failed;
    switch (Prepare_Temp(temp, target.path, target.exists ? &target.st : nullptr, source, producer)) {
        case Temp_Result::Ok:
            return Outcome::Ready_To_Commit;
        case Temp_Result::Use_In_Place:
            temp.fd.Reset();
            return Rewrite_In_Place(target.path, target.st, source, producer) ? Outcome::Done : Outcome::Failed;
        case Temp_Result::Failed:
            break;
    }
    return Outcome::Failed;
}

// Up to this many files wait for one shared flush.
constexpr std::size_t kMax_Waiting = 128;

}  // namespace

bool Replace_File_Content(const std::string& target_path, Input_File* source,
                          Content_Producer& producer) {
    Target target;
    if (!Inspect_Target(target_path, target)) return false;
    Temp_File temp;
    switch (Prepare(target, temp, source, producer)) {
        case Outcome::Done:
            return true;
        case Outcome::Ready_To_Commit:
            return ::fdatasync(temp.fd.Get()) == 0 && temp.Commit(target.path);
        case Outcome::Failed:
            break;
    }
    return false;
}

struct Replacement_Batch::Waiting {
    Temp_File temp;
    std::string path;
    dev_t old_device = 0;  // the file being replaced, when there is one
    ino_t old_inode = 0;
    Fd old_file;           // keeps it alive past the rename: see Flush
    std::size_t result = 0;
};

Replacement_Batch::Replacement_Batch() = default;

Replacement_Batch::~Replacement_Batch() { Flush(); }

bool Replacement_Batch::Is_Waiting(const std::string& path) const {
    if (waiting_.empty()) return false;
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    for (const auto& w : waiting_) {
        if (w->path == path) return true;
        if (exists && w->old_inode != 0 && w->old_inode == st.st_ino && w->old_device == st.st_dev) return true;
    }
    return false;
}

void Replacement_Batch::Replace(const std::string& target_path, Input_File* source, Content_Producer& producer) {
    const std::size_t slot = results_.size();
    results_.push_back(false);
    Target target;
    if (!Inspect_Target(target_path, target)) return;
    std::unique_ptr<Waiting> w(new (std::nothrow) Waiting);
    if (w == nullptr) return;
    switch (Prepare(target, w->temp, source, producer)) {
        case Outcome::Done:
            results_[slot] = true;
            return;
        case Outcome::Failed:
            return;
        case Outcome::Ready_To_Commit:
            break;
    }
    if (target.exists) {
        w->old_device = target.st.st_dev;
        w->old_inode = target.st.st_ino;
        w->old_file.Reset(::open(target.path.c_str(), O_PATH | O_CLOEXEC));
    }
    w->path = target.path;
    w->result = slot;
    waiting_.push_back(std::move(w));
    if (waiting_.size() >= kMax_Waiting) Flush();
}

namespace {

// Runs `work` on this thread and on up to 15 more at once, one for each of
// `items` beyond the first.
template <class Work>
void Run_Side_By_Side(Work& work, std::size_t items) {
    std::vector<std::thread> helpers;
    const std::size_t wanted = items > 16 ? 15 : items > 0 ? items - 1 : 0;
    try {
        while (helpers.size() < wanted) helpers.emplace_back(work);
    } catch (const std::exception&) {
        // No more threads to be had: the ones there (and this one) do it all.
    }
    work();
    for (std::thread& t : helpers) t.join();
}

}  // namespace

void Replacement_Batch::Flush() {
    if (waiting_.empty()) return;
    // Flushing the files one after the other costs a journal commit each.
    // Flushed side by side from a few threads they share commits, and each
    // still waits only for its own data (a flush of the whole file system
    // would also wait for whatever other programs have not written yet).
    std::vector<char> flushed(waiting_.size(), 0);
    std::atomic<std::size_t> next{0};
    auto flush_some = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < waiting_.size();)
            flushed[i] = ::fdatasync(waiting_[i]->temp.fd.Get()) == 0;
    };
    // In order, so a name that comes twice ends with the later content.
    // The replaced files are still held open, so the renames do not have to
    // free their space (which can mean waiting for the disk to discard it);
    // the files are let go afterwards, side by side.
    auto release_some = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < waiting_.size();) waiting_[i]->old_file.Reset();
    };
    Run_Side_By_Side(flush_some, waiting_.size());
    for (std::size_t i = 0; i < waiting_.size(); ++i)
        results_[waiting_[i]->result] = flushed[i] && waiting_[i]->temp.Commit(waiting_[i]->path);
    next = 0;
    Run_Side_By_Side(release_some, waiting_.size());
    waiting_.clear();
}

}  // namespace quillet::platform
