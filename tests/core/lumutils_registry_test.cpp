#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

#include "core/lumutils.h"
#include "platform/base/exception.h"
#include "platform/registry/registry.h"
#include "platform/registry/sandbox.h"

using namespace lum;
namespace reg = lum::platform::registry;

namespace {

const lum::test::RegistrySandbox sandbox;

std::string TestKey(const std::string& leaf) {
    return "Software\\LumTest\\Utils" + std::to_string(::getpid()) + "\\" + leaf;
}

struct Options {
    std::int32_t quality;
    std::int32_t keyframes;
    std::uint8_t flags[4];
};

} // namespace

TEST(RegistryPersistence, EveryVariantKindRoundTrips) {
    const HKEY root = reg::HKEY_CURRENT_USER;
    const std::string key = TestKey("kinds");
    const TLumVariant values[] = {
        std::int16_t{-1234},
        std::int32_t{-2000000000},
        std::uint8_t{200},
        1.5f,
        3.141592653589793,
        TCurrency{123456789},
        TDateTime{45000.75},
        std::string("über"),
        std::wstring(L"\u00fcber \u65e5\u672c"),
        true,
        false,
    };
    int i = 0;
    for (const TLumVariant& v : values) {
        std::string name = "v" + std::to_string(i++);
        SaveInRegistry(root, key, name, v);
        // A default of the same kind but another value must be replaced.
        TLumVariant def = v;
        std::visit(
            [](auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::string>)
                    x = "default";
                else if constexpr (std::is_same_v<T, std::wstring>)
                    x = L"default";
                else if constexpr (std::is_same_v<T, bool>)
                    x = !x;
                else if constexpr (std::is_same_v<T, TCurrency>)
                    x.Scaled = 0;
                else if constexpr (std::is_same_v<T, TDateTime>)
                    x.Value = 0;
                else if constexpr (std::is_arithmetic_v<T>)
                    x = 7;
            },
            def);
        ASSERT_NE(def, v);
        EXPECT_EQ(GetFromRegistry(root, key, name, def), v) << name;
    }
}

TEST(RegistryPersistence, StoredKindsAreTheOnesOtherReadersExpect) {
    const std::string key = TestKey("layout");
    SaveInRegistry(reg::HKEY_CURRENT_USER, key, "int", std::int16_t{5});
    SaveInRegistry(reg::HKEY_CURRENT_USER, key, "flag", true);
    SaveInRegistry(reg::HKEY_CURRENT_USER, key, "real", 0.25f);
    SaveInRegistry(reg::HKEY_CURRENT_USER, key, "money", TCurrency{-5});
    reg::HKEY k = 0;
    ASSERT_EQ(reg::RegOpenKeyEx(reg::HKEY_CURRENT_USER, key, 0, reg::KEY_READ, &k),
              reg::ERROR_SUCCESS);
    auto kind_and_size = [&](const char* name) {
        platform::DWORD type = 0, size = 0;
        reg::RegQueryValueEx(k, name, nullptr, &type, nullptr, &size);
        return std::make_pair(type, size);
    };
    EXPECT_EQ(kind_and_size("int"), std::make_pair(reg::REG_DWORD, 4u));
    EXPECT_EQ(kind_and_size("flag"), std::make_pair(reg::REG_DWORD, 4u));
    EXPECT_EQ(kind_and_size("real"), std::make_pair(reg::REG_BINARY, 8u)); // as a double
    EXPECT_EQ(kind_and_size("money"), std::make_pair(reg::REG_BINARY, 8u));
    reg::RegCloseKey(k);
}

TEST(RegistryPersistence, DefaultsForMissingAndErrorsForWrongKinds) {
    const HKEY root = reg::HKEY_CURRENT_USER;
    const std::string key = TestKey("defaults");
    EXPECT_EQ(GetFromRegistry(root, TestKey("no such key"), "x", std::int32_t{42}),
              TLumVariant(std::int32_t{42}));
    SaveInRegistry(root, key, "text", std::string("abc"));
    EXPECT_EQ(GetFromRegistry(root, key, "missing", std::string("d")),
              TLumVariant(std::string("d")));

    // Read with another kind than stored.
    EXPECT_THROW(GetFromRegistry(root, key, "text", std::int32_t{0}), ERegistryException);
    EXPECT_THROW(GetFromRegistry(root, key, "text", 1.0), ERegistryException);
    SaveInRegistry(root, key, "big", std::int32_t{300});
    EXPECT_THROW(GetFromRegistry(root, key, "big", std::uint8_t{0}), ERegistryException);
    EXPECT_THROW(GetFromRegistry(root, key, "big", std::string()), ERegistryException);
    try {
        GetFromRegistry(root, key, "big", 2.0);
        FAIL();
    } catch (const ERegistryException& e) {
        EXPECT_NE(e.Message().find("'big'"), std::string::npos) << e.Message();
    }
    // A null cannot be stored; an unassigned variant stores nothing.
    EXPECT_THROW(SaveInRegistry(root, key, "null", TVarNull{}), EConvertError);
    SaveInRegistry(root, key, "empty", std::monostate{});
    EXPECT_EQ(GetFromRegistry(root, key, "empty", std::int32_t{-1}), TLumVariant(std::int32_t{-1}));
}

TEST(RegistryPersistence, RootsOutsideThePredefinedRangeMeanTheCurrentUser) {
    const std::string key = TestKey("roots");
    SaveInRegistry(0x12345678, key, "n", std::int32_t{11});
    EXPECT_EQ(GetFromRegistry(reg::HKEY_CURRENT_USER, key, "n", std::int32_t{0}),
              TLumVariant(std::int32_t{11}));
    EXPECT_EQ(GetFromRegistry(reg::HKEY_LOCAL_MACHINE, key, "n", std::int32_t{0}),
              TLumVariant(std::int32_t{0}));
}

TEST(RegistryPersistence, BinaryRecordsWithSizeQuery) {
    const HKEY root = reg::HKEY_CURRENT_USER;
    const std::string key = TestKey("binary");
    Options saved{75, 15, {1, 2, 3, 4}};
    static_assert(sizeof(Options) == 12);
    SaveInRegistryBinary(root, key, "Options", &saved, sizeof saved);

    Options out{};
    std::memset(&out, 0xCC, sizeof out);
    // Size 0 asks the size and writes nothing.
    EXPECT_EQ(GetFromRegistryBinary(root, key, "Options", &out, 0), 12);
    EXPECT_EQ(out.quality, static_cast<std::int32_t>(0xCCCCCCCC));
    EXPECT_EQ(GetFromRegistryBinary(root, key, "Options", &out, sizeof out), 12);
    EXPECT_EQ(std::memcmp(&out, &saved, sizeof out), 0);

    char small[8];
    EXPECT_THROW(GetFromRegistryBinary(root, key, "Options", small, sizeof small),
                 ERegistryException);
    EXPECT_EQ(GetFromRegistryBinary(root, key, "Absent", &out, sizeof out), 0);
    EXPECT_EQ(GetFromRegistryBinary(root, TestKey("no such key"), "Options", &out, sizeof out), 0);
    reg::HKEY probe = 0; // reading never creates the key
    EXPECT_EQ(reg::RegOpenKeyEx(root, TestKey("no such key"), 0, reg::KEY_READ, &probe),
              reg::ERROR_FILE_NOT_FOUND);

    SaveInRegistry(root, key, "Number", std::int32_t{1});
    EXPECT_EQ(GetFromRegistryBinary(root, key, "Number", nullptr, 0), 4);
    EXPECT_THROW(GetFromRegistryBinary(root, key, "Number", &out, sizeof out), ERegistryException);

    // Nothing is written for sizes of 0 or less.
    SaveInRegistryBinary(root, key, "Nothing", &saved, 0);
    EXPECT_EQ(GetFromRegistryBinary(root, key, "Nothing", nullptr, 0), 0);
}
