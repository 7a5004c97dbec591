#include "dialogs/lumavidlg.h"

#include <string_view>
#include <vector>

#include "platform/ui/vfwpreview.h"
#include "platform/vfw/buildfilter.h"

namespace lum {

TLumAVIOpenDialog::TLumAVIOpenDialog(TComponent* owner) : TLumCustomOpenDialog(owner) {
    SetOptions(GetOptions().Include(ofHideReadOnly).Include(ofNoNetworkButton));
    SetTitle(LoadResStr(10));
    SetDefaultExt("avi");
    SetFilter(BuildFilter(false));
}

bool TLumAVIOpenDialog::Execute() {
    return ExecuteWith(&platform::vfw::GetOpenFileNamePreviewA);
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
