// The drop batch on Windows, fed from a real shell file list (HDROP) through
// a surface that records every call.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "Dropped_Files.h"
#include "Handle_Drop.h"
#include "Recording_Surface.h"
#include "Win_Test_Support.h"

using win_test::Read_File;
using win_test::Temp_Dir;
using win_test::U8;
using win_test::Write_File;

namespace {

using test_batch::kFolder_Message;
using test_batch::Recording_Surface;
using test_batch::Summary;

// A file list as the shell hands it over: DROPFILES, then the names, each
// ending in a zero, then one more zero (two for an empty list).
HDROP Make_Drop(const std::vector<std::wstring>& paths) {
    std::size_t chars = 2;
    for (const std::wstring& p : paths) chars += p.size() + 1;
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->pt = POINT{10, 20};
    drop->fWide = TRUE;
    auto* out = reinterpret_cast<wchar_t*>(drop + 1);
    for (const std::wstring& p : paths) {
        std::copy(p.begin(), p.end(), out);
        out += p.size() + 1;
    }
    ::GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

Drop_Data From_Shell(const std::vector<std::wstring>& paths) {
    HDROP drop = Make_Drop(paths);
    Drop_Data data{true, Dropped_Files(drop)};
    ::GlobalFree(drop);
    return data;
}

TEST(Win32Batch, ShellListGivesUtf8PathsInOrder) {
    const std::vector<std::wstring> paths = {L"C:\\b.txt", L"C:\\a.txt", L"D:\\\u0444\u0430\u0439\u043b \U0001F600.txt",
                                             L"\\\\server\\share\\\u6587.txt"};
    const Drop_Data data = From_Shell(paths);
    ASSERT_EQ(data.Files.size(), paths.size());
    EXPECT_EQ(data.Files[0], "C:\\b.txt");
    EXPECT_EQ(data.Files[1], "C:\\a.txt");
    EXPECT_EQ(data.Files[2], "D:\\\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB \xF0\x9F\x98\x80.txt");
    EXPECT_EQ(data.Files[3], "\\\\server\\share\\\xE6\x96\x87.txt");
    // An empty list still shows and hides the label, and reports nothing.
    Recording_Surface s;
    Handle_Drop(From_Shell({}), s);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"wait shown", "read options", "wait hidden"}));
}

TEST(Win32Batch, FoldersFilesReadOnlyAndBusyFiles) {
    Temp_Dir dir;
    ::CreateDirectoryW((dir / L"d1").c_str(), nullptr);
    ::CreateDirectoryW((dir / L"\u0434\u0432\u0430").c_str(), nullptr);
    Write_File(dir / L"d1\\inside", "x\r\n");
    Write_File(dir / L"f1", "1\n");
    Write_File(dir / L"\u6587\u4ef6", "2\n");
    Write_File(dir / L"ro", "3\n");
    Write_File(dir / L"busy", "4\n");
    ::SetFileAttributesW((dir / L"ro").c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE writer = ::CreateFileW((dir / L"busy").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    Recording_Surface s;
    Handle_Drop(From_Shell({dir / L"d1", dir / L"f1", dir / L"ro", dir / L"\u0434\u0432\u0430", dir / L"\u6587\u4ef6",
                            dir / L"busy", dir / L"gone"}),
                s);
    ::CloseHandle(writer);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"wait shown", "read options", kFolder_Message, Summary(2, 3),
                                                 "wait hidden"}));
    EXPECT_EQ(Read_File(dir / L"f1"), "1\r\n");
    EXPECT_EQ(Read_File(dir / L"\u6587\u4ef6"), "2\r\n");
    EXPECT_EQ(Read_File(dir / L"ro"), "3\n");
    EXPECT_EQ(Read_File(dir / L"busy"), "4\n");
    EXPECT_EQ(Read_File(dir / L"d1\\inside"), "x\r\n") << "folders are never descended into";
}

}  // namespace
