// The compression options dialog: one page of choices at a time for the
// stream chosen at the top. Video streams choose a compressor (or none: the
// samples as they are), its quality, a key frame every so many frames and
// a data rate; audio streams show their format, which stays; every stream
// chooses the interleave. With the preview asked for, the first frame shows
// as the chosen compressor makes it.
#pragma once

#include <vector>

#include <QDialog>

#include "platform/ui/saveoptions.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;
class QStackedWidget;

namespace lum::platform::vfw {

class SaveOptionsDialog : public QDialog {
    Q_OBJECT
public:
    // Works on copies of the records; Results gives them back.
    SaveOptionsDialog(QWidget* parent, UINT flags, std::vector<PAVISTREAM> streams,
                      std::vector<AVICOMPRESSOPTIONS> records);

    const std::vector<AVICOMPRESSOPTIONS>& Results() const { return records_; }
    // The stream whose choices show.
    int Current() const { return current_; }
    void ShowStream(int index);
    // The first frame as the current choices make it, or a null image.
    QImage PreviewImage() const;

    void accept() override;

private:
    void Load(int index);
    void Store(int index);
    void Enable();
    void UpdatePreview();

    UINT flags_;
    std::vector<PAVISTREAM> streams_;
    std::vector<AVICOMPRESSOPTIONS> records_;
    int current_ = -1;

    QComboBox* stream_;
    QStackedWidget* pages_;
    QComboBox* compressor_;
    QCheckBox* quality_default_;
    QSlider* quality_;
    QLabel* quality_value_;
    QCheckBox* key_frames_;
    QSpinBox* key_every_;
    QCheckBox* data_rate_;
    QSpinBox* data_rate_value_;
    QLabel* audio_format_;
    QCheckBox* interleave_;
    QSpinBox* interleave_every_;
    QLabel* preview_;
};

} // namespace lum::platform::vfw
