// TLumACM: the compression manager as a component. It counts the
// manager's drivers, enumerates and suggests formats, shows its choose
// dialogs, and converts the wave file of its Source into a new file.
//
// Whole-file conversion (ProcessFile) runs through a conversion chain of
// the support unit, so targets no single stream reaches (44.1 kHz stereo
// PCM to 8 kHz GSM) go through intermediate PCM, and input a codec keeps
// for its next block stays inside the chain instead of being read again.
// The new file is written under a temporary name beside the target and
// renamed over it only when complete: a failed or cancelled run leaves the
// target as it was and no temporary file behind.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/lumacm.h"
#include "audio/lumregs.h"
#include "core/lumobj.h"
#include "platform/base/exception.h"

namespace lum {

class TLumCustomWaveFile;

class ELumACMError : public Exception {
public:
    using Exception::Exception;
};

enum TLumACMEnumFormats { efAll, efInput, efOutput, efConvert, efSuggest, efRestrict };

class TLumACM;
using TLumACMFormatEnum = std::function<void(TLumACM* sender, const TWaveFormatEx* format,
                                             const std::string& description, bool& go_on)>;

class TLumACM : public TLumNonVisualComponent {
public:
    // Reads the counts and the largest format and filter sizes when the
    // manager is usable; otherwise says why not through ShowMessage (a
    // setter tests and programs without a window replace).
    explicit TLumACM(TComponent* owner = nullptr);
    ~TLumACM() override;

    bool GetACMPresent() const { return present_; }
    std::uint32_t GetNumDrivers() const { return drivers_; }
    std::uint32_t GetNumCodecs() const { return codecs_; }
    std::uint32_t GetNumConverters() const { return converters_; }
    std::uint32_t GetNumFilters() const { return filters_; }
    TLumACMEnumFormats GetEnumFormats() const { return enum_formats_; }
    void SetEnumFormats(TLumACMEnumFormats v) { enum_formats_ = v; }
    const std::string& GetTitle() const { return title_; }
    void SetTitle(const std::string& v) { title_ = v; }
    TLumCustomWaveFile* GetSource() const { return source_; }
    void SetSource(TLumCustomWaveFile* source);

    // The format buffer: the last suggestion or choice.
    const TWaveFormatEx* GetFormat() const;
    // The filter buffer: the last choice.
    const acm::WAVEFILTER* GetFilter() const;

    // Passes each format of Tag to OnFormatEnum; False when none could be
    // enumerated.
    bool EnumerateFormats(WORD tag);
    // The manager's suggestion for Fmt under Flags into the format buffer;
    // Fmt itself when there is none.
    bool SuggestFormat(const TWaveFormatEx* fmt, DWORD flags);
    // The manager's choose dialogs; False when cancelled.
    bool ChooseFormat(const TWaveFormatEx* fmt, const std::string& title);
    bool ChooseFilter(const acm::WAVEFILTER* filter, const std::string& title);
    // The Source's format converts to Fmt (the Source's own without one).
    bool QueryConvert(const TWaveFormatEx* fmt, const acm::WAVEFILTER* filter);
    // Converts the Source's whole wave (a file, or a memory wave's image)
    // into the file Name. False when there is nothing to do (no manager,
    // source or name); raises ELumACMError when the conversion fails or is
    // cancelled through the Source wave's OnProgress.
    bool ProcessFile(const std::string& name, const TWaveFormatEx* fmt,
                     const acm::WAVEFILTER* filter);
    // ProcessFile with the chosen format, when the manager has converters.
    bool ConvertFile(const std::string& name);
    // With the chosen filter, when the manager has filters.
    bool FilterFile(const std::string& name);
    // A new, empty file of the chosen format on the Source's wave.
    bool CreateFile(const std::string& name);

    TLumACMFormatEnum OnFormatEnum;
    // Shows the creation messages; a message box by default.
    static std::function<void(const std::string&)> ShowMessage;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    bool present_ = false;
    std::uint32_t drivers_ = 0, codecs_ = 0, converters_ = 0, filters_ = 0;
    DWORD max_format_ = 0, max_filter_ = 0;
    TLumACMEnumFormats enum_formats_ = efAll;
    std::string title_;
    TLumCustomWaveFile* source_ = nullptr;
    std::vector<std::uint8_t> format_;
    std::vector<std::uint8_t> filter_;
};

} // namespace lum
