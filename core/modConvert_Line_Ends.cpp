#include "modConvert_Line_Ends.h"

#include <cstdint>
#include <memory>
#include <new>

#include "Line_End_Engine.h"
#include "Platform_Files.h"

namespace modConvert_Line_Ends {

namespace {

using quillet::Byte_Sink;
using quillet::Convert_State;
using quillet::Out_Buffer;
using quillet::Scan_State;

// Files are streamed in chunks of this size, so memory stays bounded however
// large the file is.
constexpr std::size_t kChunk = std::size_t{1} << 20;
// Converted bytes are gathered in a buffer this large before they go on.
constexpr std::size_t kOut = std::size_t{256} << 10;

// Per-thread buffers, allocated once: fresh pages are costly, and a batch of
// thousands of small files should not pay for them again and again.
struct Buffers {
    std::unique_ptr<char[]> in{new char[kChunk]};
    std::unique_ptr<char[]> out{new char[kOut + Out_Buffer::kSlack]};
};

Buffers& Thread_Buffers() {
    thread_local Buffers buffers;
    return buffers;
}

Out_Buffer Make_Out_Buffer(Byte_Sink& sink) {
    char* out = Thread_Buffers().out.get();
    return Out_Buffer{out, out, out + kOut, &sink};
}

Convert_State Make_State(std::string_view Line_End, bool One_Line_End_At_End) {
    Convert_State st;
    st.target = Line_End.data();
    st.target_len = Line_End.size();
    st.one_at_end = One_Line_End_At_End;
    return st;
}

class String_Sink final : public Byte_Sink {
public:
    explicit String_Sink(std::string& s) : s_(s) {}
    bool Put(const char* data, std::size_t size) override {
        s_.append(data, size);
        return true;
    }

private:
    std::string& s_;
};

class Output_Sink final : public Byte_Sink {
public:
    explicit Output_Sink(quillet::platform::Content_Output& out) : out_(out) {}
    bool Put(const char* data, std::size_t size) override { return out_.Write(data, size); }

private:
    quillet::platform::Content_Output& out_;
};

// Makes a file's new content by streaming the source through the transform.
class Convert_Producer final : public quillet::platform::Content_Producer {
public:
    Convert_Producer(std::string_view Line_End, bool Remove_Duplicates, bool One_Line_End_At_End)
        : line_end_(Line_End), remove_duplicates_(Remove_Duplicates), one_at_end_(One_Line_End_At_End) {}

    bool Produce(quillet::platform::Input_File* source, quillet::platform::Content_Output& out) override {
        const quillet::Kernel& kernel = quillet::Active_Kernel();
        char* in = Thread_Buffers().in.get();
        const std::uint64_t size = source->Size();
        Convert_State st = Make_State(line_end_, one_at_end_);
        if (remove_duplicates_) {
            // The shortest run decides what collapses, so it is found first.
            Scan_State scan;
            for (std::uint64_t off = 0; off < size && !scan.Decided();) {
                const std::size_t n = size - off < kChunk ? static_cast<std::size_t>(size - off) : kChunk;
                if (!source->Read_At(off, in, n)) return false;
                kernel.scan(scan, in, n);
                off += n;
            }
            const std::uint64_t shortest = quillet::Finish_Scan(scan);
            st.divisor = shortest > 1 ? shortest : 0;
        }
        Output_Sink sink(out);
        Out_Buffer buffer = Make_Out_Buffer(sink);
        for (std::uint64_t off = 0; off < size;) {
            const std::size_t n = size - off < kChunk ? static_cast<std::size_t>(size - off) : kChunk;
            if (!source->Read_At(off, in, n)) return false;
            if (!kernel.convert(st, in, n, buffer)) return false;
            off += n;
        }
        return quillet::Finish_Convert(st, buffer) && buffer.Flush();
    }

private:
    std::string_view line_end_;
    bool remove_duplicates_;
    bool one_at_end_;
};

class Text_Producer final : public quillet::platform::Content_Producer {
public:
    explicit Text_Producer(std::string_view text) : text_(text) {}
    bool Produce(quillet::platform::Input_File*, quillet::platform::Content_Output& out) override {
        return out.Write(text_.data(), text_.size());
    }

private:
    std::string_view text_;
};

}  // namespace

std::string Convert_Line_Ends_In_Text(std::string_view text, std::string_view Line_End,
                                      bool Remove_Duplicates, bool One_Line_End_At_End) {
    const quillet::Kernel& kernel = quillet::Active_Kernel();
    Convert_State st = Make_State(Line_End, One_Line_End_At_End);
    if (Remove_Duplicates) {
        Scan_State scan;
        kernel.scan(scan, text.data(), text.size());
        const std::uint64_t shortest = quillet::Finish_Scan(scan);
        st.divisor = shortest > 1 ? shortest : 0;
    }
    std::string result;
    // Room for a CR before every LF of lines of 16 bytes and more, without regrowing.
    result.reserve(text.size() + text.size() / 16 + 16);
    String_Sink sink(result);
    Out_Buffer buffer = Make_Out_Buffer(sink);
    kernel.convert(st, text.data(), text.size(), buffer);
    quillet::Finish_Convert(st, buffer);
    buffer.Flush();
    return result;
}

bool Read_Whole_File(const std::string& path, std::string& text) {
    try {
        quillet::platform::Input_File file;
        if (!file.Open(path)) return false;
        const std::uint64_t size = file.Size();
        if (size > text.max_size()) return false;
        text.resize(static_cast<std::size_t>(size));
        return file.Read_At(0, text.data(), text.size());
    } catch (const std::exception&) {  // out of memory: the file is too large to hold
        return false;
    }
}

bool Write_Whole_File(const std::string& path, std::string_view text) {
    try {
        Text_Producer producer(text);
        return quillet::platform::Replace_File_Content(path, nullptr, producer);
    } catch (const std::exception&) {
        return false;
    }
}

bool Convert_File_Line_Ends(const std::string& source_path, const std::string& target_path,
                            std::string_view Line_End, bool Remove_Duplicates, bool One_Line_End_At_End) {
    try {
        quillet::platform::Input_File source;
        if (!source.Open(source_path)) return false;  // nothing written: the file is untouched
        Convert_Producer producer(Line_End, Remove_Duplicates, One_Line_End_At_End);
        return quillet::platform::Replace_File_Content(target_path, &source, producer);
    } catch (const std::exception&) {
        return false;
    }
}

struct File_Batch::State {
    State(std::string_view Line_End, bool Remove_Duplicates, bool One_Line_End_At_End)
        : line_end(Line_End), producer(line_end, Remove_Duplicates, One_Line_End_At_End) {}
    std::string line_end;  // the producer keeps a view of it
    Convert_Producer producer;
    quillet::platform::Replacement_Batch batch;
};

File_Batch::File_Batch(std::string_view Line_End, bool Remove_Duplicates, bool One_Line_End_At_End)
    : state_(std::make_unique<State>(Line_End, Remove_Duplicates, One_Line_End_At_End)) {}

File_Batch::~File_Batch() = default;

void File_Batch::Convert(const std::string& path) {
    quillet::platform::Replacement_Batch& batch = state_->batch;
    try {
        // A file whose new content is still waiting is read and replaced
        // again only after that content is in place.
        if (batch.Is_Waiting(path)) batch.Flush();
        quillet::platform::Input_File source;
        if (!source.Open(path)) {
            batch.Record_Failure();
            return;
        }
        batch.Replace(path, &source, state_->producer);
    } catch (const std::exception&) {
        batch.Record_Failure();
    }
}

const std::vector<bool>& File_Batch::Results() { return state_->batch.Results(); }

}  // namespace modConvert_Line_Ends
