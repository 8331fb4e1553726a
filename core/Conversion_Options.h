#pragma once
#include <string>

// The three values that steer one conversion. In the window they are its option
// fields; the core routines take them as three separate arguments.
struct Conversion_Options {
    std::string Line_End;               // "\r\n", "\n" or "\r"
    bool Remove_Duplicates = false;
    bool One_Line_End_At_End = false;
};
