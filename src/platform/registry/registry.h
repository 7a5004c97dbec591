// The registry: a hierarchical store of named values under predefined root
// keys, kept in one SQLite database per user so that settings survive the
// process and can be shared by several processes at once.
//
// Keys are paths below a root ("Software\\Lum\\Foo"; "\\" and "/" both
// separate), and key and value names compare without regard to ASCII case,
// as on the original platform. Every change is one transaction. The database
// lives at $LUM_REGISTRY, else $XDG_CONFIG_HOME/snapreel/registry.db (else
// ~/.config/snapreel/registry.db); missing folders are created.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/wintypes.h"

namespace lum::platform::registry {

// A root key or a key opened by RegOpenKeyEx / RegCreateKeyEx.
using HKEY = std::uint32_t;
using REGSAM = DWORD;

constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;
constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

constexpr bool IsPredefinedKey(HKEY key) {
    return key >= HKEY_CLASSES_ROOT && key <= HKEY_DYN_DATA;
}

// Value kinds.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// Access rights of an open key.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Dispositions reported by RegCreateKeyEx.
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Result codes.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTOPEN = 1011;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;
constexpr LONG ERROR_KEY_DELETED = 1018;

// Opens SubKey below Key (a root or an open key; an empty SubKey opens Key
// again). ERROR_FILE_NOT_FOUND when the key does not exist.
LONG RegOpenKeyEx(HKEY key, std::string_view sub_key, DWORD options, REGSAM sam, HKEY* result);

// Opens SubKey below Key, creating it and any missing keys on its path.
// Disposition (optional) tells whether the key was new.
LONG RegCreateKeyEx(HKEY key, std::string_view sub_key, DWORD reserved, REGSAM sam, HKEY* result,
                    DWORD* disposition = nullptr);

// Releases an open key; closing a root key does nothing.
LONG RegCloseKey(HKEY key);

// Reads a value. Type (optional) receives its kind. With Data null and Size
// given, Size receives the value's size. With Data given, *Size is the
// buffer's size: ERROR_MORE_DATA (and the needed size in *Size) when too
// small. String values are returned with their terminating zero.
LONG RegQueryValueEx(HKEY key, std::string_view name, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* size);

// Writes a value of the given kind. REG_DWORD takes exactly 4 bytes; a
// REG_SZ value is stored with a terminating zero even when Data lacks one.
LONG RegSetValueEx(HKEY key, std::string_view name, DWORD reserved, DWORD type, const BYTE* data,
                   DWORD size);

LONG RegDeleteValue(HKEY key, std::string_view name);

// Deletes SubKey below Key with its values. A key that still has subkeys
// is not deleted (ERROR_ACCESS_DENIED), as on the original platform.
LONG RegDeleteKey(HKEY key, std::string_view sub_key);

// The database file in use (resolved from the environment on first use).
std::string RegistryPath();

} // namespace lum::platform::registry
