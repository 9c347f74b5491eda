// The main window: the player, the three tabs and the state every handler shares.
#pragma once

#include "app/Controls.h"
#include "app/MediaPlayer.h"
#include "convert/JobObserver.h"
#include "convert/TransitionJob.h"
#include "output/SaveOptions.h"
#include "preview/qt/ImageView.h"
#include "raster/FrameTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

namespace kelvara {

class TForm2;
class TForm3;
class TForm5;
class TAboutForm;
class TGIFform1;
class TGIFform2;
class TSAVEparam;

// The state the handlers share.
struct SharedState {
    std::string videoPath;     // the file the open dialog returned last
    std::string videoFileName; // its name part
    int frameCount = 0;        // N
    int videoLength = 0;       // L, milliseconds
    int videoLengthSeconds = 0;
    QRect videoRect; // left, top, width, height as the player reports them
    int firstFrame = 0;
    int lastFrame = 0;
    int gifBaseWidth = 0;
    int gifBaseHeight = 0;
    Rect cropRect;
    int samplingStep = 0;
    bool abortConversion = false;
    bool userPaused = false;
    int gifDelay = 100;
    int builtFrameCount = 0;
    bool abortExtraction = false;
};

// The other windows the main window works with, created before it runs.
struct Windows {
    TForm3* form3 = nullptr;
    TForm5* form5 = nullptr;
    TAboutForm* about = nullptr;
    TForm2* form2 = nullptr;
    TGIFform1* gifForm1 = nullptr;
    TGIFform2* gifForm2 = nullptr;
    TSAVEparam* saveParam = nullptr;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(const Windows& windows, QWidget* parent = nullptr);
    ~TForm1() override;

    SharedState state;
    FrameTable extractionFrames{ExtractionFrameTableSize};
    FrameTable gifFrames{GifFrameTableSize};
    FrameTable transitionFrames{TransitionFrameTableSize};
    // The still-image save options "Save" on "Get frames" writes with; the save-parameters
    // dialog's "OK" fills them.
    StillImageSaveOptions saveOptions = defaultSaveOptions(StillImageFormat::Bmp);
    // The transition tab's sides, its settings (GIF size, duration, steps) and its four work
    // surfaces.
    TransitionTab transition;
    MediaPlayer MediaPlayer1;

    // Seams: the dialogs the handlers open. Tests replace them.
    std::function<QString()> chooseOpenFile;                 // OpenDialog1; empty when cancelled
    std::function<QString()> chooseSaveFile;                 // the GIF save dialog
    std::function<bool(const QString& path)> confirmReplace; // before replacing a file
    std::function<void(const QString& caption, const QString& text)> showWarning;
    std::function<QString()> chooseOpenPicture;     // OpenPictureDialog1
    std::function<bool(QColor& color)> chooseColor; // ColorDialog1
    std::function<bool()> askFrameNumber;           // TForm2 shown modally: true on OK
    // The save-parameters dialog, shown modally on a page: true on OK, with the page in front.
    std::function<bool(StillImageFormat& page, const Bitmap& source, StillImageSaveOptions& options)>
        runSaveDialog;
    std::function<QString()> chooseFolder; // where "Save" writes the frames

    // ---- frame and player (outside the tabs) ----
    QToolButton* SpeedButton5 = nullptr; // Open AVI
    QToolButton* SpeedButton6 = nullptr; // Help
    QToolButton* SpeedButton7 = nullptr; // About
    QLineEdit* Edit9 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QWidget* ControlPanel = nullptr;
    QToolButton* BitBtn3 = nullptr; // Play
    QToolButton* BitBtn4 = nullptr; // Pause
    QToolButton* BitBtn5 = nullptr; // Reset
    QToolButton* BitBtn1 = nullptr; // Frame step -
    QToolButton* BitBtn2 = nullptr; // Frame step +
    QLineEdit* Edit1 = nullptr;
    UpDown* UpDown1 = nullptr;
    QSlider* TrackBar2 = nullptr; // volume
    QSlider* TrackBar1 = nullptr; // seeking
    QComboBox* ComboBox5 = nullptr;
    QLabel* Label21 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    VideoDisplay* VideoPanel = nullptr;
    TImageView* GIFview = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* PreviewTimer = nullptr;
    QTimer* TransitTimer = nullptr;

    // ---- "AVI to animated GIF" ----
    QPushButton* Button5 = nullptr; // Convert
    QPushButton* Button7 = nullptr; // Abort
    QPushButton* Button4 = nullptr; // Clear GIF
    QPushButton* Button6 = nullptr; // Save
    QWidget* StatusBar2 = nullptr;
    QLabel* StatusBar2Panel0 = nullptr;
    QLabel* StatusBar2Panel1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QPushButton* Button8 = nullptr; // Pick window
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QGroupBox* GroupBox8 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QWidget* Panel6 = nullptr;
    QComboBox* ComboBox3 = nullptr;
    QWidget* Panel7 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    SpinEdit* SpinEdit8 = nullptr;
    SpinEdit* SpinEdit9 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QRadioButton* RadioButton4 = nullptr;
    QRadioButton* RadioButton5 = nullptr;
    QWidget* Panel8 = nullptr;
    QWidget* Panel9 = nullptr;
    SpinEdit* SpinEdit2 = nullptr;
    SpinEdit* SpinEdit3 = nullptr;
    SpinEdit* SpinEdit4 = nullptr;
    SpinEdit* SpinEdit5 = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QRadioButton* RadioGroup1Forward = nullptr;
    QRadioButton* RadioGroup1Backward = nullptr;
    QGroupBox* GroupBox9 = nullptr;
    SpinEdit* SpinEdit1 = nullptr;
    QGroupBox* GroupBox10 = nullptr;
    QLineEdit* Edit5 = nullptr;

    // ---- "Get frames" ----
    QPushButton* Button12 = nullptr; // Get frames
    QPushButton* Button13 = nullptr; // Abort
    QPushButton* Button14 = nullptr; // Clear results
    QPushButton* Button15 = nullptr; // Save
    QPushButton* Button16 = nullptr; // Preview
    QListWidget* lbAVI = nullptr;
    QListWidget* ListBox1 = nullptr;
    QGroupBox* GroupBox6 = nullptr;
    QRadioButton* RadioButton6 = nullptr;
    QRadioButton* RadioButton7 = nullptr;
    QWidget* Panel5 = nullptr;
    SpinEdit* SpinEdit6 = nullptr;
    SpinEdit* SpinEdit7 = nullptr;
    QGroupBox* GroupBox7 = nullptr;
    QRadioButton* RadioButton10 = nullptr;
    QRadioButton* RadioButton11 = nullptr;
    SpinEdit* SpinEdit10 = nullptr;
    SpinEdit* SpinEdit11 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* ComboBox6 = nullptr;
    QLineEdit* Edit3 = nullptr;

    // ---- "Transition effects" ----
    QPushButton* Button21 = nullptr; // Convert
    QPushButton* Button22 = nullptr; // Abort
    QPushButton* Button23 = nullptr; // Clear GIF
    QPushButton* Button24 = nullptr; // Save
    QComboBox* ComboBox4 = nullptr;
    QLineEdit* Edit4 = nullptr;
    UpDown* UpDown3 = nullptr;
    QLineEdit* Edit7 = nullptr;
    QGroupBox* GroupBox11 = nullptr;
    SpinEdit* SpinEdit12 = nullptr;
    SpinEdit* SpinEdit13 = nullptr;
    QLabel* Image10 = nullptr;
    QLabel* Image13 = nullptr;
    QLabel* Label33 = nullptr;
    QLabel* Label34 = nullptr;
    QToolButton* SpeedButton1 = nullptr; // Open image
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* SpeedButton2 = nullptr; // Empty image
    QToolButton* SpeedButton4 = nullptr;
    QToolButton* SpeedButton8 = nullptr; // Open image from a AVI
    QToolButton* SpeedButton9 = nullptr;
    QLabel* Panel3 = nullptr; // background colours
    QLabel* Panel4 = nullptr;
    TImageView* ImageView2 = nullptr;
    TImageView* ImageView3 = nullptr;

    // ---- handlers: frame and player ----
    void FormCreate();
    void FormClose();
    void FormDestroy();
    void SpeedButton5Click();
    void SpeedButton6Click();
    void SpeedButton7Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn1Click();
    void BitBtn2Click();
    void TrackBar1Change();
    void TrackBar1MouseDown(int x);
    void TrackBar1MouseUp();
    void Timer1Timer();
    void VideoPanelClick();
    void ComboBox5Change();
    void TrackBar2Change();

    // ---- handlers: "AVI to animated GIF" and window picking ----
    void ComboBox2Change();
    void SpinEdit8Change();
    void SpinEdit9Change();
    void RadioButton3Click();
    void RadioButton4Click();
    void RadioButton5Click();
    void SpinEdit1Change();
    void Edit5Change();
    void Button5Click();
    void Button7Click();
    void Button4Click();
    void Button6Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void Button8Click();
    void GIFviewMouseMove(int x, int y);
    void GIFviewMouseUp(int x, int y);
    void PreviewTimerTimer();
    void TransitTimerTimer();

    // ---- handlers: "Get frames" ----
    void RadioButton6Click();
    void RadioButton7Click();
    void SpinEdit6Change();
    void RadioButton10Click();
    void RadioButton11Click();
    void SpinEdit10Change();
    void SpinEdit11Change();
    void Button12Click();
    void Button13Click();
    void Button14Click();
    void Button15Click();
    void Button16Click();
    void lbAVIDblClick();

    // ---- handlers: "Transition effects" ----
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

    // The main window's size as the handlers set it.
    void setWindowSize(int width, int height);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFrame();
    void buildGifTab(QWidget* page);
    void buildGetFramesTab(QWidget* page);
    void buildTransitionTab(QWidget* page);
    void connectHandlers();
    void setBusyCursor(bool busy);
    void openPicture(TransitionSideKind kind);
    void emptyPicture(TransitionSideKind kind);
    void openVideoFrame(TransitionSideKind kind);
    void chooseBackground(TransitionSideKind kind);
    void showSide(TransitionSideKind kind);

    Windows m_windows;
    bool m_busyCursor = false;
    // Says why the open video is silent when its sound cannot be played.
    QLabel* m_soundStatus = nullptr;
};

// The observer a job run from a window uses: the progress bar, the message queue and an abort
// flag of the main window.
class WindowJobObserver final : public JobObserver {
public:
    WindowJobObserver(QProgressBar* bar, const bool& abortFlag) : m_bar(bar), m_abort(abortFlag) {}
    void setProgressRange(int minimum, int maximum) override;
    void setProgressPosition(int position) override;
    void pumpMessages() override;
    bool abortRequested() override { return m_abort; }

private:
    QProgressBar* m_bar;
    const bool& m_abort;
};

} // namespace kelvara
