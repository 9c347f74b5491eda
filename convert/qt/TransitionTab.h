// The "Transition effects" tab: the source and target pictures (a picture file, a frame of the
// video, or an empty picture of a background colour), the effect, steps, duration and GIF size;
// "Convert", "Abort", "Clear GIF", "Save" and the looping preview of the result. Its settings and
// work surfaces are the transition job's model (TransitionJob.h), kept here.
#pragma once

#include "convert/TransitionJob.h"
#include "widgets/Controls.h"

#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSettings;
class QTimer;
class QToolButton;

namespace kelvara {

class FrameTable;
class TabHost;
class TGIFform2;
class TImageView;

namespace ui {

class TransitionTab : public QWidget {
    Q_OBJECT
public:
    TransitionTab(TabHost& host, FrameTable& frames, TGIFform2* preview, QWidget* parent = nullptr);

    // The sides, settings and work surfaces the handlers and the job work on.
    kelvara::TransitionTab& model() { return m_model; }

    // Start-up: 24-bit pictures and surfaces, the first effect, a 10 x 10 GIF, 1000 ms.
    void formCreate();
    // Shut-down: the surfaces and pictures let go.
    void formDestroy();
    // Whether a video is open: the "Open image from a AVI" buttons need one.
    void setVideoOpen(bool open);

    void SpeedButton1Click();
    void SpeedButton3Click();
    void SpeedButton2Click();
    void SpeedButton4Click();
    void SpeedButton8Click();
    void SpeedButton9Click();
    void Panel3DblClick();
    void Panel4DblClick();
    void Edit7Change();
    void Button21Click();
    void Button22Click();
    void Button23Click();
    void TransitTimerTimer();

    // The buttons the window's Ctrl+S and Esc press.
    QPushButton* saveButton() const { return Button24; }
    QPushButton* abortButton() const { return Button22; }

    // The settings a user expects kept between runs: effect, steps and duration.
    void saveSettings(QSettings& settings) const;
    void restoreSettings(const QSettings& settings);

protected:
    // Drops of a picture file on a side's thumbnail.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The controls of one side.
    struct SideControls {
        QLabel* caption = nullptr;        // Label26, Label28
        QLabel* sizeLabel = nullptr;      // Label33, Label34
        QFrame* bevel = nullptr;          // Bevel3, Bevel4
        QLabel* image = nullptr;          // Image10, Image13
        QToolButton* open = nullptr;      // SpeedButton1, SpeedButton3
        QToolButton* empty = nullptr;     // SpeedButton2, SpeedButton4
        QToolButton* fromVideo = nullptr; // SpeedButton8, SpeedButton9
        ColorSwatch* panel = nullptr;     // Panel3, Panel4
        TImageView* holder = nullptr;     // ImageView2, ImageView3
    };
    struct SideNames {
        const char *caption, *sizeLabel, *bevel, *image, *open, *empty, *fromVideo, *panel, *holder;
    };

    void build();
    void connectHandlers();
    QWidget* buildSide(const QString& title, const SideNames& names, SideControls& side);
    SideControls& controls(TransitionSideKind kind) {
        return kind == TransitionSideKind::Source ? m_source : m_target;
    }
    void showSide(TransitionSideKind kind);
    void openPicture(TransitionSideKind kind);
    void openPictureFile(TransitionSideKind kind, const QString& path);
    void emptyPicture(TransitionSideKind kind);
    void openVideoFrame(TransitionSideKind kind);
    void chooseBackground(TransitionSideKind kind);

    TabHost& m_host;
    FrameTable& m_frames;
    TGIFform2* m_preview;
    kelvara::TransitionTab m_model;

    SideControls m_source;
    SideControls m_target;
    QPushButton* Button21 = nullptr; // Convert
    QPushButton* Button22 = nullptr; // Abort
    QPushButton* Button23 = nullptr; // Clear GIF
    QPushButton* Button24 = nullptr; // Save
    QLabel* Label29 = nullptr;       // "Effect"
    QComboBox* ComboBox4 = nullptr;
    QLabel* Label25 = nullptr; // "Step"
    QLineEdit* Edit4 = nullptr;
    UpDown* UpDown3 = nullptr;
    QLabel* Label30 = nullptr; // "Duration (10...5000ms)"
    QLineEdit* Edit7 = nullptr;
    QGroupBox* GroupBox11 = nullptr;
    SpinEdit* SpinEdit12 = nullptr;
    SpinEdit* SpinEdit13 = nullptr;
    QTimer* TransitTimer = nullptr;
    QLabel* m_status = nullptr; // the size of the built GIF
};

} // namespace ui
} // namespace kelvara
