#pragma once
// Real files in a private temporary folder on Windows, named in UTF-16 and
// handed to the code under test as UTF-8.
#include <windows.h>

#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace win_test {

inline std::string U8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// Removes a folder and everything in it, read-only and hidden files too.
inline void Remove_Tree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
                Remove_Tree(child);
            else if (!::DeleteFileW(child.c_str()))
                ::RemoveDirectoryW(child.c_str());
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(path.c_str());
}

class Temp_Dir {
public:
    Temp_Dir() {
        wchar_t base[MAX_PATH + 1];
        const DWORD n = ::GetTempPathW(MAX_PATH + 1, base);
        if (n == 0 || n > MAX_PATH) std::abort();
        for (unsigned i = 0;; ++i) {
            path_ = std::wstring(base, n) + L"quillet-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                    std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(i);
            if (::CreateDirectoryW(path_.c_str(), nullptr)) break;
            if (::GetLastError() != ERROR_ALREADY_EXISTS || i > 100) std::abort();
        }
    }
    Temp_Dir(const Temp_Dir&) = delete;
    Temp_Dir& operator=(const Temp_Dir&) = delete;
    ~Temp_Dir() { Remove_Tree(path_); }

    const std::wstring& Path() const { return path_; }
    std::wstring operator/(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

    // Every name in the folder, hidden ones too: catches stray temporary files.
    std::set<std::wstring> Names() const {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = ::FindFirstFileW((path_ + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") names.insert(name);
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
        return names;
    }

private:
    std::wstring path_;
};

inline void Write_File(const std::wstring& path, std::string_view content) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) std::abort();
    std::size_t done = 0;
    while (done < content.size()) {
        const DWORD chunk = static_cast<DWORD>(content.size() - done < (1u << 30) ? content.size() - done : 1u << 30);
        DWORD written = 0;
        if (!::WriteFile(h, content.data() + done, chunk, &written, nullptr) || written == 0) std::abort();
        done += written;
    }
    ::CloseHandle(h);
}

// The file's bytes, or "<unreadable>".
inline std::string Read_File(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<unreadable>";
    std::string content;
    char buffer[1 << 16];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    ::CloseHandle(h);
    return content;
}

inline DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

}  // namespace win_test
