#pragma once
#include <string>

namespace modFile_Exists {
// True exactly when path names an existing folder (symbolic links followed).
bool Folder_Exists(const std::string& path);
}
