// The main window: the player, the three tabs and the state every handler shares.
#pragma once

#include "app/MediaPlayer.h"
#include "convert/qt/TabHost.h"
#include "raster/FrameTable.h"
#include "widgets/Controls.h"

#include <QPointer>
#include <QStringList>
#include <QStyle>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QComboBox;
class QMenu;
class QSettings;
class QProgressBar;
class QScrollArea;
class QSlider;
class QTabWidget;
class QTimer;
class QToolButton;

namespace kelvara {

class PageScroller;
class TForm2;
class TForm3;
class TForm5;
class TAboutForm;
class TGIFform1;
class TGIFform2;
class TSAVEparam;
class TImageView;
class HelpWindow;

namespace ui {
class AviToGifTab;
class GetFramesTab;
class TransitionTab;
} // namespace ui

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

// The main window. Its controls carry their names as object names; each tab is a widget of its
// own that owns its controls, and the handlers of the tabs are forwarded to it.
class TForm1 : public QWidget, public TabHost {
    Q_OBJECT
public:
    explicit TForm1(const Windows& windows, QWidget* parent = nullptr);
    ~TForm1() override;

    FrameTable extractionFrames{ExtractionFrameTableSize};
    FrameTable gifFrames{GifFrameTableSize};
    FrameTable transitionFrames{TransitionFrameTableSize};
    MediaPlayer MediaPlayer1;

    ui::AviToGifTab& aviToGifTab() { return *m_aviToGif; }
    ui::GetFramesTab& getFramesTab() { return *m_getFrames; }
    ui::TransitionTab& transitionTab() { return *m_transition; }

    // Opens a video as "Open AVI" does with the file its dialog gives: from the command line, a
    // drop on the window and the recent videos.
    void openVideo(const QString& path);

    // The settings kept between runs: the folders of the dialogs, the recent videos, the tab
    // last shown and the tabs' remembered options. Taken from settings now; written back there
    // as they change and when the window closes. Without settings nothing is kept.
    void attachSettings(std::unique_ptr<QSettings> settings);
    void saveSettings();
    // The videos opened last, the newest first (at most MaxRecentVideos).
    static constexpr int MaxRecentVideos = 10;
    const QStringList& recentVideos() const { return m_recent; }
    // The menu of the recent videos: "Open AVI" holds it (press and hold), and so does the
    // window's context menu.
    QMenu* recentMenu() const { return m_recentMenu; }
    QString lastFolder(FolderKind kind) const { return m_folders[size_t(kind)]; }

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

    // ---- handlers of "AVI to animated GIF" and window picking ----
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

    // ---- handlers of "Get frames" ----
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

    // ---- handlers of "Transition effects" ----
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

    // The window's client size as the handlers set it: where the window opens when its content
    // fits. It grows where the content needs more room (a larger font, the video below the
    // controls) and never past the screen's available area, where the video area scrolls.
    void setWindowSize(int width, int height);
    // The help window, once Help has made it.
    HelpWindow* helpWindow() const { return m_help; }

    // ---- the window as the tabs see it ----
    SharedState& state() override { return m_state; }
    Dialogs& dialogs() override { return m_dialogs; }
    QWidget* mainWindow() override { return this; }
    QRect controlsOnScreen() override;
    QProgressBar* progressBar() override { return ProgressBar1; }
    void setOpenAviEnabled(bool enabled) override;
    void setPlayerButtons(bool play, bool pause, bool reset) override;
    void pauseOperation() override { MediaPlayer1.pauseOperation(); }
    void pauseHandler() override { BitBtn4Click(); }
    void seekPlayer(int64_t frame) override { MediaPlayer1.seek(frame); }
    void showFileName() override;
    TImageView* pickingView() override { return GIFview; }
    void showPickingView(bool show) override;
    void clearFrameLists() override;
    TGIFDocument& builtGif() override;
    void sizeBuiltGifHolder(int width, int height) override;
    bool askFrameNumber(QString& text) override;
    void rememberFolder(FolderKind kind, const QString& file) override;
    void beginJob(QWidget* tab, QWidget* abortButton) override;
    void endJob() override;
    bool jobRunning() const override { return m_jobRunning; }
    bool closePending() const override { return m_closePending; }
    void showJobStatus(const QString& text) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    // The player's keys, where the control with the focus does not use them: Space plays and
    // pauses, Left and Right step, Home and End go to the first and the last frame.
    void keyPressEvent(QKeyEvent* event) override;
    // A video file dropped on the window opens.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildFrame();
    QWidget* buildControlPanel();
    void connectHandlers();
    void setRealDialogs();
    void buildShortcuts();
    void fillRecentMenu();
    void addRecentVideo(const QString& path);
    void storeRecentVideos();
    void openRecentVideo(const QString& path);
    // A key of the player (see keyPressEvent): true when it is one, which is then used up.
    bool playerKey(QKeyEvent* event);
    // Goes to a frame with the player paused (Home and End).
    void goToFrame(int64_t frame);
    void updateStepButtons();
    void setBusyCursor(bool busy);
    // Shows the video panel at a display size.
    void showVideoPanel(int width, int height);
    // Sets the window's size from the size the handlers asked for and what the content needs.
    void fitWindow();
    // The client size the controls and the whole video area need.
    QSize contentSize() const;
    // The client size the controls need, without the video area.
    QSize controlsSize() const;
    // Gives the tab pages the room the screen leaves them, before the window takes its size.
    void fitPages();
    // The page of the tab at an index (the tab itself holds the page's scroller).
    QWidget* pageAt(int index) const;
    // Where a press on the seek slider lands: the pixel of its first value and the pixels of its
    // range, as the style draws the slider.
    void seekSliderTrack(int& start, int& span) const;
    QRect seekSliderPart(QStyle::SubControl part) const;

    Windows m_windows;
    SharedState m_state;
    Dialogs m_dialogs;
    bool m_busyCursor = false;
    QSize m_designSize{752, 303};
    bool m_fitting = false;
    HelpWindow* m_help = nullptr;
    std::unique_ptr<QSettings> m_settings;
    std::array<QString, 4> m_folders;
    QStringList m_recent;
    QMenu* m_recentMenu = nullptr;
    // The job running, if any: the controls it turned off, to be turned on again when it ends,
    // and whether the window closes then.
    bool m_jobRunning = false;
    bool m_closePending = false;
    std::vector<QPointer<QWidget>> m_lockedByJob;

    ui::GetFramesTab* m_getFrames = nullptr;
    ui::AviToGifTab* m_aviToGif = nullptr;
    ui::TransitionTab* m_transition = nullptr;
    std::vector<PageScroller*> m_pageScrollers;

    QWidget* m_content = nullptr;       // everything above the video area
    QScrollArea* m_videoArea = nullptr; // the video panel or the picking view
    QWidget* m_videoHolder = nullptr;
    // Says why the open video is silent when its sound cannot be played.
    QLabel* m_soundStatus = nullptr;
    // Says how the last job ended when it did not give every frame.
    QLabel* m_jobStatus = nullptr;

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
};

} // namespace kelvara
