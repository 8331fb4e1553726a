#pragma once
#include <string>
#include <string_view>

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

}  // namespace modConvert_Line_Ends
