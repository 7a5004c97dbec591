// The video open and save dialogs (of unit Lumavi, kept here so that the
// video folder needs no widgets): the video service's preview dialogs,
// which show the selected video's first frame, size, length and rate
// beside the file list. The open dialog's pane plays the video through
// frame drawing. They have no template of their own; the hook and its
// notifications work as in TLumCustomOpenDialog.
#pragma once

#include <memory>
#include <string>

#include "dialogs/lumcstdlg.h"
#include "platform/ui/vfwpreview.h"

namespace lum {

// Plays the first video stream of the file at Path through frame drawing
// (AVIInitDrawing ... AVIDoneDrawing); null when the file has none.
std::unique_ptr<platform::vfw::PanePlayer> AVIPreviewPlayer(const std::string& path);

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
