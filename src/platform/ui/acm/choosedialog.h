// The choose dialog of the audio compression manager: a list of groups
// (format or filter tags) and the items of the chosen group (formats or
// filters), with OK and Cancel. The compression manager module builds the
// lists and shows the dialog through this toolkit-neutral call; the dialog
// itself is Qt, so it runs only where a QApplication does.
//
// The widgets carry object names ("ChooseGroup", "ChooseItem") so a test
// can drive the dialog without a display.
#pragma once

#include <string>
#include <vector>

namespace lum::platform::ui::acm {

struct ChoiceGroup {
    std::string name;
    std::vector<std::string> items;
};

struct ChoiceRequest {
    void* owner = nullptr; // the owning QWidget, or null
    std::string title;
    std::string groupLabel;
    std::string itemLabel;
    std::vector<ChoiceGroup> groups;
    int group = 0; // in: the first selection; out: the choice
    int item = 0;
};

enum class ChoiceResult { Chosen, Cancelled, NoDisplay };

// Shows the dialog modally. NoDisplay when no QApplication runs or there is
// nothing to choose from.
ChoiceResult RunChoiceDialog(ChoiceRequest& request);

} // namespace lum::platform::ui::acm
