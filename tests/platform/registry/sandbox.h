// Keeps a test program away from the user's own registry. CTest points
// LUM_REGISTRY into the build folder; a test binary run by hand gets a
// database of its own in the temp folder, removed when it ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace lum::test {

struct RegistrySandbox {
    std::string path;
    RegistrySandbox() {
        if (std::getenv("LUM_REGISTRY") != nullptr) return;
        path = std::filesystem::temp_directory_path().string() + "/lum-registry-test-" +
               std::to_string(::getpid()) + ".db";
        ::setenv("LUM_REGISTRY", path.c_str(), 1);
    }
    ~RegistrySandbox() {
        if (path.empty()) return;
        std::error_code ec;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(path + suffix, ec);
    }
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;
};

} // namespace lum::test
