// The file seam on Windows.
//
// Paths arrive as UTF-8 and go to the wide-character API as UTF-16, so any
// name the file system can hold works, whatever the system code page. File
// contents are bytes and never pass through any encoding.
//
// A file is replaced the Windows way: the new content goes to a hidden
// temporary file in the same folder, is flushed, and then ReplaceFileW swaps
// it in, keeping the old file's attributes, security and creation time.
// A file with several hard links is rewritten in place instead, after its
// original bytes have been copied aside, so that any failure puts them back.
#include "Platform_Files.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace quillet::platform {

// Gives the seam's own code access to an Input_File's handle.
class Replacement_Access {
public:
    static HANDLE Handle(const Input_File& f) { return reinterpret_cast<HANDLE>(f.handle_); }
    static bool Same_File(const Input_File& f, const BY_HANDLE_FILE_INFORMATION& info) {
        return f.Is_Open() && f.device_ == info.dwVolumeSerialNumber &&
               f.inode_ == ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    }
    // Makes `f` read from the already open handle `h` (taking it over).
    static bool Adopt(Input_File& f, HANDLE h) {
        BY_HANDLE_FILE_INFORMATION info;
        LARGE_INTEGER size;
        if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !::GetFileSizeEx(h, &size) ||
            size.QuadPart < 0) {
            ::CloseHandle(h);
            return false;
        }
        f.Close();
        f.handle_ = reinterpret_cast<std::intptr_t>(h);
        f.size_ = static_cast<std::uint64_t>(size.QuadPart);
        f.device_ = info.dwVolumeSerialNumber;
        f.inode_ = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        return true;
    }
};

namespace {

// At most this much per ReadFile or WriteFile call (they take 32-bit counts).
constexpr std::size_t kMax_Io = std::size_t{1} << 30;

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Reset(); }
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE Release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (Valid()) ::CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_;
};

// UTF-8 to UTF-16; false for text that is not valid UTF-8.
bool Widen(const std::string& text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    if (text.size() > 0x7fffffff) return false;
    const int size = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) return false;
    wide.resize(static_cast<std::size_t>(n));
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n) == n;
}

// The path as the wide API takes it. Long full paths get the \\?\ prefix,
// which lifts the MAX_PATH limit.
bool Wide_Path(const std::string& path, std::wstring& wide) {
    if (path.empty() || !Widen(path, wide) || wide.find(L'\0') != std::wstring::npos) return false;
    if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return true;
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return true;
    std::wstring full(n, L'\0');
    const DWORD got = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n) return true;
    full.resize(got);
    if (full.rfind(L"\\\\.\\", 0) == 0) return true;  // a device path: leave it to be refused
    if (full.rfind(L"\\\\", 0) == 0)
        wide = L"\\\\?\\UNC\\" + full.substr(2);
    else
        wide = L"\\\\?\\" + full;
    return true;
}

// Names that open a device rather than a file: \\.\anything, and the DOS
// device names (CON, NUL, COM1, ...) in any folder and with any extension.
bool Is_Device_Name(const std::wstring& path) {
    if (path.rfind(L"\\\\.\\", 0) == 0 || path.rfind(L"\\\\?\\GLOBALROOT", 0) == 0) return true;
    std::size_t start = path.find_last_of(L"\\/:");
    start = start == std::wstring::npos ? 0 : start + 1;
    std::wstring stem = path.substr(start);
    stem = stem.substr(0, stem.find(L'.'));
    while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) stem.pop_back();
    for (wchar_t& c : stem)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$", L"CLOCK$"};
    for (const wchar_t* d : kDevices)
        if (stem == d) return true;
    return stem.size() == 4 && (stem.rfind(L"COM", 0) == 0 || stem.rfind(L"LPT", 0) == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

// The attributes of what the path names, links followed; INVALID_FILE_ATTRIBUTES when nothing is there.
DWORD Followed_Attributes(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return attributes;
    Handle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &info)) return INVALID_FILE_ATTRIBUTES;
    return info.dwFileAttributes;
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// Moves exactly `size` bytes with `call` (one ReadFile or WriteFile of at most
// kMax_Io bytes at an offset, reporting how many moved). False on an error, or
// when nothing more moves (a read at the end of file).
template <class Byte, class Call>
bool Transfer_All(Byte* data, std::size_t size, std::uint64_t offset, Call call) {
    while (size != 0) {
        const DWORD chunk = static_cast<DWORD>(size < kMax_Io ? size : kMax_Io);
        DWORD moved = 0;
        if (!call(data, chunk, offset, &moved) || moved == 0) return false;
        data += moved;
        size -= moved;
        offset += moved;
    }
    return true;
}

bool Write_All(HANDLE h, const char* data, std::size_t size) {
    return Transfer_All(data, size, 0, [h](const char* p, DWORD n, std::uint64_t, DWORD* moved) {
        return ::WriteFile(h, p, n, moved, nullptr);
    });
}

bool Pwrite_All(HANDLE h, const char* data, std::size_t size, std::uint64_t offset) {
    return Transfer_All(data, size, offset, [h](const char* p, DWORD n, std::uint64_t at, DWORD* moved) {
        OVERLAPPED o = At(at);
        return ::WriteFile(h, p, n, moved, &o);
    });
}

// A read that ends early (the file shrank under us) is a failure.
bool Pread_All(HANDLE h, char* data, std::size_t size, std::uint64_t offset) {
    return Transfer_All(data, size, offset, [h](char* p, DWORD n, std::uint64_t at, DWORD* moved) {
        OVERLAPPED o = At(at);
        return ::ReadFile(h, p, n, moved, &o);
    });
}

bool Set_Size(HANDLE h, std::uint64_t size) {
    FILE_END_OF_FILE_INFO eof{};
    eof.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFileInformationByHandle(h, FileEndOfFileInfo, &eof, sizeof eof) != 0;
}

// Copies `size` bytes from `from` to `to`, both from offset 0.
bool Copy_Bytes(HANDLE from, HANDLE to, std::uint64_t size) {
    std::vector<char> buffer(std::size_t{1} << 20);
    for (std::uint64_t off = 0; off < size;) {
        const std::size_t n =
            size - off < buffer.size() ? static_cast<std::size_t>(size - off) : buffer.size();
        if (!Pread_All(from, buffer.data(), n, off) || !Pwrite_All(to, buffer.data(), n, off)) return false;
        off += n;
    }
    return true;
}

std::wstring Folder_Of(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        // "C:name" lives in the current folder of drive C.
        if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2) + L".";
        return L".";
    }
    if (slash == 0) return path.substr(0, 1);
    if (path[slash - 1] == L':') return path.substr(0, slash + 1);  // "C:\name": the root keeps its slash
    return path.substr(0, slash);
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) return folder + name;
    return folder + L"\\" + name;
}

// A name for a temporary file that no one else picks.
std::wstring Temp_Name(const std::wstring& folder) {
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    unsigned long long mix = (static_cast<unsigned long long>(now.QuadPart) << 20) ^
                             (static_cast<unsigned long long>(::GetCurrentProcessId()) << 8) ^
                             counter.fetch_add(1);
    std::wstring name = L".quillet-000000000000.tmp";
    for (std::size_t i = 20; i > 8; --i, mix >>= 4) name[i] = L"0123456789abcdef"[mix & 15];
    return Join(folder, name);
}

// A new hidden file for content that is not final yet, deleted again unless
// it is committed. Delete-on-close cannot be used: ReplaceFileW would refuse it.
struct Temp_File {
    Handle h;
    std::wstring name;
    DWORD error = ERROR_SUCCESS;  // why Create failed

    bool Create(const std::wstring& folder, DWORD access) {
        for (int attempt = 0; attempt < 64; ++attempt) {
            std::wstring candidate = Temp_Name(folder);
            HANDLE created = ::CreateFileW(candidate.c_str(), access, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
            if (created != INVALID_HANDLE_VALUE) {
                h.Reset(created);
                name = std::move(candidate);
                return true;
            }
            error = ::GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
        }
        return false;
    }

    void Discard() {
        h.Reset();
        if (!name.empty()) ::DeleteFileW(name.c_str());
        name.clear();
    }

    ~Temp_File() { Discard(); }
};

class Handle_Output final : public Content_Output {
public:
    explicit Handle_Output(HANDLE h) : h_(h) {}
    bool Write(const char* data, std::size_t size) override { return Write_All(h_, data, size); }

private:
    HANDLE h_;
};

class Positioned_Output final : public Content_Output {
public:
    explicit Positioned_Output(HANDLE h) : h_(h) {}
    bool Write(const char* data, std::size_t size) override {
        if (!Pwrite_All(h_, data, size, offset_)) return false;
        offset_ += size;
        return true;
    }
    std::uint64_t Written() const { return offset_; }

private:
    HANDLE h_;
    std::uint64_t offset_ = 0;
};

// What is known of an existing target before it is replaced.
struct Target {
    std::wstring path;  // links resolved
    BY_HANDLE_FILE_INFORMATION info{};
};

// Opens the existing target the way the reader does (others may only read),
// which fails while anyone holds it open for writing, and finds where links lead.
bool Inspect_Target(const std::wstring& path, Target& target) {
    Handle h(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid() || ::GetFileType(h.Get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(h.Get(), &target.info) ||
        (target.info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false;
    target.path = path;
    // The file the path leads to, so that a symbolic link stays a link.
    std::wstring final_path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = ::GetFinalPathNameByHandleW(h.Get(), final_path.data(),
                                                    static_cast<DWORD>(final_path.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) break;  // some file systems cannot say: keep the path as given
        if (n < final_path.size()) {
            final_path.resize(n);
            target.path = final_path;
            break;
        }
        final_path.assign(n + 1, L'\0');
    }
    return true;
}

// Where to keep the original bytes while a file is rewritten in place.
bool Make_Backup(HANDLE from, std::uint64_t size, const std::wstring& folder, Input_File& backup) {
    std::vector<std::wstring> places{folder};
    wchar_t tmp[MAX_PATH + 1];
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, tmp);
    if (n > 0 && n <= MAX_PATH) places.emplace_back(tmp, n);
    for (const std::wstring& place : places) {
        Temp_File temp;
        if (!temp.Create(place, GENERIC_READ | GENERIC_WRITE | DELETE)) continue;
        // Gone by itself when the backup closes, also if we are killed.
        FILE_DISPOSITION_INFO dispose{};
        dispose.DeleteFile = TRUE;
        if (!Copy_Bytes(from, temp.h.Get(), size) ||
            !::SetFileInformationByHandle(temp.h.Get(), FileDispositionInfo, &dispose, sizeof dispose))
            continue;
        temp.name.clear();
        return Replacement_Access::Adopt(backup, temp.h.Release());
    }
    return false;
}

// Rewrites the file in place: it keeps its identity and every hard link. The
// original bytes are copied aside first; any failure writes them back.
bool Rewrite_In_Place(const Target& target, Input_File* source, Content_Producer& producer) {
    const bool reads_target = source != nullptr && Replacement_Access::Same_File(*source, target.info);
    Input_File backup;
    if (reads_target) {
        if (!Make_Backup(Replacement_Access::Handle(*source), source->Size(), Folder_Of(target.path), backup))
            return false;
        source->Close();  // our own reader would keep us from writing
    }
    Handle h(::CreateFileW(target.path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION now;
    LARGE_INTEGER size;
    if (!h.Valid() || !::GetFileInformationByHandle(h.Get(), &now) ||
        now.dwVolumeSerialNumber != target.info.dwVolumeSerialNumber ||
        now.nFileIndexHigh != target.info.nFileIndexHigh || now.nFileIndexLow != target.info.nFileIndexLow ||
        !::GetFileSizeEx(h.Get(), &size))
        return false;
    const std::uint64_t old_size = static_cast<std::uint64_t>(size.QuadPart);
    if (!reads_target && !Make_Backup(h.Get(), old_size, Folder_Of(target.path), backup)) return false;
    Input_File* from = reads_target ? &backup : source;

    Counting_Output counter;
    if (!producer.Produce(from, counter)) return false;
    const std::uint64_t new_size = counter.Total();
    // Claim the room first: when the disk is full nothing has been written yet.
    if (new_size > old_size && !Set_Size(h.Get(), new_size)) {
        Set_Size(h.Get(), old_size);
        return false;
    }

    Positioned_Output out(h.Get());
    if (producer.Produce(from, out) && out.Written() == new_size && Set_Size(h.Get(), new_size) &&
        ::FlushFileBuffers(h.Get()))
        return true;

    // Put the original bytes back.
    if (Copy_Bytes(Replacement_Access::Handle(backup), h.Get(), old_size)) Set_Size(h.Get(), old_size);
    ::FlushFileBuffers(h.Get());
    return false;
}

// Gives the finished temporary file the old file's attributes and creation
// time, so it looks the same even where ReplaceFileW does not merge them.
bool Take_Identity(HANDLE h, const BY_HANDLE_FILE_INFORMATION* old) {
    FILE_BASIC_INFO basic{};
    if (old != nullptr) {
        basic.CreationTime.LowPart = old->ftCreationTime.dwLowDateTime;
        basic.CreationTime.HighPart = static_cast<LONG>(old->ftCreationTime.dwHighDateTime);
        basic.FileAttributes = old->dwFileAttributes &
                               (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE);
    } else {
        basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    }
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

enum class Temp_Result { Ok, Failed, Use_In_Place };

Temp_Result Prepare_Temp(Temp_File& temp, const std::wstring& path, const BY_HANDLE_FILE_INFORMATION* old,
                         Input_File* source, Content_Producer& producer) {
    if (!temp.Create(Folder_Of(path), GENERIC_WRITE)) {
        // A folder we may not add files to: the file itself may still be writable.
        return old != nullptr && temp.error == ERROR_ACCESS_DENIED ? Temp_Result::Use_In_Place
                                                                          : Temp_Result::Failed;
    }
    Handle_Output out(temp.h.Get());
    if (!producer.Produce(source, out) || !::FlushFileBuffers(temp.h.Get()) || !Take_Identity(temp.h.Get(), old))
        return Temp_Result::Failed;
    temp.h.Reset();
    return Temp_Result::Ok;
}

// Puts the finished temporary file in the target's place in one step.
bool Commit(Temp_File& temp, const std::wstring& target, bool exists) {
    if (!exists) {
        if (!::MoveFileExW(temp.name.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
        temp.name.clear();
        return true;
    }
    // The old file must be free to go. When someone holds it without letting
    // it be deleted, fail before the swap: some ReplaceFileW implementations
    // (Wine's) leave a stray backup file behind when they fail on that.
    Handle deletable(::CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!deletable.Valid()) return false;
    deletable.Reset();
    if (::ReplaceFileW(target.c_str(), temp.name.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                       nullptr)) {
        temp.name.clear();
        return true;
    }
    // Only where ReplaceFileW is not offered at all does a plain rename stand
    // in; every other error (sharing, access) means the file must stay as it is.
    const DWORD error = ::GetLastError();
    if (error != ERROR_CALL_NOT_IMPLEMENTED && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION)
        return false;
    if (!::MoveFileExW(temp.name.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    temp.name.clear();
    return true;
}

}  // namespace

bool Is_Folder(const std::string& path) {
    std::wstring wide;
    if (!Wide_Path(path, wide)) return false;
    const DWORD attributes = Followed_Attributes(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Input_File::Open(const std::string& path) {
    Close();
    std::wstring wide;
    if (!Wide_Path(path, wide) || Is_Device_Name(wide)) return false;
    // Only regular files: a pipe could make us wait, a device could react to being opened.
    const DWORD attributes = Followed_Attributes(wide);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false;
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    return Replacement_Access::Adopt(*this, h);
}

void Input_File::Close() {
    if (handle_ != kNone) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kNone;
    size_ = 0;
    device_ = inode_ = 0;
}

bool Input_File::Read_At(std::uint64_t offset, char* data, std::size_t size) {
    return Is_Open() && Pread_All(reinterpret_cast<HANDLE>(handle_), data, size, offset);
}

bool Replace_File_Content(const std::string& target_path, Input_File* source, Content_Producer& producer) {
    std::wstring wide;
    if (!Wide_Path(target_path, wide) || Is_Device_Name(wide)) return false;

    Target target;
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists) {
        if (!Inspect_Target(wide, target)) return false;
        // The read-only attribute means read-only, whoever asks.
        if ((target.info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
        if (target.info.nNumberOfLinks > 1) return Rewrite_In_Place(target, source, producer);
    } else if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
        target.path = wide;
    } else {
        return false;
    }

    Temp_File temp;
    switch (Prepare_Temp(temp, target.path, exists ? &target.info : nullptr, source, producer)) {
        case Temp_Result::Ok:
            // Our own reader must let go before the file can be swapped.
            if (source != nullptr && exists && Replacement_Access::Same_File(*source, target.info)) source->Close();
            return Commit(temp, target.path, exists);
        case Temp_Result::Use_In_Place:
            temp.Discard();
            return Rewrite_In_Place(target, source, producer);
        case Temp_Result::Failed:
            break;
    }
    return false;
}

// Each replacement is finished at once: Windows has no flush shared by many
// files that would be worth waiting for.
struct Replacement_Batch::Waiting {};

Replacement_Batch::Replacement_Batch() = default;

Replacement_Batch::~Replacement_Batch() = default;

bool Replacement_Batch::Is_Waiting(const std::string&) const { return false; }

void Replacement_Batch::Replace(const std::string& target_path, Input_File* source, Content_Producer& producer) {
    results_.push_back(Replace_File_Content(target_path, source, producer));
}

void Replacement_Batch::Flush() {}

}  // namespace quillet::platform
