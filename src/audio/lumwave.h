// The wave object and the components that carry one.
//
// TLumWave stands for one wave file on disk (a file wave) or one wave file
// image held in memory (a memory wave). It exposes the format and length,
// plays through the simple sound player, reads sample data through a play
// window (start and end position, less the regions of an external cut
// list), writes into new files, and saves, converts or imports whole files
// with progress reports. Every public position and length is in the
// TimeFormat's unit; inside, positions are samples.
//
// Whole-file operations write a temporary file beside the target and move
// it over the target with one rename, so the target is never lost, also
// when the target is the wave's own file; no temporary file is left behind
// when they fail.
//
// TLumCustomWaveFile and TLumCustomMemoryWave put a wave into the sound
// chain, as a source (playing the wave) or as a sink (recording into it).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/lumwaveio.h"
#include "chain/lumdspobj.h"
#include "core/lumobj.h"
#include "core/lumobsrv.h"
#include "core/lumutils.h"
#include "editing/lumcutlst.h"
#include "platform/base/bytestream.h"
#include "platform/base/exception.h"

namespace lum {

class ELumWaveError : public Exception {
public:
    using Exception::Exception;
};

enum TLumPlayMode { pmSync, pmAsync, pmLoop };

class TLumWave;
// Current and Total are bytes; setting Cancel ends the operation.
using TLumWaveProgress =
    std::function<void(TLumWave* sender, std::int64_t current, std::int64_t total, bool& cancel)>;

// The fades of a play. Fades themselves are not defined yet: the list holds
// at most one entry (the start level), and a wave fades its data only when
// a list has more than one, so reads come out unchanged.
class TLumFadeList {
public:
    int GetCount() const { return static_cast<int>(levels_.size()); }
    void Clear() { levels_.clear(); }
    // The level at the start of the play; replaces any former entry.
    void SetStartLevel(std::int32_t level) { levels_.assign(1, level); }
    // Applies the fades to Bytes of PCM at sample Position of the play. With
    // at most one entry there is no change of level to apply.
    void Apply(const TWaveFormatEx* fmt, void* data, std::int32_t bytes,
               std::int32_t position) const;

private:
    std::vector<std::int32_t> levels_;
};

class TLumWave : public TLumObject {
public:
    // A file wave; with MemoryWave true, a memory wave.
    explicit TLumWave(bool memory_wave = false);
    ~TLumWave() override;

    bool IsMemoryWave() const { return memory_; }

    // Unit conversions on the format (0 when empty).
    virtual std::int32_t SamplesToBytes(std::int32_t samples) const;
    virtual std::int32_t BytesToSamples(std::int32_t bytes) const;
    virtual std::int32_t RealSamplesToSamples(std::int32_t samples) const { return samples; }
    virtual std::int32_t SamplesToRealSamples(std::int32_t samples) const { return samples; }
    virtual std::int32_t SamplesToTimeFormat(std::int32_t samples) const;
    virtual std::int32_t TimeFormatToSamples(std::int32_t value) const;

    // Loading and state.
    virtual void SetFileName(const std::string& name);
    void LoadFromFile(const std::string& name) { SetFileName(name); }
    const std::string& GetFileName() const { return file_name_; }
    // Memory waves only: the stream's whole content becomes the image.
    virtual void LoadFromStream(platform::ByteStream& stream);
    // Writes the memory image as it is (nothing for a file wave or an empty
    // wave). This and LoadFromStream carry the wave's "Data".
    virtual void SaveToStream(platform::ByteStream& stream) const;
    // A new, empty wave of that format, to be written.
    void SetPWaveFormat(const TWaveFormatEx* fmt);
    // Takes Cb over (the wave frees it).
    void SetPWaveIOCB(PWAVEIOCB cb);
    virtual const TWaveFormatEx* GetPWaveFormat() const;
    PWAVEIOCB GetPWaveIOCB() const { return cb_; }
    // The first sample byte of a memory wave.
    const std::uint8_t* GetPWaveData() const;
    const std::vector<std::uint8_t>& GetImage() const { return image_; }

    std::string GetInfoChunk(const std::string& id) const;
    void SetInfoChunk(const std::string& id, const std::string& text);
    // The text DISP item; with Dib (a packed DIB) also the bitmap item.
    void SetDispChunk(const std::string& text, const void* dib = nullptr);
    std::string GetDispText() const;

    void ClearWave();
    void FreeWave();
    void Assign(const TPersistent* source) override;

    // Properties.
    bool GetFileMustExist() const { return file_must_exist_; }
    void SetFileMustExist(bool v) { file_must_exist_ = v; }
    TLumTimeFormats GetTimeFormat() const { return time_format_; }
    void SetTimeFormat(TLumTimeFormats f);
    std::int32_t GetIOBufferSize() const { return io_buffer_size_; }
    void SetIOBufSize(std::int32_t n);
    int GetBitLength() const;
    TLumMode GetMode() const;
    int GetFormatTag() const;
    std::string GetFormatString() const;
    std::int32_t GetSampleRate() const;
    std::int64_t GetFileSize() const;
    std::int32_t GetDataSize() const;
    bool GetIgnoreFades() const { return ignore_fades_; }
    void SetIgnoreFades(bool v);
    TLumFadeList* GetFadeList() const { return fades_.get(); }

    // The play window.
    virtual void SetCutList(TLumCutList* list);
    TLumCutList* GetCutList() const { return cut_list_; }
    const TLumCutList& GetRegions() const { return regions_; }
    void InitRegionList();
    void AddRegion(std::int32_t start, std::int32_t length);
    virtual void SetPosition(std::int32_t p);
    std::int32_t GetPosition() const;
    void SetStartPos(std::int32_t p);
    std::int32_t GetStartPos() const;
    void SetEndPos(std::int32_t p);
    std::int32_t GetEndPos() const;
    std::int32_t GetLengthSamples() const;
    std::int32_t GetLengthBytes() const;
    std::int32_t GetLength() const { return SamplesToTimeFormat(GetLengthSamples()); }
    std::int32_t GetBytesLeft() const { return bytes_left_; }
    bool IsOpen() const { return open_; }

    // Streaming.
    virtual void OpenFile();
    virtual void CloseFile();
    // Plays again from the current position after a wrap of the source.
    virtual void ResetFile() {}
    // Bytes read from the play window, or -1 when empty or nothing is
    // left. A read that finds nothing where bytes were expected answers
    // with up to 4 bytes of the format's silence and ends the play.
    std::int32_t ReadDataBytes(void* buffer, std::int32_t n) { return ReadData(buffer, n); }
    std::int32_t ReadDataSamples(void* buffer, std::int32_t samples);
    std::int32_t WriteDataBytes(const void* buffer, std::int32_t n) { return WriteData(buffer, n); }
    std::int32_t WriteDataSamples(const void* buffer, std::int32_t samples);
    // Creates Name anew (an existing file is replaced) for writing Fmt.
    void CreateFile(const std::string& name, const TWaveFormatEx* fmt);
    bool IsWriting() const { return writing_; }

    // Whole files.
    void SaveToFile(const std::string& name);
    void ConvertFile(const std::string& name, const TWaveFormatEx* fmt);
    // Makes a wave of Name's samples and loads it. The new file is Target,
    // or Name with the extension ".WAV" when Target is empty; it may not be
    // the source itself.
    void ImportFromRaw(const std::string& name, int bits, std::int32_t rate, int channels,
                       std::int32_t header_bytes = 0, const std::string& target = {});

    // Through the simple sound player; False for an empty wave.
    bool PlaySound(TLumPlayMode mode);
    void StopSound();

    void AddObserver(TLumObserver* observer) { observable_.AddObserver(observer); }
    void RemoveObserver(TLumObserver* observer) { observable_.RemoveObserver(observer); }

    TLumWaveProgress OnProgress;

protected:
    void Changed() override;
    // Raised between blocks of the whole-file operations.
    virtual void Progress(std::int64_t current, std::int64_t total, bool& cancel);

    virtual std::int32_t ReadInternal(void* buffer, std::int32_t n);
    virtual std::int32_t ReadData(void* buffer, std::int32_t n);
    virtual std::int32_t WriteData(const void* buffer, std::int32_t n);
    virtual void InitPlayFadeList();

private:
    enum class Job { Save, Convert, Import };
    // Reads region by region; 0 when nothing came.
    std::int32_t ReadRegions(void* buffer, std::int32_t n);
    void Seek(std::int32_t sample);
    // Closes the file; a file written into is described again (Reload).
    void Close(bool reload);
    // Opens the file for appending samples after its data.
    void OpenForAppend();
    // Writes a new file of Fmt from the blocks Read gives (the bytes to
    // write, 0 at the end; Consumed the source bytes they came from, for
    // the progress), through a temporary file moved over Target.
    using BlockReader =
        std::function<std::int32_t(std::vector<std::uint8_t>& out, std::int64_t& consumed)>;
    void WriteThroughTemp(Job job, const std::string& target, const TWaveFormatEx* fmt,
                          PWAVEIOCB info_from, std::int64_t total, const BlockReader& read);
    void Adopt(PWAVEIOCB cb);
    [[noreturn]] void Raise(std::uint16_t ident) const;
    friend class TLumCustomWaveFile;
    std::uint8_t SilenceByte() const;

    bool memory_;
    std::vector<std::uint8_t> image_;
    PWAVEIOCB cb_ = nullptr;
    std::string file_name_;
    std::int64_t file_size_ = -1; // of FileName when it was read
    bool file_must_exist_ = true;
    TLumTimeFormats time_format_ = tfSample;
    std::int32_t io_buffer_size_ = 32768;

    std::int32_t start_ = 0; // samples
    std::int32_t end_ = 0;
    std::int32_t position_ = 0;
    int region_ = 0;
    std::int32_t region_bytes_left_ = 0;
    std::int32_t bytes_left_ = 0;
    std::int32_t window_bytes_ = 0;

    bool open_ = false;
    bool writing_ = false; // the file was made or opened for writing
    bool sound_started_ = false;
    bool assigning_ = false;
    bool changed_while_assigning_ = false;

    TLumCutList* cut_list_ = nullptr;
    TLumCutList regions_;
    std::unique_ptr<TLumFadeList> fades_;
    bool ignore_fades_ = false;
    TLumObservable observable_;
};

// ---------------------------------------------------------------------------
// Components

// A wave in the chain. Without an Input it is a source: opened, it opens
// the wave at its position; each buffer gets the wave's next bytes (silence
// while disabled or not started), and when a looping wave output pulls,
// the used-up wave starts again (LoopCount 0 endlessly, n for n + 1 plays;
// OnLooping on the pulling thread). With an Input it records: opened, it
// creates the named file anew in the input's format (OverwriteExisting, or
// an empty wave) or appends to it, writes every buffer that passes, and on
// closing leaves at least four bytes of silence in the file. OnOpen and
// OnClose run on the main thread; OnChange and OnChanged follow the wave.
class TLumCustomWaveFile : public TLumDSPComponent {
public:
    explicit TLumCustomWaveFile(TComponent* owner = nullptr, bool memory_wave = false);
    ~TLumCustomWaveFile() override;

    TLumWave* GetWave() const { return wave_.get(); }
    void SetWave(const TLumWave* wave) { wave_->Assign(wave); }
    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool v) { enabled_ = v; }
    bool GetOverwriteExisting() const { return overwrite_; }
    void SetOverwriteExisting(bool v) { overwrite_ = v; }
    // True while the component records into its wave.
    bool IsRecording() const { return recording_; }

    void Opened() override;
    void Closed() override;
    void Reseting() override;
    void BufferLoad(platform::WAVEHDR* hdr, bool& more_buffers) override;
    void BufferReady(platform::WAVEHDR* hdr) override;
    std::optional<TLumDSPComponent*> PublishedPort(std::string_view name) const override;

    TLumDSPNotifyEvent OnOpen;
    TLumDSPNotifyEvent OnClose;
    TLumDSPNotifyEvent OnChange;
    TLumDSPNotifyEvent OnChanged;
    TLumDSPNotifyEvent OnLooping;

private:
    void WaveChanged();
    // Whether the headers pulled through this member carry the looping
    // extension: the output at the end of the chain loops.
    bool OutputLoops() const;
    void RaiseOnMain(const TLumDSPNotifyEvent& event);

    std::unique_ptr<TLumWave> wave_;
    TLumObserver observer_;
    bool enabled_ = true;
    bool overwrite_ = true;
    bool recording_ = false;
    std::int64_t recorded_ = 0;
};

class TLumWaveFile : public TLumCustomWaveFile {
public:
    explicit TLumWaveFile(TComponent* owner = nullptr) : TLumCustomWaveFile(owner, false) {}
};

class TLumCustomMemoryWave : public TLumCustomWaveFile {
public:
    explicit TLumCustomMemoryWave(TComponent* owner = nullptr) : TLumCustomWaveFile(owner, true) {}
};

class TLumMemoryWave : public TLumCustomMemoryWave {
public:
    using TLumCustomMemoryWave::TLumCustomMemoryWave;
};

} // namespace lum
