// The Win32 window driven from outside, the way the shell and a user would:
// the program runs in its own process, files are dropped on it as a shell
// file list, and its message boxes are read and closed.
//   quillet_window_tests <path of Quillet exe> [gtest options]
#include <gtest/gtest.h>

#include <shlobj.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Control_Ids.h"
#include "Win_Test_Support.h"

using win_test::Read_File;
using win_test::Temp_Dir;
using win_test::Write_File;

namespace {

std::wstring g_exe;

using Clock = std::chrono::steady_clock;

template <class Check>
bool Wait_For(Check check, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!check()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::wstring Text_Of(HWND h) {
    wchar_t text[512] = L"";
    // WM_GETTEXT with a time limit: a hung program must not hang the test.
    DWORD_PTR got = 0;
    ::SendMessageTimeoutW(h, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &got);
    return text;
}

std::wstring Class_Of(HWND h) {
    wchar_t name[256] = L"";
    ::GetClassNameW(h, name, 256);
    return name;
}

// The top-level windows of a process with the given class (and title, if any).
HWND Find_Window(DWORD pid, const std::wstring& window_class, const std::wstring& title = L"") {
    struct Search {
        DWORD pid;
        const std::wstring& window_class;
        const std::wstring& title;
        HWND found;
    } search{pid, window_class, title, nullptr};
    ::EnumWindows(
        [](HWND h, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(h, &owner);
            if (owner != s->pid || !::IsWindowVisible(h) || Class_Of(h) != s->window_class) return TRUE;
            if (!s->title.empty() && Text_Of(h) != s->title) return TRUE;
            s->found = h;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

LRESULT Send(HWND h, UINT message, WPARAM w = 0, LPARAM l = 0) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(h, message, w, l, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}

class Window_Test : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring command = L"\"" + g_exe + L"\"";
        ASSERT_TRUE(::CreateProcessW(g_exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                     &si, &process_))
            << "cannot start the program";
        ASSERT_TRUE(Wait_For([] { return (form_ = Find_Window(process_.dwProcessId, L"frmLine_End_Converter")) != nullptr; },
                             std::chrono::seconds(60)))
            << "the window did not appear";
        fraDrop_ = ::GetDlgItem(form_, IDC_FRA_DROP);
        lblWait_ = ::GetDlgItem(fraDrop_, IDC_LBL_WAIT);
    }

    static void TearDownTestSuite() {
        if (process_.hProcess == nullptr) return;
        if (::WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(process_.hProcess, 99);
        ::CloseHandle(process_.hThread);
        ::CloseHandle(process_.hProcess);
        process_ = {};
    }

    void SetUp() override {
        if (form_ == nullptr || !::IsWindow(form_)) GTEST_SKIP() << "no window to test";
        // A test that failed may have left a message open: each test starts idle.
        for (int i = 0; i < 5 && Any_Message(); ++i)
            Close_Message(Message{Find_Window(process_.dwProcessId, L"#32770"), L""});
        Wait_For([] { return !::IsWindowVisible(lblWait_); }, std::chrono::seconds(5));
    }

    static HWND Control(int id) { return ::GetDlgItem(form_, id); }
    static bool Checked(int id) { return Send(Control(id), BM_GETCHECK) == BST_CHECKED; }
    static void Click(int id) { Send(Control(id), BM_CLICK); }

    // A drop as the shell makes it: the file list placed in the program's own
    // memory, `at` in the window's client coordinates.
    static void Drop(POINT at, const std::vector<std::wstring>& paths) {
        std::vector<char> block(sizeof(DROPFILES));
        for (const std::wstring& p : paths) {
            const char* bytes = reinterpret_cast<const char*>(p.c_str());
            block.insert(block.end(), bytes, bytes + (p.size() + 1) * sizeof(wchar_t));
        }
        block.insert(block.end(), sizeof(wchar_t), '\0');
        auto* header = reinterpret_cast<DROPFILES*>(block.data());
        header->pFiles = sizeof(DROPFILES);
        header->pt = at;
        header->fNC = FALSE;
        header->fWide = TRUE;
        void* remote = ::VirtualAllocEx(process_.hProcess, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE,
                                        PAGE_READWRITE);
        ASSERT_NE(remote, nullptr);
        ASSERT_TRUE(::WriteProcessMemory(process_.hProcess, remote, block.data(), block.size(), nullptr));
        ASSERT_TRUE(::PostMessageW(form_, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0));
    }

    // The middle of fraDrop in the window's client coordinates.
    static POINT Frame_Middle() {
        RECT r{};
        ::GetWindowRect(fraDrop_, &r);
        ::MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&r), 2);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }

    struct Message {
        HWND box = nullptr;
        std::wstring prompt;
    };

    // Waits for the program's message box titled `title` and reads its prompt.
    static Message Wait_Message(const std::wstring& title, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        Message m;
        Wait_For([&] { return (m.box = Find_Window(process_.dwProcessId, L"#32770", title)) != nullptr; }, limit);
        if (m.box == nullptr) return m;
        // The prompt is the longest text among the box's static controls.
        for (HWND child = ::GetWindow(m.box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            const std::wstring text = Text_Of(child);
            if (_wcsicmp(Class_Of(child).c_str(), L"Static") == 0 && text.size() > m.prompt.size()) m.prompt = text;
        }
        return m;
    }

    static void Close_Message(const Message& m) {
        ::PostMessageW(m.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        Wait_For([&] { return !::IsWindow(m.box); }, std::chrono::seconds(10));
    }

    static bool Any_Message() { return Find_Window(process_.dwProcessId, L"#32770") != nullptr; }

    static PROCESS_INFORMATION process_;
    static HWND form_, fraDrop_, lblWait_;
};

PROCESS_INFORMATION Window_Test::process_{};
HWND Window_Test::form_ = nullptr;
HWND Window_Test::fraDrop_ = nullptr;
HWND Window_Test::lblWait_ = nullptr;

int Screen_Dpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

TEST_F(Window_Test, StartsWithCaptionControlsAndDefaults) {
    EXPECT_EQ(Text_Of(form_), L"Quillet (v1.0.0) by Tavrik");
    struct Expected {
        int id;
        const wchar_t* caption;
        int left, top, width, height;
    };
    const Expected controls[] = {
        {IDC_FRA_DROP, L"Drop files here:", 120, 120, 4335, 1995},
        {IDC_OPT_CRLF, L"CR+LF (Windows)", 120, 2280, 1875, 255},
        {IDC_OPT_LF, L"LF (Unix)", 2100, 2280, 1095, 255},
        {IDC_OPT_CR, L"CR (Mac)", 3300, 2280, 1095, 255},
        {IDC_CHK_REMOVE_DUPLICATE_LINE_ENDS, L"Remove duplicate line ends", 120, 2640, 2715, 255},
        {IDC_CHK_ONE_LINE_END_AT_FILE_END, L"One line end at file end", 120, 2940, 2355, 255},
    };
    const int dpi = Screen_Dpi();
    auto px = [dpi](int twips) { return ::MulDiv(twips, dpi, 1440); };
    RECT client{};
    ::GetClientRect(form_, &client);
    EXPECT_EQ(client.right, px(4575));
    EXPECT_EQ(client.bottom, px(3315));
    // Places in twips, and the tab order follows the table: the window's children in order.
    HWND child = ::GetWindow(form_, GW_CHILD);
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.id);
        HWND h = Control(c.id);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(child, h);
        child = ::GetWindow(child, GW_HWNDNEXT);
        EXPECT_EQ(Text_Of(h), c.caption);
        RECT r{};
        ::GetWindowRect(h, &r);
        ::MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, px(c.left));
        EXPECT_EQ(r.top, px(c.top));
        EXPECT_EQ(r.right - r.left, px(c.width));
        EXPECT_EQ(r.bottom - r.top, px(c.height));
    }
    EXPECT_TRUE(Checked(IDC_OPT_CRLF));
    EXPECT_FALSE(Checked(IDC_OPT_LF));
    EXPECT_FALSE(Checked(IDC_OPT_CR));
    EXPECT_FALSE(Checked(IDC_CHK_REMOVE_DUPLICATE_LINE_ENDS));
    EXPECT_FALSE(Checked(IDC_CHK_ONE_LINE_END_AT_FILE_END));
    // The wait label sits inside the frame and is hidden.
    ASSERT_NE(lblWait_, nullptr);
    EXPECT_EQ(Text_Of(lblWait_), L"Converting files, please wait...");
    EXPECT_FALSE(::IsWindowVisible(lblWait_));
    // Keyboard: the option group is one stop, then the two boxes.
    EXPECT_EQ(::GetNextDlgTabItem(form_, Control(IDC_OPT_CRLF), FALSE), Control(IDC_CHK_REMOVE_DUPLICATE_LINE_ENDS));
    EXPECT_EQ(::GetNextDlgTabItem(form_, Control(IDC_CHK_REMOVE_DUPLICATE_LINE_ENDS), FALSE),
              Control(IDC_CHK_ONE_LINE_END_AT_FILE_END));
    EXPECT_EQ(::GetNextDlgGroupItem(form_, Control(IDC_OPT_CRLF), FALSE), Control(IDC_OPT_LF));
}

TEST_F(Window_Test, DropOutsideTheFrameDoesNothing) {
    Temp_Dir dir;
    Write_File(dir / L"outside.txt", "a\nb\n");
    RECT box{};
    ::GetWindowRect(Control(IDC_CHK_ONE_LINE_END_AT_FILE_END), &box);
    ::MapWindowPoints(nullptr, form_, reinterpret_cast<POINT*>(&box), 2);
    Drop(POINT{box.left + 5, box.top + 5}, {dir / L"outside.txt"});
    EXPECT_FALSE(Wait_For([] { return Any_Message(); }, std::chrono::milliseconds(2000)));
    EXPECT_EQ(Read_File(dir / L"outside.txt"), "a\nb\n");
}

TEST_F(Window_Test, DropOnTheFrameConvertsAndReports) {
    Temp_Dir dir;
    ::CreateDirectoryW((dir / L"folder").c_str(), nullptr);
    Write_File(dir / L"a.txt", "a\nb\n");
    Write_File(dir / L"\u0444\u0430\u0439\u043b \u6587.txt", "x\ry");
    Drop(Frame_Middle(), {dir / L"a.txt", dir / L"folder", dir / L"\u0444\u0430\u0439\u043b \u6587.txt"});

    Message folder = Wait_Message(L"Folder(s) dropped");
    ASSERT_NE(folder.box, nullptr) << "no folder message";
    EXPECT_EQ(folder.prompt, L"Converting whole folders is not currently supported.");
    EXPECT_TRUE(::IsWindowVisible(lblWait_)) << "the wait label shows until the messages are closed";
    // The files are done before any message is shown.
    EXPECT_EQ(Read_File(dir / L"a.txt"), "a\r\nb\r\n");
    EXPECT_EQ(Read_File(dir / L"\u0444\u0430\u0439\u043b \u6587.txt"), "x\r\ny");
    // A drop while the batch is still on is refused.
    Write_File(dir / L"late.txt", "l\n");
    Drop(Frame_Middle(), {dir / L"late.txt"});
    Close_Message(folder);

    Message done = Wait_Message(L"Done");
    ASSERT_NE(done.box, nullptr) << "no summary";
    EXPECT_EQ(done.prompt, L"Successfully converted 2 files, there were 0 errors.");
    EXPECT_TRUE(::IsWindowVisible(lblWait_));
    Close_Message(done);
    EXPECT_TRUE(Wait_For([] { return !::IsWindowVisible(lblWait_); }, std::chrono::seconds(10)));
    EXPECT_FALSE(Wait_For([] { return Any_Message(); }, std::chrono::milliseconds(1500)));
    EXPECT_EQ(Read_File(dir / L"late.txt"), "l\n");
}

TEST_F(Window_Test, OptionsChosenInTheWindowApplyToTheNextDrop) {
    Temp_Dir dir;
    const std::wstring f = dir / L"opts.txt";
    Write_File(f, "a\r\n\r\nb\r\n\r\n\r\n\r\n");
    Click(IDC_OPT_LF);
    Click(IDC_CHK_REMOVE_DUPLICATE_LINE_ENDS);
    Click(IDC_CHK_ONE_LINE_END_AT_FILE_END);
    EXPECT_FALSE(Checked(IDC_OPT_CRLF)) << "the option buttons are one group";
    Drop(Frame_Middle(), {f, dir / L"missing.txt"});
    Message done = Wait_Message(L"Done");
    ASSERT_NE(done.box, nullptr);
    EXPECT_EQ(done.prompt, L"Successfully converted 1 files, there were 1 errors.");
    Close_Message(done);
    EXPECT_EQ(Read_File(f), "a\nb\n");

    Click(IDC_OPT_CR);
    Click(IDC_CHK_REMOVE_DUPLICATE_LINE_ENDS);  // cleared again
    Write_File(f, "a\n\nb");
    Drop(Frame_Middle(), {f});
    done = Wait_Message(L"Done");
    ASSERT_NE(done.box, nullptr);
    Close_Message(done);
    EXPECT_EQ(Read_File(f), "a\r\rb\r");
    Click(IDC_OPT_CRLF);
    Click(IDC_CHK_ONE_LINE_END_AT_FILE_END);
}

// Last: closing the window ends the program.
TEST_F(Window_Test, ZClosingTheWindowEndsTheProgram) {
    ::PostMessageW(form_, WM_CLOSE, 0, 0);
    ASSERT_EQ(::WaitForSingleObject(process_.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(process_.hProcess, &code);
    EXPECT_EQ(code, 0u);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <path of the program> [gtest options]\n", argv[0]);
        return 2;
    }
    const std::string exe = argv[1];
    const int n = ::MultiByteToWideChar(CP_ACP, 0, exe.c_str(), -1, nullptr, 0);
    g_exe.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(CP_ACP, 0, exe.c_str(), -1, g_exe.data(), n);
    g_exe.resize(static_cast<std::size_t>(n - 1));
    return RUN_ALL_TESTS();
}
