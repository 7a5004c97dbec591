#include "audio/lumacm.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "audio/lumacmstream.h"
#include "platform/vfw/audioconvert.h"

namespace lum {

acm::PFN_acmGetVersion acmGetVersion = nullptr;
acm::PFN_acmMetrics acmMetrics = nullptr;
acm::PFN_acmDriverEnum acmDriverEnum = nullptr;
acm::PFN_acmDriverDetailsA acmDriverDetailsA = nullptr;
acm::PFN_acmDriverAddA acmDriverAddA = nullptr;
acm::PFN_acmDriverRemove acmDriverRemove = nullptr;
acm::PFN_acmDriverOpen acmDriverOpen = nullptr;
acm::PFN_acmDriverClose acmDriverClose = nullptr;
acm::PFN_acmDriverMessage acmDriverMessage = nullptr;
acm::PFN_acmDriverID acmDriverID = nullptr;
acm::PFN_acmDriverPriority acmDriverPriority = nullptr;
acm::PFN_acmFormatTagDetailsA acmFormatTagDetailsA = nullptr;
acm::PFN_acmFormatTagEnumA acmFormatTagEnumA = nullptr;
acm::PFN_acmFormatChooseA acmFormatChooseA = nullptr;
acm::PFN_acmFormatDetailsA acmFormatDetailsA = nullptr;
acm::PFN_acmFormatEnumA acmFormatEnumA = nullptr;
acm::PFN_acmFormatSuggest acmFormatSuggest = nullptr;
acm::PFN_acmFilterTagDetailsA acmFilterTagDetailsA = nullptr;
acm::PFN_acmFilterTagEnumA acmFilterTagEnumA = nullptr;
acm::PFN_acmFilterChooseA acmFilterChooseA = nullptr;
acm::PFN_acmFilterDetailsA acmFilterDetailsA = nullptr;
acm::PFN_acmFilterEnumA acmFilterEnumA = nullptr;
acm::PFN_acmStreamOpen acmStreamOpen = nullptr;
acm::PFN_acmStreamClose acmStreamClose = nullptr;
acm::PFN_acmStreamSize acmStreamSize = nullptr;
acm::PFN_acmStreamConvert acmStreamConvert = nullptr;
acm::PFN_acmStreamReset acmStreamReset = nullptr;
acm::PFN_acmStreamPrepareHeader acmStreamPrepareHeader = nullptr;
acm::PFN_acmStreamUnprepareHeader acmStreamUnprepareHeader = nullptr;

namespace {

std::mutex gLock;
void* gHandle = nullptr;
bool gPresent = false;
bool gTried = false;
std::string gPath;

template <class F>
void Bind(F& slot, const char* name) {
    slot = reinterpret_cast<F>(::dlsym(gHandle, name));
}

void BindAll() {
    Bind(acmMetrics, "acmMetrics");
    Bind(acmDriverEnum, "acmDriverEnum");
    Bind(acmDriverDetailsA, "acmDriverDetailsA");
    Bind(acmDriverAddA, "acmDriverAddA");
    Bind(acmDriverRemove, "acmDriverRemove");
    Bind(acmDriverOpen, "acmDriverOpen");
    Bind(acmDriverClose, "acmDriverClose");
    Bind(acmDriverMessage, "acmDriverMessage");
    Bind(acmDriverID, "acmDriverID");
    Bind(acmDriverPriority, "acmDriverPriority");
    Bind(acmFormatTagDetailsA, "acmFormatTagDetailsA");
    Bind(acmFormatTagEnumA, "acmFormatTagEnumA");
    Bind(acmFormatChooseA, "acmFormatChooseA");
    Bind(acmFormatDetailsA, "acmFormatDetailsA");
    Bind(acmFormatEnumA, "acmFormatEnumA");
    Bind(acmFormatSuggest, "acmFormatSuggest");
    Bind(acmFilterTagDetailsA, "acmFilterTagDetailsA");
    Bind(acmFilterTagEnumA, "acmFilterTagEnumA");
    Bind(acmFilterChooseA, "acmFilterChooseA");
    Bind(acmFilterDetailsA, "acmFilterDetailsA");
    Bind(acmFilterEnumA, "acmFilterEnumA");
    Bind(acmStreamOpen, "acmStreamOpen");
    Bind(acmStreamClose, "acmStreamClose");
    Bind(acmStreamSize, "acmStreamSize");
    Bind(acmStreamConvert, "acmStreamConvert");
    Bind(acmStreamReset, "acmStreamReset");
    Bind(acmStreamPrepareHeader, "acmStreamPrepareHeader");
    Bind(acmStreamUnprepareHeader, "acmStreamUnprepareHeader");
}

void ClearAll() {
    acmGetVersion = nullptr;
    acmMetrics = nullptr;
    acmDriverEnum = nullptr;
    acmDriverDetailsA = nullptr;
    acmDriverAddA = nullptr;
    acmDriverRemove = nullptr;
    acmDriverOpen = nullptr;
    acmDriverClose = nullptr;
    acmDriverMessage = nullptr;
    acmDriverID = nullptr;
    acmDriverPriority = nullptr;
    acmFormatTagDetailsA = nullptr;
    acmFormatTagEnumA = nullptr;
    acmFormatChooseA = nullptr;
    acmFormatDetailsA = nullptr;
    acmFormatEnumA = nullptr;
    acmFormatSuggest = nullptr;
    acmFilterTagDetailsA = nullptr;
    acmFilterTagEnumA = nullptr;
    acmFilterChooseA = nullptr;
    acmFilterDetailsA = nullptr;
    acmFilterEnumA = nullptr;
    acmStreamOpen = nullptr;
    acmStreamClose = nullptr;
    acmStreamSize = nullptr;
    acmStreamConvert = nullptr;
    acmStreamReset = nullptr;
    acmStreamPrepareHeader = nullptr;
    acmStreamUnprepareHeader = nullptr;
}

std::string ProgramDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

// Unloads the module when the program ends, as the unit's finalisation.
struct Finalizer {
    ~Finalizer() { acmShutdown(); }
} gFinalizer;

} // namespace

std::vector<std::string> acmModuleCandidates(const char* env, const std::string& programDir) {
    if (env != nullptr) {
        if (*env == 0) return {};
        return {env};
    }
    std::vector<std::string> out;
    if (!programDir.empty()) {
        const std::filesystem::path dir(programDir);
        out.push_back((dir / acm::kAcmModuleName).string());
        out.push_back(
            (dir / LUM_ACM_FROM_BINDIR / acm::kAcmModuleName).lexically_normal().string());
    }
    return out;
}

bool acmStartup() {
    std::lock_guard lock(gLock);
    if (gTried) return gPresent;
    gTried = true;
    for (const std::string& file : acmModuleCandidates(std::getenv("LUM_ACM"), ProgramDir())) {
        if (::access(file.c_str(), F_OK) != 0) continue;
        gHandle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (gHandle) {
            gPath = file;
            break;
        }
    }
    if (!gHandle) return false;
    Bind(acmGetVersion, "acmGetVersion");
    if (!acmGetVersion) {
        ::dlclose(gHandle);
        gHandle = nullptr;
        gPath.clear();
        return false;
    }
    gPresent = true;
    if ((acmGetVersion() >> 16) >= 0x0200) BindAll();
    // Saves that ask for compressed audio convert through the module.
    if (acmIsUsable()) platform::vfw::SetAudioConverterFactory(&acmMakeAVIConversionStream);
    return true;
}

void acmShutdown() {
    std::lock_guard lock(gLock);
    // Takes out the converter only if it is ours.
    const platform::vfw::AudioConverterFactory was =
        platform::vfw::SetAudioConverterFactory(nullptr);
    if (was != &acmMakeAVIConversionStream) platform::vfw::SetAudioConverterFactory(was);
    ClearAll();
    if (gHandle) ::dlclose(gHandle);
    gHandle = nullptr;
    gPresent = false;
    gTried = false;
    gPath.clear();
}

bool acmIsPresent() {
    return gPresent;
}

bool acmIsUsable() {
    return gPresent && acmGetVersion && (acmGetVersion() >> 16) >= 0x0200 &&
           acmStreamOpen != nullptr;
}

std::string acmModulePath() {
    std::lock_guard lock(gLock);
    return gPath;
}

} // namespace lum
