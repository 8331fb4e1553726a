#include "modFile_Exists.h"

#include "Platform_Files.h"

namespace modFile_Exists {

bool Folder_Exists(const std::string& path) { return quillet::platform::Is_Folder(path); }

}  // namespace modFile_Exists
