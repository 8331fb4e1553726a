#pragma once
// The file list of a shell drop (HDROP) as the batch takes it.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// The dropped paths in the order the shell gives them, as UTF-8. Empty
// names, which some shells put in a list with no files, are left out.
std::vector<std::string> Dropped_Files(HDROP drop);
