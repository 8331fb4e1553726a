#include "Handle_Drop.h"

#include <cstdint>

#include "modConvert_Line_Ends.h"
#include "modFile_Exists.h"

namespace {

// What one drop has done so far; nothing of it outlives the drop.
struct Batch_Tally {
    std::int64_t converted = 0;
    std::int64_t failed = 0;
    bool folder_seen = false;
};

}  // namespace

void Handle_Drop(const Drop_Data& data, Window_Surface& surface) {
    if (!data.Has_File_List) return;

    surface.Set_Wait_Visible(true);
    surface.Read_Options();
    const Conversion_Options options = surface.Options();

    Batch_Tally tally;
    // The files are converted in list order; they share their flushes to disk,
    // so their results are counted once the last one is done.
    modConvert_Line_Ends::File_Batch files(options.Line_End, options.Remove_Duplicates,
                                           options.One_Line_End_At_End);
    for (const std::string& path : data.Files) {
        if (modFile_Exists::Folder_Exists(path))
            tally.folder_seen = true;  // folders are refused, never descended into
        else
            files.Convert(path);
    }
    for (const bool converted : files.Results()) {
        if (converted)
            ++tally.converted;
        else
            ++tally.failed;
    }

    if (tally.folder_seen)
        surface.Show_Message("Converting whole folders is not currently supported.", "Folder(s) dropped");
    if (tally.converted + tally.failed > 0)
        surface.Show_Message("Successfully converted " + std::to_string(tally.converted) +
                                 " files, there were " + std::to_string(tally.failed) + " errors.",
                             "Done");
    surface.Set_Wait_Visible(false);
}
