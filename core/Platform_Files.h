#pragma once
// The seam between the conversion core and the operating system's files. Every
// system call the core makes goes through here: Platform_Files_Posix.cpp today,
// a Win32 version beside it later. Nothing here throws; failures are `false`.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillet::platform {

// True exactly when path names an existing folder (links followed).
bool Is_Folder(const std::string& path);

// A regular file open for reading while others may read it too. Opening never
// blocks: FIFOs, sockets and devices are refused without being opened.
class Input_File {
public:
    Input_File() = default;
    Input_File(const Input_File&) = delete;
    Input_File& operator=(const Input_File&) = delete;
    ~Input_File() { Close(); }

    bool Open(const std::string& path);
    void Close();
    bool Is_Open() const { return handle_ != kNone; }
    std::uint64_t Size() const { return size_; }
    // Reads exactly `size` bytes at `offset`; false on an error or when the
    // file ends before them.
    bool Read_At(std::uint64_t offset, char* data, std::size_t size);

private:
    friend class Replacement_Access;
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
    std::uint64_t size_ = 0;
    std::uint64_t device_ = 0;  // identity of the file, to tell when source and target are one
    std::uint64_t inode_ = 0;
};

// Where produced content goes: the new file, or a counter of its size.
class Content_Output {
public:
    virtual bool Write(const char* data, std::size_t size) = 0;

protected:
    ~Content_Output() = default;
};

// Counts what a producer makes without keeping it: the size of new content.
class Counting_Output final : public Content_Output {
public:
    bool Write(const char*, std::size_t size) override {
        total_ += size;
        return true;
    }
    std::uint64_t Total() const { return total_; }

private:
    std::uint64_t total_ = 0;
};

// Makes the new content of a file. Replace_File_Content may call it more than
// once (each call must produce the same bytes), always from the start.
class Content_Producer {
public:
    // `source` is the file to read from: the one passed to Replace_File_Content,
    // or a private copy of it when that file is being rewritten in place.
    virtual bool Produce(Input_File* source, Content_Output& out) = 0;

protected:
    ~Content_Producer() = default;
};

// Replaces the content of the file at target_path with what `producer` makes,
// safely: at every instant the path holds the whole old or the whole new
// content, and on failure the old bytes are kept and no temporary file stays.
// The file keeps its identity: permission bits, owner and group, a symbolic
// link stays a link to the converted file, hard links keep sharing it. A
// missing target is created; a read-only or non-regular one is refused.
// `source` (may be null) is the file the producer reads, when there is one.
bool Replace_File_Content(const std::string& target_path, Input_File* source,
                          Content_Producer& producer);

// Replacements that share their flush to disk. Each Replace does what
// Replace_File_Content does, except that the last step for a file (flush it,
// then swap it in) may wait until Flush, so that one flush to disk serves many
// files. Until then the path keeps its whole old content. The results come in
// the order of the calls to Replace and Record_Failure.
class Replacement_Batch {
public:
    Replacement_Batch();
    Replacement_Batch(const Replacement_Batch&) = delete;
    Replacement_Batch& operator=(const Replacement_Batch&) = delete;
    ~Replacement_Batch();  // flushes what is still waiting

    // True when the file at `path` (links followed) has a replacement waiting:
    // flush before reading or replacing it again.
    bool Is_Waiting(const std::string& path) const;
    void Replace(const std::string& target_path, Input_File* source, Content_Producer& producer);
    void Record_Failure() { results_.push_back(false); }
    void Flush();
    // Flushes, then gives one result per call so far.
    const std::vector<bool>& Results() {
        Flush();
        return results_;
    }

private:
    struct Waiting;
    std::vector<bool> results_;
    std::vector<std::unique_ptr<Waiting>> waiting_;
};

}  // namespace quillet::platform
