// Lumavi's compression, memory files and editable streams:
// - TLumAVICompressor gathers streams with one set of compression options
//   each, lets the user choose them in the options dialog, keeps them in
//   the registry, and saves the streams to a new file with a progress event
//   that can cancel;
// - TLumAVIMemoryFile is a video file that does not come from a named file:
//   from the clipboard, a memory stream, a program resource or a list of
//   streams;
// - TLumAVIEditableStream is a stream with cut, copy, paste and clone.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/lumutils.h"
#include "core/streams.h"
#include "video/lumavi.h"

class QWidget;

namespace lum {

using TAVICompressOptions = platform::vfw::AVICOMPRESSOPTIONS;
using PAVICompressOptions = TAVICompressOptions*;

class TLumAVICompressor;

// The save progress: Percent done; setting Abort cancels the save.
using TLumAVISaveEvent = std::function<void(TLumAVICompressor* sender, int percent, bool& abort)>;

// A program resource that is not there: "Resource <name> not found".
class EResNotFound : public Exception {
public:
    using Exception::Exception;
};

// The size of a compression-options record as the registry stores it:
// eleven 32-bit fields, the two block addresses among them.
constexpr std::size_t kStoredOptionsSize = 44;

class TLumAVICompressor : public TLumNonVisualComponent {
public:
    explicit TLumAVICompressor(TComponent* owner = nullptr);
    ~TLumAVICompressor() override;

    // Streams and their options, index for index. A stream whose options
    // cannot be made is not added (the failure passes on).
    void AddStream(TLumAVIStream* stream);
    void AddFile(TLumCustomAVIFile* file);
    int GetStreamCount() const;
    TLumAVIStream* GetStreams(int index) const;
    // Null for an index outside the list, or with no list.
    PAVICompressOptions GetOptions(int index) const;
    // A new zeroed record with the defaults of the stream's type; the
    // caller owns it (a global-heap block, like its format copy).
    PAVICompressOptions NewSaveOptions(TLumAVIStream* stream);
    void FreeOptions();
    void FreeStreams();

    // The dialog's parent; none by default (components here are no windows).
    void SetOwnerHandle(QWidget* window) { FOwnerHandle = window; }
    QWidget* GetOwnerHandle() const { return FOwnerHandle; }
    bool GetChooseKeyFrame() const { return FChooseKeyFrame; }
    void SetChooseKeyFrame(bool value) { FChooseKeyFrame = value; }
    bool GetChooseDataRate() const { return FChooseDataRate; }
    void SetChooseDataRate(bool value) { FChooseDataRate = value; }
    bool GetChoosePreview() const { return FChoosePreview; }
    void SetChoosePreview(bool value) { FChoosePreview = value; }

    // The options dialog over all streams; true when the user confirmed.
    bool ChooseOptions();
    // Writes all streams with their options; false when OnSave aborted.
    // "No data to save" with no streams; only one save runs at a time.
    bool SaveToFile(const std::string& file_name);

    // The records as one binary value: each as its 44 bytes (addresses
    // written as 0) followed by its format and parameter bytes.
    void SaveOptionsToRegistry(HKEY root, const std::string& key, const std::string& value);
    // False when there is no options list, the value is missing or empty,
    // or it is damaged (a record that does not fit); nothing changes then.
    bool LoadOptionsFromRegistry(HKEY root, const std::string& key, const std::string& value);

    TLumAVISaveEvent OnSave;

private:
    friend int SaveProgressCallback(int percent);
    int Progress(int percent);

    QWidget* FOwnerHandle = nullptr;
    std::unique_ptr<std::vector<TLumAVIStream*>> FStreams;
    std::unique_ptr<std::vector<PAVICompressOptions>> FOptions;
    bool FChooseKeyFrame = false;
    bool FChooseDataRate = false;
    bool FChoosePreview = false;
};

class TLumAVIMemoryFile : public TLumCustomAVIFile {
public:
    using TLumCustomAVIFile::TLumCustomAVIFile;

    void GetFromClipboard();
    void CreateEmpty();
    void CombineStreams(const std::vector<TLumAVIStream*>& streams);
    void AddStream(TLumAVIStream* stream);
    // Drops the stream from the stream list only; the file stays as it is.
    void RemoveStream(TLumAVIStream* stream);
    // Writes the stream's bytes to a temporary ".avi" file and opens it;
    // the file is deleted when this file is closed or replaced.
    void CreateFromMemoryStream(TCustomMemoryStream* stream);
    void CreateFromResource(const std::string& name);
};

class TLumAVIEditableStream : public TLumAVIStream {
public:
    TLumAVIEditableStream() = default;

    // An editable stream over Stream (null: an empty one) in place of the
    // one held.
    void Load(TLumAVIStream* stream);
    void New() { Load(nullptr); }
    // The range as a new editable stream the caller owns.
    TLumAVIEditableStream* Copy(LONG start, LONG length);
    TLumAVIEditableStream* Cut(LONG start, LONG length);
    TLumAVIEditableStream* Clone();
    // Inserts Length samples of Source from Start at Position; the length
    // the service pasted.
    LONG Paste(LONG position, TLumAVIStream* source, LONG start, LONG length);
    void SetInfo(const TAVIStreamInfo& info);
    void SetName(const std::string& name);

protected:
    ~TLumAVIEditableStream() override = default;
};

// Whether the clipboard holds a video file.
bool AVIClipboardHasData();

} // namespace lum
