#pragma once
// UTF-8 (our strings) <-> UTF-16 (the wide Win32 API).
#include <string>
#include <string_view>

std::wstring To_Wide(std::string_view utf8);
std::string To_Utf8(std::wstring_view wide);
