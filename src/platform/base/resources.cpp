#include "platform/base/resources.h"

#include <charconv>
#include <mutex>
#include <unordered_map>

// Filled by the resource compiler step (src/resources/).
extern const lum::platform::ResourceEntry kLumResources[];
extern const std::size_t kLumResourceCount;

namespace lum::platform {
namespace {

std::span<const std::byte> AsBytes(const ResourceEntry& e) {
    return {reinterpret_cast<const std::byte*>(e.data), e.size};
}

// The string table is stored as lines "<number><TAB><text>"; it is parsed
// once, on first use.
const std::unordered_map<unsigned, std::string>& StringTable() {
    static std::once_flag once;
    static std::unordered_map<unsigned, std::string> table;
    std::call_once(once, [] {
        for (std::size_t i = 0; i < kLumResourceCount; ++i) {
            const ResourceEntry& e = kLumResources[i];
            if (RT_STRINGTABLE != e.type) continue;
            std::string_view text(reinterpret_cast<const char*>(e.data), e.size);
            while (!text.empty()) {
                std::size_t eol = text.find('\n');
                std::string_view line = text.substr(0, eol);
                text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                std::size_t tab = line.find('\t');
                if (tab == std::string_view::npos || line.front() == '#') continue;
                unsigned id = 0;
                auto [ptr, ec] = std::from_chars(line.data(), line.data() + tab, id);
                if (ec != std::errc() || ptr != line.data() + tab) continue;
                table[id] = std::string(line.substr(tab + 1));
            }
        }
    });
    return table;
}

} // namespace

std::span<const std::byte> FindResource(std::string_view type, std::string_view name) {
    for (std::size_t i = 0; i < kLumResourceCount; ++i) {
        const ResourceEntry& e = kLumResources[i];
        if (type == e.type && name == e.name) return AsBytes(e);
    }
    return {};
}

std::span<const std::byte> FindResource(std::string_view type, unsigned id) {
    return FindResource(type, std::to_string(id));
}

bool HasResource(std::string_view type, std::string_view name) {
    for (std::size_t i = 0; i < kLumResourceCount; ++i) {
        if (type == kLumResources[i].type && name == kLumResources[i].name) return true;
    }
    return false;
}

std::vector<std::string> ResourceNames(std::string_view type) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kLumResourceCount; ++i) {
        if (type == kLumResources[i].type) names.emplace_back(kLumResources[i].name);
    }
    return names;
}

std::string LoadString(unsigned id) {
    const auto& table = StringTable();
    auto it = table.find(id);
    return it == table.end() ? std::string() : it->second;
}

} // namespace lum::platform
