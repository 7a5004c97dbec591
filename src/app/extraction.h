// The still extraction: walks the first video stream of a file in steps of
// the frame step, measures each visited frame's mean colour on a 32 by 32
// thumbnail made by sampling, and writes the full frame as a 24-bit BMP
// named <folder>/<index + 10000>.BMP whenever that colour lies farther than
// the trigger level from the colour of the last still written.
//
// One engine serves the window and the command line, so both write the
// same files for the same input and settings. What differs between them
// (where the level, step and folder come from, what shows progress) goes
// through TExtractionHost.
#pragma once

#include <string>

#include "platform/base/exception.h"
#include "video/lumavi.h"
#include "video/lumdib.h"

namespace lum::app {

// A run refused before anything was read: a frame step below 1, or no
// folder to write into.
class EExtractionRefused : public Exception {
public:
    using Exception::Exception;
};

// The file format of the stills. The window writes BMP; the command line
// may ask for PNG or JPEG, written through Qt's image writers.
enum class TStillFormat { sfBmp, sfPng, sfJpeg };

// One visited frame, as measured.
struct TFrameRecord {
    LONG index = 0;
    int red = 0;
    int green = 0;
    int blue = 0;
    float distance = 0;
    bool written = false;
    std::string file; // empty when not written
};

// How a run ended. A failure from the start of reading on ends the run
// quietly; Error and FailedFrame say what and where, for those who report.
struct TExtractionResult {
    LONG length = 0;     // the stream's length when last asked
    LONG visited = 0;    // frames measured
    int written = 0;     // stills written
    LONG lastIndex = -1; // the last frame measured
    bool failed = false;
    bool cancelled = false;
    LONG failedFrame = -1; // the frame in hand when the run failed, or -1
    std::string error;
};

// The front end's side of a run. The level and the step are read as text
// in every pass, as the window reads its fields; the folder is read for
// every still written.
class TExtractionHost {
public:
    virtual ~TExtractionHost() = default;

    virtual std::string LevelText() = 0;
    virtual std::string StepText() = 0;
    virtual std::string Directory() = 0;

    // A display bitmap holding the frame; the run takes the handle over.
    // Null when it cannot be made. The default converts with
    // DIB_DIBToBitmap and releases the palette made with it.
    virtual HBITMAP ConvertFrame(const TBitmapInfoHeader* dib);

    // The format of the stills, and for JPEG its quality (0 to 100, or -1
    // for the writer's default).
    virtual TStillFormat StillFormat() { return TStillFormat::sfBmp; }
    virtual int StillQuality() { return -1; }

    // The wait cursor from the start of reading to the end of the run.
    virtual void SetBusy(bool /*busy*/) {}
    // The gauge: its maximum set, its progress put to 0 and then shown;
    // moved to each visited index; hidden at the end of the run.
    virtual void ShowProgress(LONG /*maximum*/) {}
    virtual void SetProgress(LONG /*index*/) {}
    virtual void HideProgress() {}
    // After each frame's measure and decision.
    virtual void FrameDone(const TFrameRecord& /*record*/) {}
    // Asked before every pass; true ends the run.
    virtual bool Cancelled() { return false; }
};

// The decimal text of a signed 32-bit integer, surrounding spaces allowed.
// Raises EConvertError ("'x' is not a valid integer value") otherwise.
int StrToInt(const std::string& text);

// The still's path for a frame: Directory, "/", index + 10000, then ".BMP"
// (".PNG", ".JPG" for those formats).
std::string StillPath(const std::string& directory, LONG index,
                      TStillFormat format = TStillFormat::sfBmp);

// Runs the extraction on File's first video stream. Raises
// EExtractionRefused when the step text is an integer below 1 or the
// folder is empty, and the file's own error ("File not opened") when no
// file is open; in those cases nothing is read or written. Every later
// failure ends the run at once and is only reported in the result; stills
// written before it stay.
TExtractionResult ExtractStills(TLumAVIFile& file, TExtractionHost& host);

} // namespace lum::app
