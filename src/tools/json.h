// JSON text for the commands' --json output.
#pragma once

#include <string>

namespace lum::tools {

// A quoted JSON string. Text that is not valid UTF-8 (INFO items are often
// Latin-1) is taken byte by byte as Latin-1, so the output always parses.
std::string JsonString(const std::string& text);

} // namespace lum::tools
