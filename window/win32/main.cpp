// Start-up: create the window with its defaults, show it, and run the event
// loop until it is closed.
#include <windows.h>
#include <commctrl.h>

#include "frmLine_End_Converter.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    if (!frmLine_End_Converter::Register(instance)) return 1;
    frmLine_End_Converter form;
    if (!form.Create(instance)) return 1;
    ::ShowWindow(form.Hwnd(), show);
    ::UpdateWindow(form.Hwnd());

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab, the arrow keys within the option group, and so on.
        if (form.Hwnd() != nullptr && ::IsDialogMessageW(form.Hwnd(), &msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
