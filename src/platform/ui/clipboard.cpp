#include "platform/ui/clipboard.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>

namespace lum::platform::ui {
namespace {

constexpr UINT kFirstFormat = 0xC000;
constexpr UINT kLastFormat = 0xFFFF;

std::string Lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Everything above the service: the format names, the open bracket and the
// blocks the clipboard owns.
struct ClipboardState {
    std::mutex mutex;
    std::vector<std::string> names; // format kFirstFormat + i
    int open_count = 0;
    std::unique_ptr<ClipboardService> service = std::make_unique<LocalClipboardService>();
    std::map<UINT, HGLOBAL> given;  // blocks taken by SetClipboardData
    std::map<UINT, HGLOBAL> handed; // blocks returned by GetClipboardData

    ~ClipboardState() {
        FreeAll(given);
        FreeAll(handed);
    }

    static void FreeAll(std::map<UINT, HGLOBAL>& blocks) {
        for (auto& [format, block] : blocks)
            GlobalFree(block);
        blocks.clear();
    }

    // The name of a registered format; null for any other number.
    const std::string* Name(UINT format) const {
        if (format < kFirstFormat || format - kFirstFormat >= names.size()) return nullptr;
        return &names[format - kFirstFormat];
    }
};

ClipboardState& State() {
    static ClipboardState state;
    return state;
}

} // namespace

bool LocalClipboardService::Clear() {
    formats_.clear();
    return true;
}

bool LocalClipboardService::Put(const std::string& format, std::span<const std::byte> data) {
    std::vector<std::byte> bytes(data.begin(), data.end());
    for (auto& [name, held] : formats_) {
        if (name == format) {
            held = std::move(bytes);
            return true;
        }
    }
    formats_.emplace_back(format, std::move(bytes));
    return true;
}

std::optional<std::vector<std::byte>> LocalClipboardService::Get(const std::string& format) {
    for (auto& [name, held] : formats_)
        if (name == format) return held;
    return std::nullopt;
}

bool LocalClipboardService::Has(const std::string& format) {
    return std::any_of(formats_.begin(), formats_.end(),
                       [&](const auto& entry) { return entry.first == format; });
}

std::unique_ptr<ClipboardService>
InstallClipboardService(std::unique_ptr<ClipboardService> service) {
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    if (!service) service = std::make_unique<LocalClipboardService>();
    ClipboardState::FreeAll(s.handed);
    std::swap(s.service, service);
    return service;
}

UINT RegisterClipboardFormat(const std::string& name) {
    if (name.empty()) return 0;
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    std::string key = Lower(name);
    for (std::size_t i = 0; i < s.names.size(); ++i)
        if (Lower(s.names[i]) == key) return kFirstFormat + static_cast<UINT>(i);
    if (s.names.size() > kLastFormat - kFirstFormat) return 0;
    s.names.push_back(name);
    return kFirstFormat + static_cast<UINT>(s.names.size() - 1);
}

std::string GetClipboardFormatName(UINT format) {
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    const std::string* name = s.Name(format);
    return name ? *name : std::string();
}

bool OpenClipboard() {
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    ++s.open_count;
    return true;
}

bool CloseClipboard() {
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    if (s.open_count == 0) return false;
    if (--s.open_count == 0) ClipboardState::FreeAll(s.handed);
    return true;
}

bool EmptyClipboard() {
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    if (s.open_count == 0) return false;
    ClipboardState::FreeAll(s.given);
    ClipboardState::FreeAll(s.handed);
    return s.service->Clear();
}

HGLOBAL SetClipboardData(UINT format, HGLOBAL block) {
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    const std::string* name = s.Name(format);
    if (s.open_count == 0 || name == nullptr || block == nullptr) return nullptr;
    const auto* bytes = static_cast<const std::byte*>(GlobalLock(block));
    bool stored = bytes != nullptr && s.service->Put(*name, {bytes, GlobalSize(block)});
    GlobalUnlock(block);
    if (!stored) return nullptr;
    HGLOBAL& slot = s.given[format];
    if (slot != nullptr && slot != block) GlobalFree(slot);
    slot = block;
    return block;
}

HGLOBAL GetClipboardData(UINT format) {
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    const std::string* name = s.Name(format);
    if (s.open_count == 0 || name == nullptr) return nullptr;
    std::optional<std::vector<std::byte>> data = s.service->Get(*name);
    if (!data) return nullptr;
    HGLOBAL block = GlobalAlloc(GHND, data->size());
    if (block == nullptr) return nullptr;
    if (!data->empty()) std::memcpy(GlobalLock(block), data->data(), data->size());
    GlobalUnlock(block);
    HGLOBAL& slot = s.handed[format];
    if (slot != nullptr) GlobalFree(slot);
    slot = block;
    return block;
}

bool IsClipboardFormatAvailable(UINT format) {
    ClipboardState& s = State();
    std::lock_guard lock(s.mutex);
    const std::string* name = s.Name(format);
    return name != nullptr && s.service->Has(*name);
}

std::string ClipboardMimeType(const std::string& format_name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string mime = "application/x-lum-";
    for (unsigned char c : Lower(format_name)) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '+') {
            mime += static_cast<char>(c);
        } else {
            mime += '%';
            mime += hex[c >> 4];
            mime += hex[c & 15];
        }
    }
    return mime;
}

} // namespace lum::platform::ui
