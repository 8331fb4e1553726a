// The drop batch through a surface that records every call.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "File_Test_Support.h"
#include "Handle_Drop.h"
#include "Recording_Surface.h"

using test_files::Read_File;
using test_files::Temp_Dir;
using test_files::Write_File;

namespace {

using test_batch::kFolder_Message;
using test_batch::Recording_Surface;
using test_batch::Summary;

Drop_Data Files(std::vector<std::string> paths) { return Drop_Data{true, std::move(paths)}; }

TEST(Batch, DropWithoutFileListDoesNothing) {
    Recording_Surface s;
    Handle_Drop(Drop_Data{false, {"/etc/hostname"}}, s);
    EXPECT_TRUE(s.calls.empty());
}

TEST(Batch, EmptyFileListShowsAndHidesTheLabelOnly) {
    Recording_Surface s;
    Handle_Drop(Files({}), s);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"wait shown", "read options", "wait hidden"}));
}

TEST(Batch, SingleFileConverts) {
    Temp_Dir dir;
    Write_File(dir / "one", "a\r\nb\r\n");
    Recording_Surface s;
    s.controls = {"\n", false, false};
    Handle_Drop(Files({dir / "one"}), s);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"wait shown", "read options", Summary(1, 0), "wait hidden"}));
    EXPECT_EQ(Read_File(dir / "one"), "a\nb\n");
}

TEST(Batch, FoldersAreRefusedOnceAndFilesCounted) {
    Temp_Dir dir;
    std::filesystem::create_directory(dir / "d1");
    std::filesystem::create_directory(dir / "d2");
    Write_File(dir / "d1/inside", "x\r\n");
    Write_File(dir / "f1", "1\n");
    Write_File(dir / "f2", "2\n");
    Write_File(dir / "ro", "3\n", 0444);
    Recording_Surface s;
    Handle_Drop(Files({dir / "d1", dir / "f1", dir / "ro", dir / "d2", dir / "f2"}), s);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"wait shown", "read options", kFolder_Message, Summary(2, 1),
                                                 "wait hidden"}));
    EXPECT_EQ(Read_File(dir / "f1"), "1\r\n");
    EXPECT_EQ(Read_File(dir / "f2"), "2\r\n");
    EXPECT_EQ(Read_File(dir / "ro"), "3\n");
    EXPECT_EQ(Read_File(dir / "d1/inside"), "x\r\n") << "folders are never descended into";
}

TEST(Batch, OnlyFoldersGiveNoSummary) {
    Temp_Dir dir;
    Recording_Surface s;
    Handle_Drop(Files({dir.Path(), dir.Path()}), s);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"wait shown", "read options", kFolder_Message, "wait hidden"}));
}

TEST(Batch, EveryFileFailing) {
    Temp_Dir dir;
    Write_File(dir / "ro", "x", 0444);
    ::mkfifo((dir / "fifo").c_str(), 0666);
    Recording_Surface s;
    Handle_Drop(Files({dir / "gone", "http://example.com/x.txt", dir / "ro", dir / "fifo"}), s);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"wait shown", "read options", Summary(0, 4), "wait hidden"}));
}

TEST(Batch, SameFileTwiceConvertsFromItsOwnOutput) {
    Temp_Dir dir;
    Write_File(dir / "twice", "a\n\n\n\nb\n\n\n\n");
    Recording_Surface s;
    s.controls = {"\n", true, false};
    Handle_Drop(Files({dir / "twice", dir / "twice"}), s);
    // Runs of four collapse to two, then to one.
    EXPECT_EQ(Read_File(dir / "twice"), "a\nb\n");
    EXPECT_EQ(s.calls[2], Summary(2, 0));
}

// The same file under other names (a symbolic link, a hard link) in one drop:
// each conversion starts from the previous one's output, as if one after the other.
TEST(Batch, SameFileUnderOtherNamesInOneDrop) {
    Temp_Dir dir;
    Write_File(dir / "f", "a\n\n\n\n\n\n\n\nb\n\n\n\n\n\n\n\n");  // runs of 8
    ASSERT_EQ(::symlink("f", (dir / "soft").c_str()), 0);
    Write_File(dir / "other", "x\r\n");
    Recording_Surface s;
    s.controls = {"\n", true, false};
    Handle_Drop(Files({dir / "f", dir / "other", dir / "soft", dir / "f"}), s);
    EXPECT_EQ(Read_File(dir / "f"), "a\nb\n");  // 8 -> 4 -> 2 -> 1
    EXPECT_EQ(s.calls[2], Summary(4, 0));
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"f", "soft", "other"}));

    Write_File(dir / "g", "a\n\n\n\nb\n\n\n\n");
    ASSERT_EQ(::link((dir / "g").c_str(), (dir / "hard").c_str()), 0);
    Handle_Drop(Files({dir / "g", dir / "hard"}), s);
    EXPECT_EQ(Read_File(dir / "hard"), "a\nb\n");
}

TEST(Batch, OptionsAreReadAtEachDropAndHoldForTheWholeBatch) {
    Temp_Dir dir;
    Write_File(dir / "f", "x\r\ny");
    Recording_Surface s;
    s.controls = {"\r", false, true};
    Handle_Drop(Files({dir / "f"}), s);
    EXPECT_EQ(Read_File(dir / "f"), "x\ry\r");
    s.controls = {"\r\n", false, false};
    s.calls.clear();
    Handle_Drop(Files({dir / "f"}), s);
    EXPECT_EQ(Read_File(dir / "f"), "x\r\ny\r\n");
    EXPECT_EQ(s.calls[1], "read options");
}

TEST(Batch, ManyFilesAreCountedExactly) {
    Temp_Dir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 1200; ++i) {
        paths.push_back(dir / ("f" + std::to_string(i)));
        if (i % 100 != 7) Write_File(paths.back(), "line\r\n");
    }
    Recording_Surface s;
    s.controls = {"\n", false, false};
    Handle_Drop(Files(paths), s);
    EXPECT_EQ(s.calls[2], Summary(1188, 12));
    EXPECT_EQ(Read_File(paths[0]), "line\n");
}

}  // namespace
