// The whole-file routines on real files: what is converted, what is refused,
// and that a failure at any point leaves the user's file exactly as it was.
#include <grp.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "File_Test_Support.h"
#include "modConvert_Line_Ends.h"
#include "modFile_Exists.h"

using modConvert_Line_Ends::Convert_File_Line_Ends;
using modConvert_Line_Ends::Read_Whole_File;
using modConvert_Line_Ends::Write_Whole_File;
using modFile_Exists::Folder_Exists;
using test_files::Read_File;
using test_files::Run_In_Child;
using test_files::Stat;
using test_files::Temp_Dir;
using test_files::Write_File;

namespace {

bool Convert_To_Lf(const std::string& path) { return Convert_File_Line_Ends(path, path, "\n", false, false); }

std::string Lines(std::size_t count, const char* line) {
    std::string s;
    for (std::size_t i = 0; i < count; ++i) s += line;
    return s;
}

TEST(Files, ConvertsInPlaceAndHandlesTheOrdinaryCases) {
    Temp_Dir dir;
    // The example from the documentation: six bytes become four.
    const std::string a = dir / "a.txt";
    Write_File(a, "a\r\nb\r\n");
    EXPECT_TRUE(Convert_To_Lf(a));
    EXPECT_EQ(Read_File(a), "a\nb\n");

    // An empty file converts to an empty file and counts as converted.
    const std::string empty = dir / "empty";
    Write_File(empty, "");
    EXPECT_TRUE(Convert_File_Line_Ends(empty, empty, "\r\n", true, true));
    EXPECT_EQ(Stat(empty).st_size, 0);

    // A name that is not UTF-8, and bytes that are not text.
    const std::string odd = dir / "caf\xe9 \x81.txt";
    Write_File(odd, std::string("\0\xff\r\n\xfe\0", 6));
    EXPECT_TRUE(Convert_To_Lf(odd));
    EXPECT_EQ(Read_File(odd), std::string("\0\xff\n\xfe\0", 5));

    // Source and target may differ: the source is left alone.
    const std::string target = dir / "target";
    EXPECT_TRUE(Convert_File_Line_Ends(odd, target, "\r\n", false, true));
    EXPECT_EQ(Read_File(target), std::string("\0\xff\r\n\xfe\0\r\n", 8));
    EXPECT_EQ(Read_File(odd), std::string("\0\xff\n\xfe\0", 5));

    EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.txt", "empty", "caf\xe9 \x81.txt", "target"}));
}

TEST(Files, UnchangedContentIsStillRewritten) {
    Temp_Dir dir;
    const std::string f = dir / "same";
    Write_File(f, "x\ny\n");
    const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), past, 0), 0);
    EXPECT_TRUE(Convert_To_Lf(f));
    EXPECT_EQ(Read_File(f), "x\ny\n");
    EXPECT_GT(Stat(f).st_mtim.tv_sec, 1000000000);
}

TEST(Files, MissingPathsAndFolders) {
    Temp_Dir dir;
    const std::string missing = dir / "missing";
    EXPECT_FALSE(Folder_Exists(missing));
    EXPECT_FALSE(Convert_To_Lf(missing));
    std::string text = "left alone";
    EXPECT_FALSE(Read_Whole_File(missing, text));
    EXPECT_TRUE(dir.Names().empty()) << "a failed conversion must not create the file";

    EXPECT_TRUE(Folder_Exists(dir.Path()));
    EXPECT_TRUE(Folder_Exists(dir.Path() + "/"));
    EXPECT_FALSE(Folder_Exists(""));
    const std::string file = dir / "file";
    Write_File(file, "x");
    EXPECT_FALSE(Folder_Exists(file));
    ASSERT_EQ(::symlink(dir.Path().c_str(), (dir / "link-to-folder").c_str()), 0);
    EXPECT_TRUE(Folder_Exists(dir / "link-to-folder"));
    // A folder handed to the file routines is refused, not emptied.
    EXPECT_FALSE(Convert_To_Lf(dir.Path()));
    EXPECT_FALSE(Read_Whole_File(dir.Path(), text));
    EXPECT_FALSE(Write_Whole_File(dir.Path(), "x"));
    EXPECT_TRUE(Folder_Exists(dir.Path()));
}

TEST(Files, ReadAndWriteWholeFiles) {
    Temp_Dir dir;
    const std::string f = dir / "f";
    const std::string content("\0a\r\nb\xff", 6);
    Write_File(f, content);
    std::string text;
    ASSERT_TRUE(Read_Whole_File(f, text));
    EXPECT_EQ(text, content);

    // Writing replaces the content whole, and creates a missing file.
    EXPECT_TRUE(Write_Whole_File(f, "new"));
    EXPECT_EQ(Read_File(f), "new");
    EXPECT_TRUE(Write_Whole_File(f, ""));
    EXPECT_EQ(Read_File(f), "");
    const std::string created = dir / "created";
    EXPECT_TRUE(Write_Whole_File(created, "hello"));
    EXPECT_EQ(Read_File(created), "hello");
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(Stat(created).st_mode & 0777, 0666 & ~mask);
    EXPECT_FALSE(Write_Whole_File(dir / "no-such-folder/x", "x"));
}

TEST(Files, ReadOnlyFileIsRefusedAndUntouchedEvenForRoot) {
    Temp_Dir dir;
    const std::string f = dir / "ro";
    Write_File(f, "a\r\nb\r\n", 0444);
    const struct stat before = Stat(f);
    std::string text;
    EXPECT_TRUE(Read_Whole_File(f, text)) << "reading a read-only file is fine";
    EXPECT_FALSE(Convert_To_Lf(f));
    EXPECT_FALSE(Write_Whole_File(f, "x"));
    EXPECT_EQ(Read_File(f), "a\r\nb\r\n");
    EXPECT_EQ(Stat(f).st_ino, before.st_ino);
    EXPECT_EQ(Stat(f).st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(Stat(f).st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST(Files, FifosSocketsAndDevicesFailWithoutBlocking) {
    Temp_Dir dir;
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    // In a child, with a deadline: a blocking open would hang it.
    EXPECT_EQ(Run_In_Child([&] { return Convert_To_Lf(fifo) ? 1 : 0; }, 10), 0);
    EXPECT_EQ(Run_In_Child([&] {
                  std::string t;
                  return Read_Whole_File(fifo, t) ? 1 : 0;
              }, 10),
              0);
    EXPECT_EQ(Run_In_Child([&] { return Write_Whole_File(fifo, "x") ? 1 : 0; }, 10), 0);
    EXPECT_FALSE(Folder_Exists(fifo));
    EXPECT_TRUE(S_ISFIFO(Stat(fifo).st_mode));
    EXPECT_EQ(Run_In_Child([] { return Convert_To_Lf("/dev/null") ? 1 : 0; }, 10), 0);
    EXPECT_EQ(Run_In_Child([] { return Convert_To_Lf("/dev/zero") ? 1 : 0; }, 10), 0);
}

TEST(Files, SymbolicLinkStaysALinkAndItsTargetIsConverted) {
    Temp_Dir dir;
    std::filesystem::create_directory(dir / "real");
    std::filesystem::create_directory(dir / "links");
    const std::string target = dir / "real/file.txt";
    Write_File(target, "1\r\n2\r\n", 0640);
    const std::string link = dir / "links/link.txt";
    ASSERT_EQ(::symlink("../real/file.txt", link.c_str()), 0);
    const std::string chain = dir / "links/chain";
    ASSERT_EQ(::symlink("link.txt", chain.c_str()), 0);

    EXPECT_TRUE(Convert_To_Lf(chain));
    struct stat lst;
    ASSERT_EQ(::lstat(link.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    ASSERT_EQ(::lstat(chain.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), "../real/file.txt");
    EXPECT_EQ(Read_File(target), "1\n2\n");
    EXPECT_EQ(Stat(target).st_mode & 07777, 0640u);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"real", "links"}));
    std::set<std::string> real;
    for (const auto& e : std::filesystem::directory_iterator(dir / "real")) real.insert(e.path().filename().string());
    EXPECT_EQ(real, std::set<std::string>{"file.txt"});

    // A link that leads nowhere is a failure, and stays as it was.
    const std::string dangling = dir / "links/dangling";
    ASSERT_EQ(::symlink("nothing-here", dangling.c_str()), 0);
    EXPECT_FALSE(Convert_To_Lf(dangling));
    EXPECT_FALSE(std::filesystem::exists(dir / "links/nothing-here"));
}

TEST(Files, HardLinkedFileStaysOneFile) {
    Temp_Dir dir;
    const std::string a = dir / "a", b = dir / "b";
    Write_File(a, "x\r\ny\r\n", 0600);
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    const ino_t inode = Stat(a).st_ino;
    EXPECT_TRUE(Convert_File_Line_Ends(a, a, "\r", false, true));
    EXPECT_EQ(Read_File(a), "x\ry\r");
    EXPECT_EQ(Read_File(b), "x\ry\r");
    EXPECT_EQ(Stat(a).st_ino, inode);
    EXPECT_EQ(Stat(b).st_nlink, 2u);
    // Growing in place too, and twice in a row from its own output.
    EXPECT_TRUE(Convert_File_Line_Ends(b, b, "\r\n", false, false));
    EXPECT_TRUE(Convert_File_Line_Ends(b, b, "\r\n", true, false));
    EXPECT_EQ(Read_File(a), "x\r\ny\r\n");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"a", "b"}));
}

TEST(Files, ModeOwnerGroupAndAttributesAreKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "skipped: giving a file another owner needs root";
    Temp_Dir dir;
    const std::string f = dir / "owned";
    Write_File(f, "a\nb\n", 0640);
    ASSERT_EQ(::chown(f.c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(f.c_str(), 02750), 0);  // chown clears set-id bits, so chmod after it
    const bool have_xattr = ::setxattr(f.c_str(), "user.quillet", "kept", 4, 0) == 0;
    EXPECT_TRUE(Convert_File_Line_Ends(f, f, "\r\n", false, false));
    EXPECT_EQ(Read_File(f), "a\r\nb\r\n");
    const struct stat st = Stat(f);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    EXPECT_EQ(st.st_mode & 07777, 02750u);
    if (have_xattr) {
        char value[16] = {};
        EXPECT_EQ(::getxattr(f.c_str(), "user.quillet", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
    }
}

// As an ordinary user, in cases where the new file could not keep the old
// one's identity or could not be made at all: the file is rewritten in place.
TEST(Files, OrdinaryUserFallsBackToRewritingInPlace) {
    if (::geteuid() != 0) GTEST_SKIP() << "skipped: needs root to act as another user";
    Temp_Dir dir;
    ::chmod(dir.Path().c_str(), 0755);
    const uid_t user = 65534;
    const gid_t shared_group = 4321;
    // A file in a folder the user may not add to, but that the user may write.
    std::filesystem::create_directory(dir / "locked");
    const std::string mine = dir / "locked/mine";
    Write_File(mine, "1\r\n2\r\n", 0644);
    ASSERT_EQ(::chown(mine.c_str(), user, user), 0);
    ::chmod((dir / "locked").c_str(), 0755);
    // Somebody else's file the user may write through a shared group.
    std::filesystem::create_directory(dir / "open");
    ::chmod((dir / "open").c_str(), 0777);
    const std::string theirs = dir / "open/theirs";
    Write_File(theirs, "3\r\n4\r\n", 0664);
    ASSERT_EQ(::chown(theirs.c_str(), 0, shared_group), 0);

    const int rc = Run_In_Child([&] {
        if (::setgroups(1, &shared_group) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) return 10;
        int result = 0;
        if (!Convert_To_Lf(mine)) result |= 1;
        if (!Convert_To_Lf(theirs)) result |= 2;
        return result;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Read_File(mine), "1\n2\n");
    EXPECT_EQ(Read_File(theirs), "3\n4\n");
    EXPECT_EQ(Stat(theirs).st_uid, 0u);
    EXPECT_EQ(Stat(theirs).st_gid, shared_group);
    EXPECT_EQ(Stat(theirs).st_mode & 0777, 0664u);
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir / "open")) names.insert(e.path().filename().string());
    EXPECT_EQ(names, std::set<std::string>{"theirs"});
}

// A file-size limit reached while the new content is written: both the
// rename path and the in-place path must leave the file byte for byte.
TEST(Files, FileSizeLimitLeavesFileIdentical) {
    Temp_Dir dir;
    const std::string plain = dir / "plain", linked = dir / "linked";
    const std::string content = Lines(300000, "a\n");  // 600,000 bytes, 900,000 as CR LF
    Write_File(plain, content);
    Write_File(linked, content);
    ASSERT_EQ(::link(linked.c_str(), (dir / "linked2").c_str()), 0);
    const int rc = Run_In_Child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {700000, 700000};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
        int result = 0;
        if (Convert_File_Line_Ends(plain, plain, "\r\n", false, false)) result |= 1;
        if (Convert_File_Line_Ends(linked, linked, "\r\n", false, false)) result |= 2;
        if (!Convert_File_Line_Ends(plain, plain, "\r", false, false)) result |= 4;  // same size fits
        return result;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Read_File(plain), Lines(300000, "a\r"));
    EXPECT_TRUE(Read_File(linked) == content);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"plain", "linked", "linked2"}));
}

// A small file system of its own, to fill up: a tmpfs mounted on a private
// folder (needs root), unmounted again at the end.
class Small_Tmpfs {
public:
    explicit Small_Tmpfs(const std::string& size) {
        if (::geteuid() != 0)
            why_not_ = "skipped: mounting a small tmpfs needs root";
        else if (::mount("quillet-test", dir_.Path().c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            why_not_ = std::string("skipped: cannot mount a tmpfs here (") + std::strerror(errno) + ")";
    }
    ~Small_Tmpfs() {
        if (Mounted()) ::umount2(dir_.Path().c_str(), MNT_DETACH);
    }
    bool Mounted() const { return why_not_.empty(); }
    const std::string& Why_Not() const { return why_not_; }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    std::set<std::string> Names() const { return dir_.Names(); }

private:
    Temp_Dir dir_;
    std::string why_not_;
};

// A disk that fills up while the new content is written, on a small tmpfs.
TEST(Files, DiskFullLeavesFileIdentical) {
    Small_Tmpfs mount_point("2m");
    if (!mount_point.Mounted()) GTEST_SKIP() << mount_point.Why_Not();

    const std::string plain = mount_point / "plain", linked = mount_point / "linked";
    const std::string content = Lines(200000, "a\n");  // 400,000 bytes, 600,000 as CR LF
    Write_File(plain, content);
    Write_File(linked, content);
    ASSERT_EQ(::link(linked.c_str(), (mount_point / "linked2").c_str()), 0);
    // Fill the disk but for about 100 KB: less than either way of saving needs.
    const std::string filler = mount_point / "filler";
    {
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0644);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size())) {
        }
        ::close(fd);
        ::truncate(filler.c_str(), Stat(filler).st_size - 100000);
    }
    EXPECT_FALSE(Convert_File_Line_Ends(plain, plain, "\r\n", false, false));
    EXPECT_FALSE(Convert_File_Line_Ends(linked, linked, "\r\n", false, false));
    EXPECT_FALSE(Write_Whole_File(plain, Lines(200000, "b\r\n")));
    EXPECT_TRUE(Read_File(plain) == content);
    EXPECT_TRUE(Read_File(linked) == content);
    EXPECT_EQ(mount_point.Names(), (std::set<std::string>{"plain", "linked", "linked2", "filler"}));
    // With room again, the same conversion goes through.
    ::unlink(filler.c_str());
    EXPECT_TRUE(Convert_File_Line_Ends(linked, linked, "\r\n", false, false));
    EXPECT_TRUE(Read_File(mount_point / "linked2") == Lines(200000, "a\r\n"));
}

// The same with a file large enough to be written around the page cache.
TEST(Files, DiskFullWithLargeFileLeavesFileIdentical) {
    Small_Tmpfs mount_point("20m");
    if (!mount_point.Mounted()) GTEST_SKIP() << mount_point.Why_Not();
    const std::string f = mount_point / "large";
    const std::string content = Lines(4'500'000, "a\n");  // 9 MB, 13.5 MB as CR LF: 11 MB are free
    Write_File(f, content);
    EXPECT_FALSE(Convert_File_Line_Ends(f, f, "\r\n", false, false));
    EXPECT_TRUE(Read_File(f) == content);
    EXPECT_EQ(mount_point.Names(), std::set<std::string>{"large"});
    // Shrinking fits, and goes through whole.
    EXPECT_TRUE(Convert_File_Line_Ends(f, f, "\n", false, true));
    EXPECT_TRUE(Read_File(f) == content);
    EXPECT_TRUE(Convert_File_Line_Ends(f, f, "\r", false, false));
    EXPECT_TRUE(Read_File(f) == Lines(4'500'000, "a\r"));
}

// The program killed while it writes: at every instant the path holds the
// whole old or the whole new content, and nothing stray is left behind.
TEST(Files, KilledMidConversionLeavesOldOrNewWhole) {
    Temp_Dir dir;
    const std::string f = dir / "big";
    const std::string old_content = Lines(4'000'000, "line of text\r\n");  // 56 MB
    const std::string new_content = Lines(4'000'000, "line of text\n");
    Write_File(f, old_content);
    for (int delay_ms : {5, 40, 120}) {
        std::atomic<bool> stop{false};
        std::atomic<int> bad{0};
        std::thread watcher([&] {
            while (!stop) {
                const std::string now = Read_File(f);
                if (now != old_content && now != new_content) ++bad;
            }
        });
        const pid_t pid = ::fork();
        if (pid == 0) {
            const bool ok = Convert_File_Line_Ends(f, f, "\n", false, false);
            ::_exit(ok ? 0 : 1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        stop = true;
        watcher.join();
        EXPECT_EQ(bad.load(), 0) << "a reader saw a partial file";
        const std::string after = Read_File(f);
        EXPECT_TRUE(after == old_content || after == new_content);
        EXPECT_EQ(dir.Names(), std::set<std::string>{"big"});
        Write_File(f, old_content);
    }
}

TEST(Files, FileLargerThanTwoGibibytesConvertsWhole) {
    Temp_Dir dir;
    const std::string f = dir / "large";
    const std::uint64_t size = (std::uint64_t{1} << 31) + 4096;
    {
        // Mostly a hole of zero bytes, with line ends at both ends and across the 2 GiB mark.
        const int fd = ::open(f.c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "a\r\nb", 4, 0), 4);
        ASSERT_EQ(::pwrite(fd, "\r\n\r\n", 4, (std::int64_t{1} << 31) - 2), 4);
        ASSERT_EQ(::pwrite(fd, "z\r\n", 3, static_cast<off_t>(size - 3)), 3);
        ::close(fd);
    }
    ASSERT_TRUE(Convert_To_Lf(f));
    EXPECT_EQ(static_cast<std::uint64_t>(Stat(f).st_size), size - 4);
    const int fd = ::open(f.c_str(), O_RDONLY);
    char head[4] = {}, mid[3] = {}, tail[3] = {};
    EXPECT_EQ(::pread(fd, head, 4, 0), 4);
    EXPECT_EQ(::pread(fd, mid, 3, (std::int64_t{1} << 31) - 3), 3);  // one byte shorter: "a\r\nb" lost its CR
    EXPECT_EQ(::pread(fd, tail, 3, static_cast<off_t>(size - 4 - 3)), 3);
    ::close(fd);
    EXPECT_EQ(std::string(head, 4), std::string("a\nb\0", 4));
    EXPECT_EQ(std::string(mid, 3), std::string("\n\n\0", 3));
    EXPECT_EQ(std::string(tail, 3), std::string("\0z\n", 3));
}

}  // namespace
