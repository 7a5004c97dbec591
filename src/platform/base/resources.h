// The program's resources: named binary blobs by type, compiled into the
// program from src/resources/, and the string table read from them.
// Numeric resources are named by their decimal number ("2001").
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lum::platform {

// Resource types the program carries.
inline constexpr std::string_view RT_STRINGTABLE = "STRINGTABLE";
inline constexpr std::string_view RT_CURSOR = "CURSOR";
inline constexpr std::string_view RT_ICON = "ICON";
inline constexpr std::string_view RT_BITMAP = "BITMAP";
inline constexpr std::string_view RT_DIALOG = "DIALOG";
inline constexpr std::string_view RT_AVI = "AVI";
inline constexpr std::string_view RT_WAVE = "WAVE";

struct ResourceEntry {
    const char* type;
    const char* name;
    const unsigned char* data;
    std::size_t size;
};

// The bytes of a resource, or an empty span when the program has none.
// A resource found this way stays valid for the life of the program.
std::span<const std::byte> FindResource(std::string_view type, std::string_view name);
std::span<const std::byte> FindResource(std::string_view type, unsigned id);
bool HasResource(std::string_view type, std::string_view name);
// Every resource of a type, in the order they were compiled in.
std::vector<std::string> ResourceNames(std::string_view type);

// A text of the string table, or the empty string when it has none.
std::string LoadString(unsigned id);

} // namespace lum::platform
