#include "dialogs/lumavidlg.h"

#include <string_view>
#include <vector>

#include "platform/ui/vfwpreview.h"
#include "platform/vfw/buildfilter.h"
#include "video/lumavi.h"
#include "video/lumavi_draw.h"

namespace lum {

namespace {

// A file opened for reading only while it plays; frames count from the
// stream's start. Library errors end the playing instead of escaping into
// the dialog's event loop.
class FramePlayer : public platform::vfw::PanePlayer {
public:
    explicit FramePlayer(const std::string& path) {
        FFile.SetFileName(path);
        FFile.SetShareMode(smRead);
        FFile.OpenFile();
        if (FFile.GetTypedStreamCount(stVideo) > 0) FStream = FFile.GetTypedStreams(stVideo, 0);
    }
    ~FramePlayer() override {
        if (FBegun) AVIEndDrawing(FDraw);
        AVIDoneDrawing(FDraw);
    }
    bool HasVideo() const { return FStream != nullptr; }

    bool Begin(HDC dc, const RECT& rect) override {
        try {
            FStart = FStream->GetStartPos();
            FDraw = AVIInitDrawing(FStream);
            FBegun = AVIBeginDrawing(FDraw, dc, rect, FStart);
        } catch (const Exception&) {
            FBegun = false;
        }
        return FBegun;
    }

    bool Draw(HDC dc, const RECT& rect, LONG frame) override {
        try {
            return AVIDrawFrame(FDraw, dc, rect, FStart + frame);
        } catch (const Exception&) {
            return false;
        }
    }

private:
    TLumAVIFile FFile;
    TLumAVIStream* FStream = nullptr;
    PLumDrawDIB FDraw = nullptr;
    LONG FStart = 0;
    bool FBegun = false;
};

platform::BOOL RunOpenDialog(platform::ui::OPENFILENAME* ofn) {
    return platform::vfw::GetOpenFileNamePreviewA(ofn, &AVIPreviewPlayer);
}

} // namespace

std::unique_ptr<platform::vfw::PanePlayer> AVIPreviewPlayer(const std::string& path) {
    try {
        auto player = std::make_unique<FramePlayer>(path);
        if (player->HasVideo()) return player;
    } catch (const Exception&) {
    }
    return nullptr;
}

TLumAVIOpenDialog::TLumAVIOpenDialog(TComponent* owner) : TLumCustomOpenDialog(owner) {
    SetOptions(GetOptions().Include(ofHideReadOnly).Include(ofNoNetworkButton));
    SetTitle(LoadResStr(10));
    SetDefaultExt("avi");
    SetFilter(BuildFilter(false));
}

bool TLumAVIOpenDialog::Execute() {
    return ExecuteWith(&RunOpenDialog);
}

platform::HRESULT TLumAVIOpenDialog::ServiceBuildFilter(char* filter, platform::LONG size,
                                                        bool saving) {
    return platform::vfw::AVIBuildFilter(filter, size, saving ? 1 : 0);
}

std::string TLumAVIOpenDialog::BuildFilter(bool saving) {
    std::string result = LoadResStr(13);
    constexpr platform::LONG kChars = 4095;
    std::vector<char> buffer(kChars + 2, '\0');
    if (ServiceBuildFilter(buffer.data(), kChars, saving) != 0) return result;
    std::string list;
    for (const char* p = buffer.data(); *p; p += std::string_view(p).size() + 1) {
        if (!list.empty()) list += '|';
        list += p;
    }
    if (!list.empty()) result = list;
    return result;
}

TLumAVISaveDialog::TLumAVISaveDialog(TComponent* owner) : TLumAVIOpenDialog(owner) {
    SetTitle(LoadResStr(11));
    SetFilter(BuildFilter(true));
}

bool TLumAVISaveDialog::Execute() {
    return ExecuteWith(&platform::vfw::GetSaveFileNamePreviewA);
}

} // namespace lum
