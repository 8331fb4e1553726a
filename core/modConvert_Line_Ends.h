#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Line-end conversion of texts and of whole files. Texts are byte strings: every
// byte other than CR (13) and LF (10) passes through unchanged, in its place.
namespace modConvert_Line_Ends {

// Turns every line end (CR LF, lone CR, lone LF) into Line_End. With
// Remove_Duplicates, runs of line ends that the whole text repeats uniformly
// (the shortest run is n > 1) shrink: a run of m becomes m / n + m % n. With
// One_Line_End_At_End, the text ends in exactly one line end (an empty or
// all-line-end text becomes empty).
std::string Convert_Line_Ends_In_Text(std::string_view text, std::string_view Line_End,
                                      bool Remove_Duplicates, bool One_Line_End_At_End);

// Reads a regular file whole. False (text unspecified) when it cannot be read
// exactly: missing, not a regular file, unreadable, or shorter than its size.
bool Read_Whole_File(const std::string& path, std::string& text);

// Replaces the file's content with text, safely: the path holds either the
// whole old or the whole new content at every instant, and on failure the old
// content is left byte for byte. A missing file is created. A read-only file
// (no write permission bit) is refused, also for root.
bool Write_Whole_File(const std::string& path, std::string_view text);

// Reads source_path, converts it and writes the result over target_path with
// the same safety as Write_Whole_File. The batch passes the same path twice.
bool Convert_File_Line_Ends(const std::string& source_path, const std::string& target_path,
                            std::string_view Line_End, bool Remove_Duplicates, bool One_Line_End_At_End);

// Converts many files in place, one after the other, each as
// Convert_File_Line_Ends (path, path, ...) would. The files may share their
// final flush to disk, so a file's result is known only once Results() is
// asked; until then a file still waiting keeps its whole old content. A path
// converted twice is converted the second time from the first's output.
class File_Batch {
public:
    File_Batch(std::string_view Line_End, bool Remove_Duplicates, bool One_Line_End_At_End);
    ~File_Batch();
    void Convert(const std::string& path);
    // One result per Convert call, in order: true when that file was converted.
    const std::vector<bool>& Results();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace modConvert_Line_Ends
