// The whole-file routines on Windows: real files, the wide API, share modes,
// attributes and the safe replacement.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "Win_Test_Support.h"
#include "modConvert_Line_Ends.h"
#include "modFile_Exists.h"

using modConvert_Line_Ends::Convert_File_Line_Ends;
using modConvert_Line_Ends::Convert_Line_Ends_In_Text;
using modConvert_Line_Ends::Read_Whole_File;
using modConvert_Line_Ends::Write_Whole_File;
using modFile_Exists::Folder_Exists;
using win_test::Attributes;
using win_test::Read_File;
using win_test::Temp_Dir;
using win_test::U8;
using win_test::Write_File;

namespace {

bool Convert(const std::wstring& path, const std::string& line_end = "\n", bool remove = false, bool one = false) {
    return Convert_File_Line_Ends(U8(path), U8(path), line_end, remove, one);
}

std::set<std::wstring> Only(std::wstring name) { return {std::move(name)}; }

FILETIME Write_Time(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

FILETIME Creation_Time(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftCreationTime;
}

ULONGLONG Ticks(FILETIME t) { return (ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

TEST(Win32Files, ConvertsInPlaceWithoutLeavingTemporaryFiles) {
    Temp_Dir dir;
    const std::wstring f = dir / L"mixed.txt";
    Write_File(f, "a\r\nb\rc\n\r\n\r\nd");
    EXPECT_TRUE(Convert(f, "\n"));
    EXPECT_EQ(Read_File(f), "a\nb\nc\n\n\nd");
    EXPECT_TRUE(Convert(f, "\r\n", true, true));
    EXPECT_EQ(Read_File(f), "a\r\nb\r\nc\r\n\r\n\r\nd\r\n");  // the single line ends decide: nothing collapses
    EXPECT_EQ(dir.Names(), Only(L"mixed.txt"));
    // Bytes that are not line ends pass through untouched: no encoding applies.
    const std::string binary("\xEF\xBB\xBF\xFF\x00\x1A\r\n\x80", 9);
    Write_File(f, binary);
    EXPECT_TRUE(Convert(f, "\r"));
    EXPECT_EQ(Read_File(f), std::string("\xEF\xBB\xBF\xFF\x00\x1A\r\x80", 8));
}

TEST(Win32Files, EmptyFileConvertsToEmpty) {
    Temp_Dir dir;
    Write_File(dir / L"empty", "");
    EXPECT_TRUE(Convert(dir / L"empty", "\r\n", true, true));
    EXPECT_EQ(Read_File(dir / L"empty"), "");
    EXPECT_EQ(dir.Names(), Only(L"empty"));
}

TEST(Win32Files, MissingPathsFoldersAndDevicesAreRefused) {
    Temp_Dir dir;
    std::string text = "unchanged";
    EXPECT_FALSE(Folder_Exists(U8(dir / L"gone")));
    EXPECT_FALSE(Convert(dir / L"gone"));
    EXPECT_FALSE(Read_Whole_File(U8(dir / L"gone"), text));
    EXPECT_FALSE(Convert(dir / L"no-such-folder\\f"));
    EXPECT_TRUE(dir.Names().empty()) << "a failed conversion creates nothing";

    ::CreateDirectoryW((dir / L"sub").c_str(), nullptr);
    EXPECT_TRUE(Folder_Exists(U8(dir / L"sub")));
    EXPECT_TRUE(Folder_Exists(U8(dir / L"sub\\")));
    EXPECT_FALSE(Read_Whole_File(U8(dir / L"sub"), text));
    EXPECT_FALSE(Convert(dir / L"sub"));
    EXPECT_FALSE(Write_Whole_File(U8(dir / L"sub"), "x"));
    EXPECT_TRUE(Folder_Exists(U8(dir / L"sub")));

    EXPECT_FALSE(Folder_Exists(""));
    EXPECT_FALSE(Read_Whole_File("", text));
    EXPECT_FALSE(Write_Whole_File("", "x"));
    EXPECT_FALSE(Read_Whole_File("\xC3(", text)) << "not UTF-8";
    for (const char* device : {"NUL", "CON", "nul.txt", "COM1", "\\\\.\\NUL", "C:\\somewhere\\aux.log"})
        EXPECT_FALSE(Read_Whole_File(device, text)) << device;
    EXPECT_FALSE(Write_Whole_File(U8(dir / L"NUL"), "x"));
}

TEST(Win32Files, NamedPipeIsRefusedWithoutWaiting) {
    const std::wstring name = L"\\\\.\\pipe\\quillet-test-" + std::to_wstring(::GetCurrentProcessId());
    HANDLE server = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                       0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::string text;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Read_Whole_File(U8(name), text));
    EXPECT_FALSE(Convert(name));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ::CloseHandle(server);
}

TEST(Win32Files, NewFileIsCreatedPlainAndVisible) {
    Temp_Dir dir;
    const std::wstring f = dir / L"new.txt";
    EXPECT_TRUE(Write_Whole_File(U8(f), "fresh\r\n"));
    EXPECT_EQ(Read_File(f), "fresh\r\n");
    const DWORD attributes = Attributes(f);
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_READONLY), 0u);
    EXPECT_EQ(dir.Names(), Only(L"new.txt"));
    std::string text;
    EXPECT_TRUE(Read_Whole_File(U8(f), text));
    EXPECT_EQ(text, "fresh\r\n");
}

TEST(Win32Files, ReadOnlyAttributeFailsAndLeavesTheFileAlone) {
    Temp_Dir dir;
    const std::wstring f = dir / L"ro.txt";
    Write_File(f, "a\r\nb\r\n");
    ::SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_READONLY);
    const FILETIME before = Write_Time(f);
    EXPECT_FALSE(Convert(f));
    EXPECT_FALSE(Write_Whole_File(U8(f), "x"));
    EXPECT_EQ(Read_File(f), "a\r\nb\r\n");
    EXPECT_NE(Attributes(f) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(Ticks(Write_Time(f)), Ticks(before));
    EXPECT_EQ(dir.Names(), Only(L"ro.txt"));
}

TEST(Win32Files, FileHeldOpenByOthersFailsAndStaysUntouched) {
    Temp_Dir dir;
    const std::wstring f = dir / L"busy.txt";
    Write_File(f, "a\r\nb\r\n");
    // A writer that lets everyone else read and write: still no conversion.
    HANDLE writer = ::CreateFileW(f.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Convert(f));
    EXPECT_FALSE(Write_Whole_File(U8(f), "x"));
    ::CloseHandle(writer);
    EXPECT_EQ(Read_File(f), "a\r\nb\r\n");
    EXPECT_EQ(dir.Names(), Only(L"busy.txt"));

    // A reader that forbids deleting or renaming: the swap cannot happen.
    HANDLE reader = ::CreateFileW(f.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Convert(f));
    ::CloseHandle(reader);
    EXPECT_EQ(Read_File(f), "a\r\nb\r\n");
    EXPECT_EQ(dir.Names(), Only(L"busy.txt")) << "the temporary file is removed on failure";

    EXPECT_TRUE(Convert(f)) << "once the others let go it converts";
    EXPECT_EQ(Read_File(f), "a\nb\n");
}

TEST(Win32Files, NamesOutsideAnyCodePageWork) {
    Temp_Dir dir;
    const std::wstring folder = dir / L"\u041f\u0430\u043f\u043a\u0430";  // Cyrillic
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_TRUE(Folder_Exists(U8(folder)));
    const std::wstring names[] = {
        folder + L"\\\u0444\u0430\u0439\u043b.txt",       // Cyrillic
        folder + L"\\\u6587\u4ef6\u540d.txt",             // CJK
        folder + L"\\\u00e9t\u00e9 \U0001F600 \u03a9.txt",  // accents, an emoji (surrogate pair), Greek
    };
    for (const std::wstring& f : names) {
        Write_File(f, "x\ny\n");
        EXPECT_FALSE(Folder_Exists(U8(f)));
        EXPECT_TRUE(Convert(f, "\r\n")) << U8(f);
        EXPECT_EQ(Read_File(f), "x\r\ny\r\n");
    }
    EXPECT_EQ(dir.Names().size(), 1u);
}

TEST(Win32Files, RelativeAndLongPaths) {
    Temp_Dir dir;
    wchar_t old_dir[MAX_PATH + 1];
    ::GetCurrentDirectoryW(MAX_PATH + 1, old_dir);
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.Path().c_str()));
    Write_File(dir / L"here.txt", "1\r2\r");
    EXPECT_TRUE(Convert_File_Line_Ends("here.txt", "here.txt", "\n", false, false));
    EXPECT_TRUE(Folder_Exists("."));
    ::SetCurrentDirectoryW(old_dir);
    EXPECT_EQ(Read_File(dir / L"here.txt"), "1\n2\n");
    EXPECT_EQ(dir.Names(), Only(L"here.txt"));

    // Deeper than MAX_PATH characters.
    std::wstring deep = dir.Path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
    }
    const std::wstring f = deep + L"\\long.txt";
    Write_File(L"\\\\?\\" + f, "a\nb");
    EXPECT_TRUE(Folder_Exists(U8(deep)));
    EXPECT_TRUE(Convert(f, "\r\n", false, true));
    EXPECT_EQ(Read_File(L"\\\\?\\" + f), "a\r\nb\r\n");
}

TEST(Win32Files, AttributesAndCreationTimeAreKeptAndWriteTimeMoves) {
    Temp_Dir dir;
    const std::wstring hidden = dir / L"hidden.txt", plain = dir / L"plain.txt";
    Write_File(hidden, "h\r\n");
    Write_File(plain, "p\r\n");
    ::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    ::SetFileAttributesW(plain.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Times well in the past, so any rewrite shows.
    FILETIME past{};
    SYSTEMTIME year_2001{2001, 2, 0, 3, 4, 5, 6, 0};
    ::SystemTimeToFileTime(&year_2001, &past);
    for (const std::wstring& f : {hidden, plain}) {
        HANDLE h = ::CreateFileW(f.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ::SetFileTime(h, &past, &past, &past);
        ::CloseHandle(h);
    }
    // Not every file system keeps a creation time of its own (Wine on Linux does not).
    bool creation_settable = false;
    {
        const std::wstring probe = dir / L"probe";
        Write_File(probe, "");
        HANDLE h = ::CreateFileW(probe.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        creation_settable = ::SetFileTime(h, &past, nullptr, nullptr) && Ticks(Creation_Time(probe)) == Ticks(past);
        ::CloseHandle(h);
        ::DeleteFileW(probe.c_str());
    }
    const DWORD before_hidden = Attributes(hidden), before_plain = Attributes(plain);
    ASSERT_NE(before_hidden & FILE_ATTRIBUTE_HIDDEN, 0u);
    for (const std::wstring& f : {hidden, plain}) {
        EXPECT_TRUE(Convert(f, "\n")) << U8(f);
        EXPECT_GT(Ticks(Write_Time(f)), Ticks(past)) << U8(f);
        if (creation_settable) {
            EXPECT_EQ(Ticks(Creation_Time(f)), Ticks(past)) << U8(f);
        }
    }
    EXPECT_EQ(Read_File(hidden), "h\n");
    EXPECT_EQ(Attributes(hidden), before_hidden);
    EXPECT_EQ(Attributes(plain), before_plain);
    EXPECT_EQ(Attributes(plain) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY), 0u);
    EXPECT_EQ(dir.Names(), (std::set<std::wstring>{L"hidden.txt", L"plain.txt"}));
}

TEST(Win32Files, HardLinkedFileStaysOneFile) {
    Temp_Dir dir;
    const std::wstring a = dir / L"a.txt", b = dir / L"b.txt";
    Write_File(a, "1\r\n2\r\n");
    if (!::CreateHardLinkW(b.c_str(), a.c_str(), nullptr)) GTEST_SKIP() << "no hard links here";
    EXPECT_TRUE(Convert(a, "\n"));
    EXPECT_EQ(Read_File(a), "1\n2\n");
    EXPECT_EQ(Read_File(b), "1\n2\n") << "the other name still shares the file";
    EXPECT_TRUE(Convert(b, "\r", false, false));
    EXPECT_EQ(Read_File(a), "1\r2\r");
    // Growing and shrinking in place.
    EXPECT_TRUE(Convert(a, "\r\n"));
    EXPECT_EQ(Read_File(b), "1\r\n2\r\n");
    HANDLE h = ::CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    EXPECT_EQ(info.nNumberOfLinks, 2u);
    EXPECT_EQ(dir.Names(), (std::set<std::wstring>{L"a.txt", L"b.txt"}));
    // Held by a writer, the in-place route refuses as well.
    HANDLE writer = ::CreateFileW(b.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(Convert(a, "\n"));
    ::CloseHandle(writer);
    EXPECT_EQ(Read_File(a), "1\r\n2\r\n");
}

TEST(Win32Files, SymbolicLinkStaysALink) {
    Temp_Dir dir;
    const std::wstring target = dir / L"target.txt", link = dir / L"link.txt";
    Write_File(target, "t\r\n");
    if (!::CreateSymbolicLinkW(link.c_str(), target.c_str(), 0) || Attributes(link) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no symbolic links here";
    EXPECT_TRUE(Convert(link, "\n"));
    EXPECT_EQ(Read_File(target), "t\n");
    EXPECT_NE(Attributes(link) & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link was replaced by a file";
}

TEST(Win32Files, BigFileStreamsThroughAndMatchesTheTextTransform) {
    Temp_Dir dir;
    const std::wstring f = dir / L"big.txt";
    std::mt19937 rng(7);
    std::string content;
    content.reserve(48u << 20);
    const char* pieces[] = {"\r\n", "\n", "\r", "\r\n\r\n", "some words of a line ", "x"};
    while (content.size() < (40u << 20)) content += pieces[rng() % 6];
    Write_File(f, content);
    const std::string expected = Convert_Line_Ends_In_Text(content, "\r\n", true, true);
    EXPECT_TRUE(Convert(f, "\r\n", true, true));
    const std::string got = Read_File(f);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    std::string read_back;
    EXPECT_TRUE(Read_Whole_File(U8(f), read_back));
    EXPECT_TRUE(read_back == expected);
    EXPECT_EQ(dir.Names(), Only(L"big.txt"));
}

}  // namespace
