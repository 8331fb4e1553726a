#pragma once
// A window surface for the batch tests: it records every call in order, and
// its "controls" are plain fields that Read_Options copies.
#include <string>
#include <vector>

#include "Handle_Drop.h"

namespace test_batch {

class Recording_Surface final : public Window_Surface {
public:
    Conversion_Options controls{"\r\n", false, false};
    Conversion_Options fields{"", false, false};
    std::vector<std::string> calls;

    void Set_Wait_Visible(bool visible) override { calls.push_back(visible ? "wait shown" : "wait hidden"); }
    void Read_Options() override {
        calls.push_back("read options");
        fields = controls;
    }
    Conversion_Options Options() const override { return fields; }
    void Show_Message(const std::string& prompt, const std::string& title) override {
        calls.push_back("message [" + title + "] " + prompt);
    }
};

inline const std::string kFolder_Message =
    "message [Folder(s) dropped] Converting whole folders is not currently supported.";

inline std::string Summary(int converted, int failed) {
    return "message [Done] Successfully converted " + std::to_string(converted) + " files, there were " +
           std::to_string(failed) + " errors.";
}

}  // namespace test_batch
