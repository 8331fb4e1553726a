#pragma once
#include <string>
#include <vector>

#include "Conversion_Options.h"

// What a drop carries, as the batch needs it.
struct Drop_Data {
    bool Has_File_List = false;          // the drop carries a list of files
    std::vector<std::string> Files;      // full paths as bytes, in the order the platform gave them
};

// The window as the batch sees it. Every call happens on the window's thread.
class Window_Surface {
public:
    virtual ~Window_Surface() = default;
    virtual void Set_Wait_Visible(bool visible) = 0;      // lblWait shown or hidden
    virtual void Read_Options() = 0;                      // controls -> option fields
    virtual Conversion_Options Options() const = 0;       // the option fields as Read_Options left them
    virtual void Show_Message(const std::string& prompt, const std::string& title) = 0;  // modal, information style
};

// Converts every dropped file in place, refuses folders, and reports the
// folder message and the summary to the surface once the whole list is done.
void Handle_Drop(const Drop_Data& data, Window_Surface& surface);
