// Convert_Line_Ends_In_Text with every kernel this CPU runs, against the
// literal five-pass reference. The first byte picks the options, the rest is
// the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Fuzz_Support.h"
#include "Reference_Transform.h"
#include "modConvert_Line_Ends.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const fuzz::Options o = fuzz::Options_From(data[0]);
    // An exact-size copy, so a read past the text is caught by AddressSanitizer.
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string want = reference::Convert(text, o.line_end, o.remove_duplicates, o.one_at_end);
    for (std::size_t i = 0; i < quillet::Kernel_Count(); ++i) {
        const quillet::Kernel& k = quillet::Kernel_At(i);
        if (!k.supported()) continue;
        fuzz::Kernel_Choice choice(k.name);
        const std::string got =
            modConvert_Line_Ends::Convert_Line_Ends_In_Text(text, o.line_end, o.remove_duplicates, o.one_at_end);
        if (got != want) fuzz::Mismatch("Convert_Line_Ends_In_Text", k.name, o, text, got, want);
    }
    return 0;
}
