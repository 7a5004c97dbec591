#include "support/testutil.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace lum::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "lumtest-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string DataPath(const std::string& name) {
    const char* root = std::getenv("LUM_TEST_DATA");
    std::string base = root ? root : "tests/data";
    return base + "/" + name;
}

int Run(const std::string& command, std::string* output) {
    // A test program that runs itself again (under Xvfb, say) must run the
    // case it names, not its shard's share of the cases.
    const std::string line = "unset GTEST_TOTAL_SHARDS GTEST_SHARD_INDEX; " + command;
    FILE* pipe = ::popen(line.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) {
        if (output) output->append(buf.data(), n);
    }
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveProgram(const std::string& name) {
    return Run("command -v " + Quote(name) + " >/dev/null 2>&1") == 0;
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

XvfbRun RunSelfUnderXvfb(const char* variable, const std::string& filter,
                         const std::vector<std::string>& shots) {
    namespace fs = std::filesystem;
    // The build folder: LUM_BUILD_DIR, else the one this binary sits in
    // (<build>/src/<folder>/). Absolute: dialogs may move the current folder.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const char* build = std::getenv("LUM_BUILD_DIR");
    const fs::path root = build ? fs::path(build) : fs::path(self).parent_path() / ".." / "..";
    XvfbRun run;
    run.dir = fs::weakly_canonical(fs::absolute(root) / "screenshots");
    fs::create_directories(run.dir);
    for (const std::string& shot : shots)
        fs::remove(run.dir / shot);
    run.status = Run("xvfb-run -a -s '-screen 0 1024x768x24' env QT_QPA_PLATFORM=xcb " +
                         std::string(variable) + "=" + Quote(run.dir.string()) + " " + Quote(self) +
                         " --gtest_filter=" + Quote(filter) + " 2>&1",
                     &run.output);
    return run;
}

} // namespace lum::test
