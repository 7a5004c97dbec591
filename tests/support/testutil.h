// Small helpers for the tests: a temporary folder that removes itself,
// test data paths, running an outside program and reading whole files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lum::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// tests/data/<name>.
std::string DataPath(const std::string& name);

// Runs a shell command line; returns its exit status, stdout in Output.
int Run(const std::string& command, std::string* output = nullptr);
// True when a program is on the PATH.
bool HaveProgram(const std::string& name);

std::vector<std::uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<std::uint8_t>& data);

// Quotes a string for the shell.
std::string Quote(const std::string& s);

// Screenshot tests: this test program runs again under Xvfb on the xcb
// platform, only the cases Filter names, with Variable set to the folder
// the pictures go to (<build>/screenshots; Shots are removed from it
// first). Status and Output are the inner run's; Dir is the folder.
struct XvfbRun {
    int status = -1;
    std::string output;
    std::filesystem::path dir;
};
XvfbRun RunSelfUnderXvfb(const char* variable, const std::string& filter,
                         const std::vector<std::string>& shots);

} // namespace lum::test
