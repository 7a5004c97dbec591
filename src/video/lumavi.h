// Video files and their streams, the library's object layer over the video
// service: a reference-counted stream object, the video file components with
// their stream lists, the stream-type searches, and the unit's error
// reporting. Every service result passes through AVICheck, which raises
// ELumAVIError "AVI error (%8x): %s".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/lumobj.h"
#include "platform/base/exception.h"
#include "platform/base/wintypes.h"
#include "platform/vfw/vfw.h"

namespace lum {

using platform::DWORD;
using platform::FOURCC;
using platform::HRESULT;
using platform::LONG;
using platform::vfw::PAVIFILE;
using platform::vfw::PAVISTREAM;
using TAVIStreamInfo = platform::vfw::AVISTREAMINFO;
using TAVIFileInfo = platform::vfw::AVIFILEINFO;
using TWaveFormatEx = platform::WAVEFORMATEX;

// The unit's one exception class; it carries only a message.
class ELumAVIError : public Exception {
public:
    using Exception::Exception;
};

enum TLumAVIStreamType : std::uint8_t { stVideo, stAudio, stText, stMidi, stOther };
enum TLumAccessMode : std::uint8_t { amRead, amWrite, amReadWrite };
enum TLumShareMode : std::uint8_t { smNone, smRead, smWrite, smReadWrite };
enum TLumAVIFindDirection : std::uint8_t { fdFromStart, fdNext, fdPrev };
enum TLumAVIFindType : std::uint8_t { ftKeyFrame, ftFormatChange, ftNonEmpty };

// A set of find types, ORed into the service's flags.
class TLumAVIFindTypes {
public:
    TLumAVIFindTypes() = default;
    TLumAVIFindTypes(std::initializer_list<TLumAVIFindType> types) {
        for (auto t : types)
            bits_ |= 1u << t;
    }
    bool Contains(TLumAVIFindType t) const { return bits_ & (1u << t); }

private:
    unsigned bits_ = 0;
};

// The service values of the enumerations.
FOURCC AVIStreamTypeCode(TLumAVIStreamType type); // stOther: 0, any type
TLumAVIStreamType AVIStreamTypeOf(FOURCC code);
DWORD AVIAccessModeValue(TLumAccessMode mode);
DWORD AVIShareModeValue(TLumShareMode mode);
LONG AVIFindFlags(TLumAVIFindDirection direction, TLumAVIFindTypes types);

// Error reporting.
std::string AVIGetErrorString(HRESULT code);
// Raises ELumAVIError for any code but 0.
void AVICheck(HRESULT code);
// 0 and the listed codes come back; any other code raises.
HRESULT AVICheckExcl(HRESULT code, std::initializer_list<HRESULT> allowed);

// The root of the unit's reference-counted objects: created with a count of
// 1, destroyed by the Release that takes the count from 1. Whoever stores
// one calls AddRef, and Release when done. Create them with new.
class TLumAVIObject : public TLumObject {
public:
    TLumAVIObject() : FRefCount(1) {}
    void AddRef() { ++FRefCount; }
    void Release();
    std::int32_t GetRefCount() const { return FRefCount; }

protected:
    ~TLumAVIObject() override = default;

private:
    std::int32_t FRefCount;
};

// One stream of a video file. It holds one service reference on its handle
// (which may be empty) and the suggested buffer size its file gave it.
// Positions are sample numbers, times milliseconds.
class TLumAVIStream : public TLumAVIObject {
public:
    TLumAVIStream() = default;
    explicit TLumAVIStream(PAVISTREAM stream);

    // Handle and description.
    void SetPStream(PAVISTREAM stream);
    PAVISTREAM GetPStream() const; // raises "Stream not opened"
    bool HasPStream() const { return FPStream != nullptr; }
    void LoadFromFile(const std::string& file_name, TLumAVIStreamType type, LONG index);
    void GetStreamInfo(TAVIStreamInfo& info) const;
    TLumAVIStreamType GetStreamType() const;
    std::string GetName() const;
    long double GetFrameRate() const; // 0 when dwScale is 0
    DWORD StreamSampleSize() const;
    LONG GetSuggestedBufferSize() const { return FSuggestedBufferSize; }
    void SetSuggestedBufferSize(LONG size) { FSuggestedBufferSize = size; }

    // Format.
    LONG GetFormatSize(LONG position) const;
    void GetFormat(LONG position, void* buffer, LONG size) const;
    void SetFormat(LONG position, const void* buffer, LONG size);

    // Positions.
    LONG GetStartPos() const;
    LONG GetEndPos() const;
    LONG GetLength() const;
    LONG GetStartPosTime() const;
    LONG GetEndPosTime() const;
    LONG GetLengthTime() const;
    LONG TimeToSamples(LONG time) const;
    LONG SamplesToTime(LONG position) const;

    // Searching; FindSample never raises and answers -1 when nothing is found.
    LONG FindSample(LONG position, TLumAVIFindDirection direction, TLumAVIFindTypes kind) const;
    bool IsKeyFrame(LONG position) const;
    LONG PrevKeyFrame(LONG position) const;
    LONG NextKeyFrame(LONG position) const;
    LONG NearestKeyFrame(LONG position) const;
    LONG PrevKeyFrameTime(LONG time) const;
    LONG NextKeyFrameTime(LONG time) const;
    LONG NearestKeyFrameTime(LONG time) const;

    // Reading.
    LONG SampleSize(LONG position, LONG count) const;
    void Read(LONG start, void* buffer, LONG buffer_size, LONG samples, LONG* bytes = nullptr,
              LONG* samples_read = nullptr) const;
    void ReadSamples(LONG position, void* buffer, LONG count) const;
    LONG ReadBytes(LONG position, void* buffer, LONG size) const;

    // Writing and extra data.
    void WriteSamples(LONG position, const void* buffer, LONG count, bool key_frame);
    void WriteBytes(LONG position, const void* buffer, LONG size, bool key_frame);
    void DeleteSamples(LONG position, LONG count);
    LONG GetDataSize(FOURCC id) const;
    void ReadData(FOURCC id, void* buffer, LONG size) const;
    void WriteData(FOURCC id, const void* buffer, LONG size);

protected:
    ~TLumAVIStream() override;

private:
    PAVISTREAM FPStream = nullptr;
    LONG FSuggestedBufferSize = 0;
};

// A video file: its service handle (which may be empty), the list of its
// streams (made when first needed; each entry holds one reference), and an
// optional temporary file that is deleted whenever the handle is replaced or
// closed. Streams handed out by the accessors are borrowed.
class TLumCustomAVIFile : public TLumNonVisualComponent {
public:
    explicit TLumCustomAVIFile(TComponent* owner = nullptr);
    ~TLumCustomAVIFile() override;

    virtual PAVIFILE GetPFile() const; // raises "File not opened"
    void SetPFile(PAVIFILE file);
    void CloseFile() { SetPFile(nullptr); }
    bool Opened() const { return FPFile != nullptr; }

    int GetStreamCount();
    bool GetEmpty() { return GetStreamCount() <= 0; }
    TLumAVIStream* GetStreams(int index);
    int GetTypedStreamCount(TLumAVIStreamType type);
    TLumAVIStream* GetTypedStreams(TLumAVIStreamType type, int n);
    virtual void OpenStreams();
    virtual void CloseStreams();
    void GetFileInfo(TAVIFileInfo& info) const;

    LONG GetDataSize(FOURCC id) const;
    void ReadData(FOURCC id, void* buffer, LONG size) const;
    void WriteData(FOURCC id, const void* buffer, LONG size);
    void EndRecord();
    void PutOnClipboard();

    // The returned stream has a count of 2; the caller owns one reference.
    TLumAVIStream* CreateStream(const TAVIStreamInfo& info);
    TLumAVIStream* CreateAudioStream(const TWaveFormatEx* format, const std::string& name);
    TLumAVIStream* CreateVideoStream(DWORD rate, const std::string& name);

protected:
    void AccessStreams();
    // Takes Stream out of the stream list, releasing the list's reference;
    // false when it is not listed.
    bool DropStream(TLumAVIStream* stream);
    const std::string& GetTempFileName() const { return FTempFileName; }
    void SetTempFileName(const std::string& name) { FTempFileName = name; }

private:
    PAVIFILE FPFile = nullptr;
    std::unique_ptr<std::vector<TLumAVIStream*>> FStreams;
    std::string FTempFileName;
};

// A video file opened by name with an access and a share mode.
class TLumAVIFile : public TLumCustomAVIFile {
public:
    using TLumCustomAVIFile::TLumCustomAVIFile;

    const std::string& GetFileName() const { return FFileName; }
    // A different name closes the file first; the same name changes nothing.
    void SetFileName(const std::string& name);
    TLumAccessMode GetAccessMode() const { return FAccessMode; }
    void SetAccessMode(TLumAccessMode mode) { FAccessMode = mode; }
    TLumShareMode GetShareMode() const { return FShareMode; }
    void SetShareMode(TLumShareMode mode) { FShareMode = mode; }

    DWORD GetOpenFlags() const;
    void OpenFile();
    void CreateFile();

private:
    std::string FFileName;
    TLumAccessMode FAccessMode = amRead;
    TLumShareMode FShareMode = smNone;
};

// Stream descriptions.
void AVINewStreamInfo(FOURCC type, TAVIStreamInfo& info);
void AVINewVideoStreamInfo(DWORD rate, TAVIStreamInfo& info);
void AVINewAudioStreamInfo(const TWaveFormatEx* format, TAVIStreamInfo& info);
// Position in Target at the time of Position in Source.
LONG AVISampleToSample(const TLumAVIStream* source, const TLumAVIStream* target, LONG position);

// Streams in one temporary file shared by their creators. The file lives
// until the last of them is closed with AVICloseStream, then it is deleted.
TLumAVIStream* AVICreateStream(const TAVIStreamInfo& info);
TLumAVIStream* AVICreateAudioStream(const TWaveFormatEx* format);
TLumAVIStream* AVICreateVideoStream(DWORD rate);
void AVICloseStream(TLumAVIStream* stream);

} // namespace lum

// Compression, memory files and editable streams.
#include "video/lumavi_compress.h"
