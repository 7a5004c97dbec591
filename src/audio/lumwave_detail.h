// Inside the wave object: helpers its source files share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "audio/lumwaveio.h"

namespace lum::wave_detail {

// Owns a control block until it is handed on; closes and frees it
// otherwise.
struct BlockGuard {
    PWAVEIOCB cb = nullptr;
    BlockGuard() = default;
    BlockGuard(const BlockGuard&) = delete;
    BlockGuard& operator=(const BlockGuard&) = delete;
    ~BlockGuard() {
        if (cb != nullptr) {
            wioWaveClose(cb);
            wioFreeFileInfo(cb);
        }
    }
    PWAVEIOCB Release() { return std::exchange(cb, nullptr); }
};

inline std::int64_t DiskFileSize(const std::string& name) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(name, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

} // namespace lum::wave_detail
