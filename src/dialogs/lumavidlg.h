// The video open and save dialogs (of unit Lumavi, kept here so that the
// video folder needs no widgets): the video service's preview dialogs,
// which show the selected video's first frame, size, length and rate
// beside the file list. They have no template of their own; the hook and
// its notifications work as in TLumCustomOpenDialog.
#pragma once

#include <string>

#include "dialogs/lumcstdlg.h"

namespace lum {

class TLumAVIOpenDialog : public TLumCustomOpenDialog {
public:
    explicit TLumAVIOpenDialog(TComponent* owner = nullptr);

    bool Execute() override;

    // The filter of the video service's file handlers, "|"-separated; the
    // message table's AVI and wave entries when the service builds none.
    std::string BuildFilter(bool saving);

protected:
    // Asks the video service for its filter list (AVIBuildFilter).
    virtual platform::HRESULT ServiceBuildFilter(char* filter, platform::LONG size, bool saving);
};

class TLumAVISaveDialog : public TLumAVIOpenDialog {
public:
    explicit TLumAVISaveDialog(TComponent* owner = nullptr);

    bool Execute() override;
};

} // namespace lum
