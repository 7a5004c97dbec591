// The system clipboard as the library sees it: formats registered by name,
// an open/close bracket, and data handed over in global-heap blocks. This
// header is toolkit-neutral. Until a toolkit clipboard is installed (the Qt
// application does so at start-up, see qtclipboard.h) a process-local one
// answers, so the command line and the tests copy and paste within the
// process. All of it belongs to the user-interface thread.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/base/globalmem.h"
#include "platform/base/wintypes.h"

namespace lum::platform::ui {

// Where the bytes of each format live. A service knows formats by their
// registered names only; numbering, the open bracket and the heap blocks
// are kept above it.
class ClipboardService {
public:
    virtual ~ClipboardService() = default;
    // Drops every format.
    virtual bool Clear() = 0;
    // Stores Data under Format beside the formats already there; a format
    // already there is replaced.
    virtual bool Put(const std::string& format, std::span<const std::byte> data) = 0;
    // The bytes under Format, nothing when the clipboard has none.
    virtual std::optional<std::vector<std::byte>> Get(const std::string& format) = 0;
    virtual bool Has(const std::string& format) = 0;
};

// The clipboard of this process alone.
class LocalClipboardService final : public ClipboardService {
public:
    bool Clear() override;
    bool Put(const std::string& format, std::span<const std::byte> data) override;
    std::optional<std::vector<std::byte>> Get(const std::string& format) override;
    bool Has(const std::string& format) override;

private:
    std::vector<std::pair<std::string, std::vector<std::byte>>> formats_;
};

// Installs the service (taking ownership) and returns the previous one;
// null installs a fresh process-local clipboard. Blocks handed out by
// GetClipboardData are released.
std::unique_ptr<ClipboardService>
InstallClipboardService(std::unique_ptr<ClipboardService> service);

// The number of the format Name (0xC000 and up), the same number for the
// same name in any letter case; 0 for an empty name or when all numbers are
// taken.
UINT RegisterClipboardFormat(const std::string& name);
// The name a format was registered with; empty for an unknown number.
std::string GetClipboardFormatName(UINT format);

// The bracket around Empty, Set and Get. Opening nests: the clipboard stays
// open until as many CloseClipboard calls as OpenClipboard calls. Close is
// false when the clipboard is not open.
bool OpenClipboard();
bool CloseClipboard();
// Drops every format; false when the clipboard is not open.
bool EmptyClipboard();
// Puts the bytes of Block (GlobalSize of them) under Format. On success the
// clipboard owns Block and returns it; null when the clipboard is not open,
// the format is unknown, Block is null or the service refuses, and Block
// then stays the caller's.
HGLOBAL SetClipboardData(UINT format, HGLOBAL block);
// A block with the bytes under Format, owned by the clipboard and valid
// until the clipboard is closed or emptied; null when it is not open or has
// no data of Format.
HGLOBAL GetClipboardData(UINT format);
// Whether the clipboard holds data of Format; needs no open bracket.
bool IsClipboardFormatAvailable(UINT format);

// The MIME type under which a toolkit clipboard carries a registered format:
// "application/x-lum-" and the name in lower case, with every byte outside
// letters, digits and ".-_+" written as %XX.
std::string ClipboardMimeType(const std::string& format_name);

} // namespace lum::platform::ui
