#include "Wide_Text.h"

#include <windows.h>

std::wstring To_Wide(std::string_view utf8) {
    std::wstring wide;
    if (utf8.empty() || utf8.size() > 0x7fffffff) return wide;
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (n <= 0) return wide;
    wide.resize(static_cast<std::size_t>(n));
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string To_Utf8(std::wstring_view wide) {
    std::string utf8;
    if (wide.empty() || wide.size() > 0x7fffffff) return utf8;
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return utf8;
    utf8.resize(static_cast<std::size_t>(n));
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}
