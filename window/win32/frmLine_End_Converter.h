#pragma once
// The program's one window: a drop frame, the three line-end styles and the two
// clean-up boxes, in plain Win32. Files dropped on fraDrop are converted by
// Handle_Drop.
//
// How a batch runs: WM_DROPFILES only takes the paths and lets the shell go;
// the batch runs when the posted kRun_Batch comes round, synchronously on this
// thread, so the window takes no input until it ends. Drops that arrive
// meanwhile (the message boxes run a loop of their own) are refused.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "Handle_Drop.h"

class frmLine_End_Converter final : public Window_Surface {
public:
    static constexpr const wchar_t* kClass_Name = L"frmLine_End_Converter";

    // Registers the window class; once per process.
    static bool Register(HINSTANCE instance);
    // Creates the window with its controls at their defaults; not shown yet.
    bool Create(HINSTANCE instance);
    HWND Hwnd() const { return hwnd_; }

    // Controls
    HWND fraDrop = nullptr;
    HWND lblWait = nullptr;
    HWND optCrLf = nullptr;
    HWND optLf = nullptr;
    HWND optCr = nullptr;
    HWND chkRemove_Duplicate_Line_Ends = nullptr;
    HWND chkOne_Line_End_At_File_End = nullptr;

    // Option fields: written by Read_Options only, read by the batch.
    std::string Line_End;
    bool Remove_Duplicates = false;
    bool One_Line_End_At_End = false;

    // Window_Surface
    void Set_Wait_Visible(bool visible) override;
    void Read_Options() override;
    Conversion_Options Options() const override;
    void Show_Message(const std::string& prompt, const std::string& title) override;

    ~frmLine_End_Converter() override;

private:
    static constexpr UINT kRun_Batch = WM_APP + 1;

    static LRESULT CALLBACK Window_Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT Handle_Message(UINT message, WPARAM wparam, LPARAM lparam);
    void Form_Load();
    void Create_Controls();
    int Twips(int twips) const;
    RECT Frame_Rect() const;  // fraDrop in the window's client coordinates
    void fraDrop_Drop(HDROP drop);
    void Run_Batch();

    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    int dpi_ = 96;
    HWND last_focus_ = nullptr;
    Drop_Data pending_;
    bool busy_ = false;           // a drop was taken and its batch has not ended
    bool close_pending_ = false;  // closed while busy: close when the batch ends
};
