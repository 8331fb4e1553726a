#include "Dropped_Files.h"

#include "Wide_Text.h"

std::vector<std::string> Dropped_Files(HDROP drop) {
    std::vector<std::string> files;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    files.reserve(count);
    std::wstring name;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
        name.assign(static_cast<std::size_t>(length) + 1, L'\0');
        const UINT got = ::DragQueryFileW(drop, i, name.data(), length + 1);
        name.resize(got);
        if (!name.empty()) files.push_back(To_Utf8(name));  // an empty name is no path
    }
    return files;
}
