#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/registry/sandbox.h"
#include "support/testutil.h"

using namespace lum::platform;
using namespace lum::platform::registry;

namespace {

const lum::test::RegistrySandbox sandbox;

// Runs Body in a forked child and returns its exit status (-1 when it did
// not exit normally). The child never returns into the test framework.
int InChild(const std::function<int()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 1;
        try {
            rc = body();
        } catch (...) {
            rc = 99;
        }
        ::_exit(rc);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A key name unique to this process and test, so runs never see each
// other's leftovers.
std::string UniqueKey(const std::string& leaf) {
    return "Software\\LumTest\\" + std::to_string(::getpid()) + "\\" + leaf;
}

LONG SetDword(HKEY k, const std::string& name, DWORD v) {
    return RegSetValueEx(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

bool GetDword(HKEY k, const std::string& name, DWORD* v) {
    DWORD type = 0, size = sizeof *v;
    return RegQueryValueEx(k, name, nullptr, &type, reinterpret_cast<BYTE*>(v), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == 4;
}

HKEY Create(const std::string& path) {
    HKEY k = 0;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    return k;
}

} // namespace

TEST(Registry, EveryValueKindRoundTripsWithSizeQueries) {
    HKEY k = Create(UniqueKey("kinds"));
    ASSERT_NE(k, 0u);

    EXPECT_EQ(SetDword(k, "Count", 0xDEADBEEF), ERROR_SUCCESS);
    const char text[] = "hello";
    EXPECT_EQ(RegSetValueEx(k, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 5),
              ERROR_SUCCESS); // no terminator given: one is stored
    const BYTE blob[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0};
    EXPECT_EQ(RegSetValueEx(k, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(k, "Raw", 0, REG_NONE, blob, 3), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueEx(k, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);

    DWORD v = 0;
    EXPECT_TRUE(GetDword(k, "Count", &v));
    EXPECT_EQ(v, 0xDEADBEEF);

    // Size query without a buffer, then a too-small buffer, then enough.
    DWORD type = 99, size = 0;
    EXPECT_EQ(RegQueryValueEx(k, "Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u);
    char buf[16] = {};
    size = 3;
    EXPECT_EQ(RegQueryValueEx(k, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    size = sizeof buf;
    EXPECT_EQ(RegQueryValueEx(k, "Text", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "hello");

    BYTE out[12] = {};
    size = sizeof out;
    EXPECT_EQ(RegQueryValueEx(k, "Blob", nullptr, &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(std::memcmp(out, blob, 12), 0);

    size = sizeof out;
    EXPECT_EQ(RegQueryValueEx(k, "Raw", nullptr, &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_NONE);
    EXPECT_EQ(size, 3u);

    size = sizeof out;
    EXPECT_EQ(RegQueryValueEx(k, "Empty", nullptr, &type, out, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);

    // Overwriting changes kind and size.
    EXPECT_EQ(RegSetValueEx(k, "Count", 0, REG_BINARY, blob, 2), ERROR_SUCCESS);
    EXPECT_FALSE(GetDword(k, "Count", &v));

    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST(Registry, NamesIgnoreCaseAndBothSeparatorsWork) {
    std::string base = UniqueKey("Case");
    HKEY k = Create(base + "\\Sub/Deeper\\");
    ASSERT_NE(k, 0u);
    EXPECT_EQ(SetDword(k, "MixedName", 7), ERROR_SUCCESS);
    RegCloseKey(k);

    std::string lower = base;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    HKEY again = 0;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, lower + "/SUB\\deeper", 0, KEY_READ, &again),
              ERROR_SUCCESS);
    DWORD v = 0;
    EXPECT_TRUE(GetDword(again, "MIXEDNAME", &v));
    EXPECT_EQ(v, 7u);
    // A second write under another spelling replaces the same value.
    RegCloseKey(again);
    HKEY w = Create(base + "\\sub\\DEEPER");
    DWORD disposition = 0;
    HKEY w2 = 0;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, base + "\\SUB\\Deeper", 0, KEY_ALL_ACCESS, &w2,
                             &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(SetDword(w, "mixedname", 8), ERROR_SUCCESS);
    EXPECT_TRUE(GetDword(w2, "MixedName", &v));
    EXPECT_EQ(v, 8u);
    RegCloseKey(w);
    RegCloseKey(w2);

    // Roots are separate hives.
    HKEY other = 0;
    EXPECT_EQ(RegOpenKeyEx(HKEY_LOCAL_MACHINE, base + "\\Sub\\Deeper", 0, KEY_READ, &other),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(other, 0u);
}

TEST(Registry, RefusesBadHandlesKindsAndAccess) {
    HKEY k = 0;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, UniqueKey("absent"), 0, KEY_READ, &k),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyEx(0x12345, "", 0, KEY_READ, &k), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(0x12345), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);

    HKEY w = Create(UniqueKey("access"));
    EXPECT_EQ(RegSetValueEx(w, "Short", 0, REG_DWORD, reinterpret_cast<const BYTE*>("ab"), 2),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(w, "Null", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueEx(w, "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValue(w, "Missing"), ERROR_FILE_NOT_FOUND);

    HKEY r = 0;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, UniqueKey("access"), 0, KEY_READ, &r), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(r, "x", 1), ERROR_ACCESS_DENIED);
    RegCloseKey(r);
    RegCloseKey(w);
    // A closed handle is dead.
    EXPECT_EQ(SetDword(w, "x", 1), ERROR_INVALID_HANDLE);
}

TEST(Registry, DeletingValuesAndKeys) {
    std::string base = UniqueKey("del");
    HKEY parent = Create(base);
    HKEY child = Create(base + "\\child");
    EXPECT_EQ(SetDword(child, "v", 1), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(parent, "p", 2), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValue(parent, "P"), ERROR_SUCCESS);
    DWORD v = 0;
    EXPECT_FALSE(GetDword(parent, "p", &v));

    // A key with subkeys stays; a sibling whose name only starts alike
    // does not count as a subkey.
    HKEY sibling = Create(base + "_x");
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, base), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(parent, "CHILD"), ERROR_SUCCESS);
    // The open handle of a deleted key reports so instead of writing.
    EXPECT_EQ(SetDword(child, "v", 3), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKey(parent, "child"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, base), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, base + "_x"), ERROR_SUCCESS);
    // Recreating gives a fresh key without the old values.
    HKEY fresh = Create(base + "\\child");
    EXPECT_FALSE(GetDword(fresh, "v", &v));
    EXPECT_EQ(RegDeleteKey(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
    for (HKEY h : {parent, child, sibling, fresh})
        RegCloseKey(h);
    RegDeleteKey(HKEY_CURRENT_USER, base + "\\child");
    RegDeleteKey(HKEY_CURRENT_USER, base);
}

TEST(Registry, ValuesSurviveTheProcessBothWays) {
    std::string key = UniqueKey("persist");
    // Written by a child process, read here.
    int rc = InChild([&] {
        HKEY k = 0;
        if (RegCreateKeyEx(HKEY_CURRENT_USER, key, 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
            return 2;
        return SetDword(k, "FromChild", 4242) == ERROR_SUCCESS ? 0 : 3;
    });
    ASSERT_EQ(rc, 0);
    HKEY k = Create(key);
    DWORD v = 0;
    EXPECT_TRUE(GetDword(k, "FromChild", &v));
    EXPECT_EQ(v, 4242u);

    // Written here (the connection is open), read by a fresh process.
    ASSERT_EQ(SetDword(k, "FromParent", 77), ERROR_SUCCESS);
    rc = InChild([&] {
        HKEY c = 0;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, key, 0, KEY_READ, &c) != ERROR_SUCCESS) return 2;
        DWORD got = 0;
        return GetDword(c, "FromParent", &got) && got == 77 ? 0 : 3;
    });
    EXPECT_EQ(rc, 0);
    RegCloseKey(k);
}

TEST(Registry, ConcurrentWritersLoseNothing) {
    std::string key = UniqueKey("concurrent");
    HKEY k = Create(key);
    constexpr int kWrites = 150;
    auto writer = [&](int id) {
        return [&, id] {
            HKEY c = 0;
            if (RegCreateKeyEx(HKEY_CURRENT_USER, key, 0, KEY_ALL_ACCESS, &c) != ERROR_SUCCESS)
                return 2;
            for (int i = 0; i < kWrites; ++i) {
                std::string name = "w" + std::to_string(id) + "_" + std::to_string(i);
                if (SetDword(c, name, static_cast<DWORD>(id * 1000 + i)) != ERROR_SUCCESS) return 3;
                if (SetDword(c, "shared", static_cast<DWORD>(id)) != ERROR_SUCCESS) return 4;
            }
            return 0;
        };
    };
    pid_t pids[2];
    for (int id = 0; id < 2; ++id) {
        pids[id] = ::fork();
        if (pids[id] == 0) ::_exit(writer(id)());
    }
    for (pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    for (int id = 0; id < 2; ++id) {
        for (int i = 0; i < kWrites; ++i) {
            DWORD v = 0;
            std::string name = "w" + std::to_string(id) + "_" + std::to_string(i);
            ASSERT_TRUE(GetDword(k, name, &v)) << name;
            EXPECT_EQ(v, static_cast<DWORD>(id * 1000 + i));
        }
    }
    DWORD shared = 9;
    EXPECT_TRUE(GetDword(k, "shared", &shared));
    EXPECT_TRUE(shared == 0 || shared == 1);
    RegCloseKey(k);
}

TEST(Registry, DatabaseFolderIsCreatedFromTheEnvironment) {
    lum::test::TempDir dir;
    std::string path = dir.File("a/b/registry.db");
    // Each child opens its own connection at the path it finds then.
    auto with_path = [&](const std::function<int()>& body) {
        return InChild([&] {
            ::setenv("LUM_REGISTRY", path.c_str(), 1);
            return body();
        });
    };
    EXPECT_EQ(with_path([] {
                  HKEY k = 0;
                  if (RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Lum", 0, KEY_ALL_ACCESS, &k) !=
                      ERROR_SUCCESS)
                      return 2;
                  return SetDword(k, "v", 5) == ERROR_SUCCESS ? 0 : 3;
              }),
              0);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(with_path([&] {
                  if (RegistryPath() != path) return 4;
                  HKEY k = 0;
                  if (RegOpenKeyEx(HKEY_CURRENT_USER, "software/lum", 0, KEY_READ, &k) !=
                      ERROR_SUCCESS)
                      return 2;
                  DWORD v = 0;
                  return GetDword(k, "V", &v) && v == 5 ? 0 : 3;
              }),
              0);
}
