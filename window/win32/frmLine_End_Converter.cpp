#include "frmLine_End_Converter.h"

#include <shellapi.h>

#include <utility>

#include "Control_Ids.h"
#include "Dropped_Files.h"
#include "Wide_Text.h"

namespace {

// A control of the window: its place and size in twips, relative to its container.
struct Control_Spec {
    int id;
    const wchar_t* window_class;
    DWORD style;
    const wchar_t* caption;
    int left, top, width, height;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// In tab order: creation order is the order the keyboard walks them.
constexpr Control_Spec kFrame{IDC_FRA_DROP, L"BUTTON", kChild | BS_GROUPBOX, L"Drop files here:", 120, 120, 4335, 1995};
constexpr Control_Spec kControls[] = {
    {IDC_OPT_CRLF, L"BUTTON", kChild | BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, L"CR+LF (Windows)", 120, 2280, 1875, 255},
    {IDC_OPT_LF, L"BUTTON", kChild | BS_AUTORADIOBUTTON, L"LF (Unix)", 2100, 2280, 1095, 255},
    {IDC_OPT_CR, L"BUTTON", kChild | BS_AUTORADIOBUTTON, L"CR (Mac)", 3300, 2280, 1095, 255},
    {IDC_CHK_REMOVE_DUPLICATE_LINE_ENDS, L"BUTTON", kChild | BS_AUTOCHECKBOX | WS_GROUP | WS_TABSTOP,
     L"Remove duplicate line ends", 120, 2640, 2715, 255},
    {IDC_CHK_ONE_LINE_END_AT_FILE_END, L"BUTTON", kChild | BS_AUTOCHECKBOX | WS_TABSTOP,
     L"One line end at file end", 120, 2940, 2355, 255},
};
// Inside fraDrop, hidden until a batch runs.
constexpr Control_Spec kWait{IDC_LBL_WAIT, L"STATIC", WS_CHILD | SS_LEFT, L"Converting files, please wait...", 180, 900, 3975, 255};

constexpr int kClient_Width = 4575;   // twips
constexpr int kClient_Height = 3315;  // twips
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

bool Checked(HWND button) { return ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// "Quillet (v1.0.0) by Tavrik", from the build's version numbers.
std::wstring Caption() {
    wchar_t caption[64];
    ::wsprintfW(caption, L"Quillet (v%d.%d.%d) by Tavrik", QUILLET_VERSION_MAJOR, QUILLET_VERSION_MINOR,
                QUILLET_VERSION_PATCH);
    return caption;
}

int Screen_Dpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

}  // namespace

bool frmLine_End_Converter::Register(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Window_Proc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLET), IMAGE_ICON,
                                               ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLET), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass_Name;
    return ::RegisterClassExW(&wc) != 0;
}

bool frmLine_End_Converter::Create(HINSTANCE instance) {
    dpi_ = Screen_Dpi();
    RECT frame{0, 0, Twips(kClient_Width), Twips(kClient_Height)};
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, WS_EX_ACCEPTFILES);
    hwnd_ = ::CreateWindowExW(WS_EX_ACCEPTFILES, kClass_Name, L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
    return hwnd_ != nullptr;
}

frmLine_End_Converter::~frmLine_End_Converter() {
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
    if (font_ != nullptr) ::DeleteObject(font_);
}

int frmLine_End_Converter::Twips(int twips) const { return ::MulDiv(twips, dpi_, 1440); }

void frmLine_End_Converter::Create_Controls() {
    // Verdana 8.25 pt, at the screen's resolution.
    font_ = ::CreateFontW(-::MulDiv(825, dpi_, 7200), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                          L"Verdana");
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(hwnd_, GWLP_HINSTANCE));
    auto make = [&](const Control_Spec& c, HWND parent) {
        HWND h = ::CreateWindowExW(0, c.window_class, c.caption, c.style, Twips(c.left), Twips(c.top),
                                   Twips(c.width), Twips(c.height), parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
        ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        return h;
    };
    fraDrop = make(kFrame, hwnd_);
    optCrLf = make(kControls[0], hwnd_);
    optLf = make(kControls[1], hwnd_);
    optCr = make(kControls[2], hwnd_);
    chkRemove_Duplicate_Line_Ends = make(kControls[3], hwnd_);
    chkOne_Line_End_At_File_End = make(kControls[4], hwnd_);
    lblWait = make(kWait, fraDrop);
    ::SendMessageW(optCrLf, BM_SETCHECK, BST_CHECKED, 0);
}

void frmLine_End_Converter::Form_Load() { ::SetWindowTextW(hwnd_, Caption().c_str()); }

RECT frmLine_End_Converter::Frame_Rect() const {
    RECT r{};
    ::GetWindowRect(fraDrop, &r);
    ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void frmLine_End_Converter::Set_Wait_Visible(bool visible) {
    ::ShowWindow(lblWait, visible ? SW_SHOW : SW_HIDE);
    // Painted now: the batch does not give the loop a turn before its first file.
    const RECT frame = Frame_Rect();
    ::RedrawWindow(hwnd_, &frame, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void frmLine_End_Converter::Read_Options() {
    static const std::string kCrLf = "\r\n", kLf = "\n", kCr = "\r";
    // The buttons are asked in this order and the first selected one decides.
    if (Checked(optCrLf))
        Line_End = kCrLf;
    else if (Checked(optLf))
        Line_End = kLf;
    else if (Checked(optCr))
        Line_End = kCr;
    // Checked (1) only; unchecked (0) and grayed (2) are both false.
    Remove_Duplicates = Checked(chkRemove_Duplicate_Line_Ends);
    One_Line_End_At_End = Checked(chkOne_Line_End_At_File_End);
}

Conversion_Options frmLine_End_Converter::Options() const {
    return Conversion_Options{Line_End, Remove_Duplicates, One_Line_End_At_End};
}

void frmLine_End_Converter::Show_Message(const std::string& prompt, const std::string& title) {
    ::MessageBoxW(hwnd_, To_Wide(prompt).c_str(), To_Wide(title).c_str(), MB_OK | MB_ICONINFORMATION);
}

void frmLine_End_Converter::fraDrop_Drop(HDROP drop) {
    POINT at{};
    const bool in_client = ::DragQueryPoint(drop, &at) != FALSE;
    const RECT frame = Frame_Rect();
    // Only fraDrop takes drops, and only one batch at a time.
    if (in_client && ::PtInRect(&frame, at) && !busy_) {
        pending_ = Drop_Data{true, Dropped_Files(drop)};
        busy_ = true;
        ::PostMessageW(hwnd_, kRun_Batch, 0, 0);
    }
    ::DragFinish(drop);
}

void frmLine_End_Converter::Run_Batch() {
    const Drop_Data data = std::exchange(pending_, Drop_Data{});
    Handle_Drop(data, *this);
    busy_ = false;
    if (close_pending_) ::DestroyWindow(hwnd_);
}

LRESULT CALLBACK frmLine_End_Converter::Window_Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<frmLine_End_Converter*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<frmLine_End_Converter*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (self == nullptr) return ::DefWindowProcW(hwnd, message, wparam, lparam);
    return self->Handle_Message(message, wparam, lparam);
}

LRESULT frmLine_End_Converter::Handle_Message(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            Create_Controls();
            Form_Load();
            return 0;
        case WM_DROPFILES:
            fraDrop_Drop(reinterpret_cast<HDROP>(wparam));
            return 0;
        case kRun_Batch:
            Run_Batch();
            return 0;
        case WM_ACTIVATE:
            // Keep the keyboard focus where it was when the window comes back.
            if (LOWORD(wparam) == WA_INACTIVE) {
                last_focus_ = ::GetFocus();
            } else {
                ::SetFocus(last_focus_ != nullptr && ::IsChild(hwnd_, last_focus_) ? last_focus_ : optCrLf);
            }
            return 0;
        case WM_CLOSE:
            if (busy_) {
                close_pending_ = true;
                return 0;
            }
            ::DestroyWindow(hwnd_);
            return 0;
        case WM_DESTROY:
            hwnd_ = nullptr;
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(hwnd_, message, wparam, lparam);
    }
}
