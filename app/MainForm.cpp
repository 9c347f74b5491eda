// The main window: construction, start-up and shut-down, the player and its controls.
#include "app/MainForm.h"

#include "app/Forms.h"
#include "app/HelpWindow.h"
#include "app/PageScroller.h"
#include "convert/qt/AviToGifTab.h"
#include "convert/qt/GetFramesTab.h"
#include "convert/qt/TransitionTab.h"
#include "preview/qt/GifPreviewForm.h"
#include "preview/qt/ImageView.h"
#include "raster/Error.h"
#include "widgets/FormHelpers.h"
#include "widgets/SlotGuard.h"
#include "widgets/WindowFit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace kelvara {

namespace {

// The open dialog's filters: every video the frame source reads, AVI files alone, and any file
// (a video is known by its content, not its name).
const char* const OpenVideoFilter =
    "Video files (*.avi *.mp4 *.m4v *.mov *.mkv *.webm *.mpg *.mpeg *.ts *.flv *.ogv *.wmv);;"
    "AVI files (*.avi);;All files (*)";

// The player's and the window's buttons: a 20-pixel icon, as their glyphs had. The hint names
// the button for screen readers; the tooltip adds the key that presses it.
QToolButton* glyphButton(QWidget* parent, const char* name, const QString& hint, QStyle::StandardPixmap icon,
                         const QString& key = QString()) {
    QToolButton* button = toolButton(parent, name, hint, icon);
    button->setIconSize(QSize(20, 20));
    if (!key.isEmpty()) {
        button->setToolTip(hint + " (" + key + ")");
        // Screen readers and scripts know the button by its hint; the key is the tooltip's.
        button->setAccessibleDescription(hint);
    }
    return button;
}

// The settings' names of the dialogs' folders, in the order of FolderKind.
const char* const FolderKeys[] = {"folders/videos", "folders/pictures", "folders/gifs", "folders/frames"};

QString twoDigits(int v) {
    return v < 10 ? "0" + QString::number(v) : QString::number(v);
}

// The filter of the picture-open dialog: every type the picture reader reads.
const char* const PictureFilter =
    "All pictures (*.jpg *.jpeg *.jpe *.jp2 *.j2k *.jpc *.j2c *.png *.tif *.tiff *.fax *.g3n *.g3f *.pcx "
    "*.gif "
    "*.wmf *.emf *.bmp *.dib *.rle *.cur *.ico *.tga *.targa *.vda *.icb *.vst *.win *.pxm *.ppm *.pgm "
    "*.pbm);;"
    "JPEG (*.jpg *.jpeg *.jpe);;JPEG 2000 (*.jp2 *.j2k *.jpc *.j2c);;PNG (*.png);;"
    "TIFF (*.tif *.tiff *.fax *.g3n *.g3f);;PCX (*.pcx);;GIF (*.gif);;Metafiles (*.wmf *.emf);;"
    "Windows bitmaps (*.bmp *.dib *.rle);;Cursors and icons (*.cur *.ico);;"
    "Targa (*.tga *.targa *.vda *.icb *.vst *.win);;Portable anymaps (*.pxm *.ppm *.pgm *.pbm)";

} // namespace

// ---- construction ----

TForm1::TForm1(const Windows& windows, QWidget* parent) : QWidget(parent), m_windows(windows) {
    setObjectName("Form1");
    setWindowTitle("Kelvara 5.2");
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    buildFrame();
    connectHandlers();
    buildShortcuts();
    setRealDialogs();
    FormCreate();
    setWindowSize(752, 303);
    centreOnScreen(this);
}

TForm1::~TForm1() {
    FormDestroy();
}

void TForm1::setRealDialogs() {
    m_dialogs.chooseOpenFile = [this] {
        return QFileDialog::getOpenFileName(this, QString(), lastFolder(FolderKind::Videos), OpenVideoFilter);
    };
    m_dialogs.chooseSaveFile = [this](const QString& suggestedName) {
        // Where GIFs were saved last, else beside the video.
        QString folder = lastFolder(FolderKind::SavedGifs);
        if (folder.isEmpty() && !m_state.videoPath.empty())
            folder = QFileInfo(QString::fromStdString(m_state.videoPath)).absolutePath();
        QFileDialog dialog(this, "Save GIF", folder, "GIF files (*.gif)");
        if (!suggestedName.isEmpty())
            dialog.selectFile(suggestedName);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("gif");
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
    m_dialogs.confirmReplace = [this](const QString& path) {
        return QMessageBox::question(this, "Kelvara 5.2", "\"" + path + "\" already exists. Replace it?") ==
               QMessageBox::Yes;
    };
    m_dialogs.showWarning = [this](const QString& caption, const QString& text) {
        QMessageBox::warning(this, caption, text, QMessageBox::Ok);
    };
    m_dialogs.chooseOpenPicture = [this] {
        return QFileDialog::getOpenFileName(this, "Open image", lastFolder(FolderKind::Pictures),
                                            PictureFilter);
    };
    m_dialogs.chooseColor = [this](QColor& color) {
        QColor chosen = QColorDialog::getColor(color, this);
        if (!chosen.isValid())
            return false;
        color = chosen;
        return true;
    };
    m_dialogs.askFrameNumber = [this] {
        return m_windows.form2 && m_windows.form2->exec() == QDialog::Accepted;
    };
    TSAVEparam* saveParam = m_windows.saveParam;
    m_dialogs.runSaveDialog = [saveParam](StillImageFormat& page, const Bitmap& source,
                                          StillImageSaveOptions& options) {
        if (!saveParam || !saveParam->execute(page, source, options))
            return false;
        page = saveParam->page();
        return true;
    };
    m_dialogs.chooseFolder = [this] {
        return QFileDialog::getExistingDirectory(this, "Save frames to", lastFolder(FolderKind::SavedFrames));
    };
}

QWidget* TForm1::buildControlPanel() {
    ControlPanel = named(new QWidget(this), "ControlPanel");
    ControlPanel->setEnabled(false);
    BitBtn3 = glyphButton(ControlPanel, "BitBtn3", "Play", QStyle::SP_MediaPlay, "Space");
    BitBtn4 = glyphButton(ControlPanel, "BitBtn4", "Pause", QStyle::SP_MediaPause, "Space");
    BitBtn5 = glyphButton(ControlPanel, "BitBtn5", "Reset", QStyle::SP_MediaStop);
    BitBtn1 = glyphButton(ControlPanel, "BitBtn1", "Frame step -", QStyle::SP_MediaSeekBackward, "Left");
    BitBtn1->setEnabled(false);
    BitBtn2 = glyphButton(ControlPanel, "BitBtn2", "Frame step +", QStyle::SP_MediaSeekForward, "Right");
    BitBtn2->setEnabled(false);
    Edit1 = named(new QLineEdit(ControlPanel), "Edit1");
    Edit1->setToolTip("Frame step");
    Edit1->setAccessibleName("Frame step");
    fitEditTo(Edit1, "00000");
    Edit1->setEnabled(false);
    UpDown1 = named(new UpDown(ControlPanel), "UpDown1");
    UpDown1->setMinimum(1);
    UpDown1->setBuddy(Edit1);
    UpDown1->setPosition(1);
    UpDown1->setEnabled(false);
    TrackBar2 = named(new QSlider(Qt::Horizontal, ControlPanel), "TrackBar2");
    TrackBar2->setToolTip("Volume Bar");
    TrackBar2->setAccessibleName("Volume");
    TrackBar2->setRange(0, 100);
    TrackBar2->setSingleStep(1);
    TrackBar2->setValue(100);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(BitBtn3);
    buttons->addWidget(BitBtn4);
    buttons->addWidget(BitBtn5);
    buttons->addSpacing(10);
    buttons->addWidget(BitBtn1);
    auto* step = new QHBoxLayout;
    step->setSpacing(0);
    step->addWidget(Edit1);
    step->addWidget(UpDown1);
    buttons->addLayout(step);
    buttons->addWidget(BitBtn2);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(ControlPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(TrackBar2);
    return ControlPanel;
}

void TForm1::buildFrame() {
    m_content = new QWidget(this);

    SpeedButton5 = glyphButton(m_content, "SpeedButton5", "Open AVI", QStyle::SP_DialogOpenButton, "Ctrl+O");
    SpeedButton6 = glyphButton(m_content, "SpeedButton6", "Help", QStyle::SP_DialogHelpButton, "F1");
    SpeedButton7 = glyphButton(m_content, "SpeedButton7", "About", QStyle::SP_MessageBoxInformation);
    // The recent videos: press and hold "Open AVI".
    m_recentMenu = named(new QMenu("&Recent videos", this), "RecentMenu");
    connect(m_recentMenu, &QMenu::aboutToShow, this, &TForm1::fillRecentMenu);
    fillRecentMenu();
    SpeedButton5->setMenu(m_recentMenu);
    SpeedButton5->setPopupMode(QToolButton::DelayedPopup);
    auto infoEdit = [this](const char* name, const QString& hint, const QString& longest) {
        auto* e = named(new QLineEdit(m_content), name);
        e->setReadOnly(true);
        // Information only: the Tab key passes it by; a click still selects its text to copy.
        e->setFocusPolicy(Qt::ClickFocus);
        e->setToolTip(hint);
        e->setStyleSheet("QLineEdit { background: black; color: rgb(240, 202, 166); }");
        e->setAccessibleName(hint);
        fitEditTo(e, longest);
        return e;
    };
    Edit9 = infoEdit("Edit9", "Frame size (width x height)", "00000 x 00000");
    Edit8 = infoEdit("Edit8", "Time length", "00:00:00 / 00:00:00");
    Edit6 = infoEdit("Edit6", "Frames count", "000000 / 000000");
    auto* top = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{SpeedButton5, SpeedButton6, SpeedButton7})
        top->addWidget(w);
    top->addSpacing(6);
    for (QWidget* w : std::initializer_list<QWidget*>{Edit9, Edit8, Edit6})
        top->addWidget(w);
    top->addStretch(1);

    Label21 = named(new ElidingLabel(m_content), "Label21");
    QFont bold = Label21->font();
    bold.setBold(true);
    Label21->setFont(bold);
    m_soundStatus = named(new QLabel(m_content), "SoundStatus");
    m_soundStatus->setWordWrap(true);
    m_soundStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The sound line takes the room the left column has; it does not widen the window.
    m_soundStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_jobStatus = named(new QLabel(m_content), "JobStatus");
    m_jobStatus->setWordWrap(true);
    m_jobStatus->setAccessibleName("Job status");
    m_jobStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_jobStatus->hide();
    auto* left = new QVBoxLayout;
    left->addWidget(buildControlPanel());
    left->addWidget(Label21);
    left->addWidget(m_jobStatus);
    left->addWidget(m_soundStatus, 1);

    PageControl1 = named(new QTabWidget(m_content), "PageControl1");
    m_getFrames = new ui::GetFramesTab(*this, extractionFrames, m_windows.form5);
    // The picking view is the AVI tab's; it sits in the video panel's place.
    VideoPanel = named(new VideoDisplay, "VideoPanel");
    GIFview = named(new TImageView, "GIFview");
    m_aviToGif = new ui::AviToGifTab(*this, gifFrames, m_windows.gifForm1);
    m_transition = new ui::TransitionTab(*this, transitionFrames, m_windows.gifForm2);
    // Each page in a scroller: where the screen is too small for the window the controls need,
    // the pages scroll rather than squeeze their controls over each other.
    const std::pair<QWidget*, const char*> pages[] = {{m_getFrames, "Get frames"},
                                                      {m_aviToGif, "AVI to animated GIF"},
                                                      {m_transition, "Transition effects"}};
    for (const auto& [page, caption] : pages) {
        auto* scroller = new PageScroller(page);
        m_pageScrollers.push_back(scroller);
        PageControl1->addTab(scroller, caption);
    }

    TrackBar1 = named(new QSlider(Qt::Horizontal, m_content), "TrackBar1");
    TrackBar1->setToolTip("Seeking Bar (Home, End)");
    TrackBar1->setAccessibleName("Seeking Bar");
    TrackBar1->setAccessibleDescription("Seeking Bar");
    TrackBar1->setSingleStep(1);
    TrackBar1->setRange(0, 0);
    TrackBar1->setEnabled(false);
    TrackBar1->installEventFilter(this);
    ComboBox5 = named(new QComboBox(m_content), "ComboBox5");
    ComboBox5->setToolTip("Scale");
    ComboBox5->setAccessibleName("Scale");
    ComboBox5->addItems({"50 %", "100 %", "200 %"});
    ComboBox5->setCurrentIndex(1);
    ComboBox5->setEnabled(false);

    auto* grid = new QGridLayout(m_content);
    grid->setContentsMargins(5, 5, 5, 0);
    grid->addLayout(top, 0, 0, 1, 2);
    grid->addLayout(left, 1, 0);
    grid->addWidget(PageControl1, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* seekRow = new QHBoxLayout;
    seekRow->addWidget(TrackBar1, 1);
    seekRow->addWidget(ComboBox5);
    grid->addLayout(seekRow, 2, 0, 1, 2);

    // The video area: the video panel, or the picking view in its place, at 1:1 from the top
    // left; a video larger than the screen allows scrolls.
    m_videoArea = named(new QScrollArea(this), "VideoArea");
    m_videoArea->setFrameShape(QFrame::NoFrame);
    m_videoArea->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_videoArea->setWidgetResizable(false);
    m_videoArea->setMinimumSize(0, 0);
    m_videoHolder = new QWidget;
    VideoPanel->setParent(m_videoHolder);
    VideoPanel->setToolTip("Click for Play (Stop)");
    // The video takes the focus when it opens or is clicked, so that the player's keys reach the
    // window rather than a button or a list of the tabs.
    VideoPanel->setFocusPolicy(Qt::StrongFocus);
    VideoPanel->installEventFilter(this);
    VideoPanel->setAccessibleName("Video");
    VideoPanel->move(0, 0);
    VideoPanel->hide();
    GIFview->setParent(m_videoHolder);
    GIFview->setBackgroundColor(QApplication::palette().color(QPalette::Light));
    GIFview->move(0, 0);
    GIFview->hide();
    m_videoArea->setWidget(m_videoHolder);
    m_videoArea->hide();

    ProgressBar1 = named(new QProgressBar(this), "ProgressBar1");
    ProgressBar1->setTextVisible(false);
    // An idle bar is empty (a range of 0..0 would draw the busy animation).
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    ProgressBar1->setFixedHeight(10);
    ProgressBar1->setAccessibleName("Progress");

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(5);
    root->addWidget(m_content);
    auto* videoRow = new QHBoxLayout;
    videoRow->setContentsMargins(5, 0, 5, 0);
    videoRow->addWidget(m_videoArea);
    root->addLayout(videoRow, 1);
    root->addWidget(ProgressBar1);

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(100);
    setAcceptDrops(true);
}

void TForm1::buildShortcuts() {
    // Open, save, quit and help work from every window of the program (the previews, the help);
    // Esc stays with the window it is pressed in.
    const auto shortcut = [this](const QKeySequence& keys, const char* name, std::function<void()> action) {
        auto* s = new QShortcut(keys, this);
        s->setObjectName(name);
        if (keys != QKeySequence(Qt::Key_Escape))
            s->setContext(Qt::ApplicationShortcut);
        connect(s, &QShortcut::activated, this, guarded(std::move(action)));
    };
    // A key presses its button, and only while the button can be pressed.
    const auto press = [](QAbstractButton* button) {
        if (button && button->isEnabled() && button->isVisibleTo(button->window()))
            button->click();
    };
    shortcut(QKeySequence("Ctrl+O"), "OpenShortcut", [this, press] { press(SpeedButton5); });
    shortcut(QKeySequence("F1"), "HelpShortcut", [this, press] { press(SpeedButton6); });
    shortcut(QKeySequence("Ctrl+Q"), "QuitShortcut", [this] { close(); });
    // Save and Esc go to the tab in front.
    shortcut(QKeySequence("Ctrl+S"), "SaveShortcut", [this, press] {
        QWidget* tab = pageAt(PageControl1->currentIndex());
        press(tab == m_getFrames  ? m_getFrames->saveButton()
              : tab == m_aviToGif ? m_aviToGif->saveButton()
                                  : m_transition->saveButton());
    });
    shortcut(QKeySequence(Qt::Key_Escape), "AbortShortcut", [this] {
        for (QAbstractButton* abort : std::initializer_list<QAbstractButton*>{
                 m_getFrames->abortButton(), m_aviToGif->abortButton(), m_transition->abortButton()})
            if (abort->isEnabled())
                abort->click();
    });
}

void TForm1::connectHandlers() {
    connect(SpeedButton5, &QToolButton::clicked, this, guarded(this, &TForm1::SpeedButton5Click));
    connect(SpeedButton6, &QToolButton::clicked, this, guarded(this, &TForm1::SpeedButton6Click));
    connect(SpeedButton7, &QToolButton::clicked, this, guarded(this, &TForm1::SpeedButton7Click));
    connect(BitBtn3, &QToolButton::clicked, this, guarded(this, &TForm1::BitBtn3Click));
    connect(BitBtn4, &QToolButton::clicked, this, guarded(this, &TForm1::BitBtn4Click));
    connect(BitBtn5, &QToolButton::clicked, this, guarded(this, &TForm1::BitBtn5Click));
    connect(BitBtn1, &QToolButton::clicked, this, guarded(this, &TForm1::BitBtn1Click));
    connect(BitBtn2, &QToolButton::clicked, this, guarded(this, &TForm1::BitBtn2Click));
    connect(TrackBar1, &QSlider::valueChanged, this, guarded(this, &TForm1::TrackBar1Change));
    connect(TrackBar2, &QSlider::valueChanged, this, guarded(this, &TForm1::TrackBar2Change));
    connect(Timer1, &QTimer::timeout, this, guarded(this, &TForm1::Timer1Timer));
    connect(VideoPanel, &VideoDisplay::clicked, this, guarded(this, &TForm1::VideoPanelClick));
    connect(ComboBox5, &QComboBox::currentIndexChanged, this, guarded(this, &TForm1::ComboBox5Change));
    connect(&MediaPlayer1, &MediaPlayer::soundProblemChanged, m_soundStatus, &QLabel::setText);
}

// ---- start-up and shut-down ----

void TForm1::FormCreate() {
    GIFview->setGrips(Qt::black, 3, true);
    m_state.userPaused = false;
    m_state.gifDelay = 100;
    m_transition->formCreate();
    m_getFrames->selectFirstFormat();
}

void TForm1::FormClose() {
    clearFrameLists();
    extractionFrames.clear();
    gifFrames.clear();
    transitionFrames.clear();
}

void TForm1::FormDestroy() {
    m_transition->formDestroy();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (m_jobRunning) {
        // The job's workers use the frames this would free: the job is aborted first, and the
        // window closes as soon as it has ended (endJob).
        m_closePending = true;
        m_state.abortConversion = true;
        m_state.abortExtraction = true;
        event->ignore();
        return;
    }
    saveSettings();
    FormClose();
    MediaPlayer1.close();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this)
            w->hide();
    event->accept();
}

void TForm1::setBusyCursor(bool busy) {
    if (busy && !m_busyCursor)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else if (!busy && m_busyCursor)
        QApplication::restoreOverrideCursor();
    m_busyCursor = busy;
}

// Help is shown in a window of the program's own: it works whether or not a browser is set up.
void TForm1::SpeedButton6Click() {
    if (!m_help)
        m_help = new HelpWindow(this);
    m_help->showHelp();
}

void TForm1::SpeedButton7Click() {
    if (m_windows.about)
        m_windows.about->exec();
}

// ---- the window's size ----

void TForm1::setWindowSize(int width, int height) {
    m_designSize = QSize(width, height);
    fitWindow();
}

QSize TForm1::contentSize() const {
    const QSize controls = m_content->minimumSizeHint();
    const QMargins margins = layout()->contentsMargins();
    const int spacing = layout()->spacing();
    int width = controls.width(), height = controls.height() + spacing + ProgressBar1->sizeHint().height();
    if (!m_videoArea->isHidden()) {
        const QSize video = m_videoHolder->size();
        width = std::max(width, video.width() + 10);
        height += video.height() + spacing;
    }
    return {width + margins.left() + margins.right(), height + margins.top() + margins.bottom()};
}

QWidget* TForm1::pageAt(int index) const {
    auto* scroller = qobject_cast<QScrollArea*>(PageControl1->widget(index));
    return scroller ? scroller->widget() : nullptr;
}

QSize TForm1::controlsSize() const {
    const QSize controls = m_content->minimumSizeHint();
    const QMargins margins = layout()->contentsMargins();
    return {controls.width() + margins.left() + margins.right(), controls.height() + layout()->spacing() +
                                                                     ProgressBar1->sizeHint().height() +
                                                                     margins.top() + margins.bottom()};
}

void TForm1::fitPages() {
    // What the controls need with every page whole, against the largest window the screen has
    // room for: the pages give up what is lacking, and scroll.
    QSize whole(0, 0), shown(0, 0);
    for (PageScroller* scroller : m_pageScrollers) {
        whole = whole.expandedTo(scroller->pageMinimumSize());
        shown = shown.expandedTo(scroller->minimumSizeHint());
    }
    const QSize needed = controlsSize() + (whole - shown);
    const QSize largest = largestClientSize(this);
    const int lackingWidth = needed.width() - largest.width();
    const int lackingHeight = needed.height() - largest.height();
    QSize room;
    if (lackingWidth > 0 || lackingHeight > 0) {
        constexpr int Smallest = 120;
        room =
            QSize(lackingWidth > 0 ? std::max(Smallest, whole.width() - lackingWidth) : QWIDGETSIZE_MAX,
                  lackingHeight > 0 ? std::max(Smallest, whole.height() - lackingHeight) : QWIDGETSIZE_MAX);
    }
    for (PageScroller* scroller : m_pageScrollers)
        scroller->setRoom(room);
}

void TForm1::fitWindow() {
    if (m_fitting)
        return;
    m_fitting = true;
    fitPages();
    const QSize size = m_designSize.expandedTo(contentSize()).boundedTo(largestClientSize(this));
    if (size != this->size() || minimumSize() != maximumSize()) {
        setFixedSize(size);
        // Controls inside the tabs learn of a new font one after another: look again once they
        // all have, until the size holds.
        QTimer::singleShot(0, this, &TForm1::fitWindow);
    }
    if (isVisible())
        keepOnScreen(this);
    m_fitting = false;
}

bool TForm1::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // A control that needs more room (a longer text, a larger font) grows the window.
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::FontChange)
        fitWindow();
    return handled;
}

void TForm1::showVideoPanel(int width, int height) {
    VideoPanel->resize(width, height);
    m_videoHolder->resize(width, height);
    GIFview->hide();
    VideoPanel->show();
    m_videoArea->show();
}

void TForm1::showPickingView(bool show) {
    if (show) {
        // The picture is picked from at 1:1, and the scale box says so; the video comes back at
        // that scale too.
        if (ComboBox5->currentIndex() != 1) {
            const QSignalBlocker quiet(ComboBox5);
            ComboBox5->setCurrentIndex(1);
            const int w = m_state.videoRect.width(), h = m_state.videoRect.height();
            MediaPlayer1.setDisplayRect(QRect(0, 0, w, h));
            VideoPanel->resize(w, h);
        }
        const QSize size(GIFview->picture().Width(), GIFview->picture().Height());
        GIFview->resize(size);
        m_videoHolder->resize(size);
        VideoPanel->hide();
        GIFview->show();
        m_videoArea->show();
    } else {
        showVideoPanel(VideoPanel->width(), VideoPanel->height());
    }
    fitWindow();
}

// ---- the window as the tabs see it ----

void TForm1::setOpenAviEnabled(bool enabled) {
    SpeedButton5->setEnabled(enabled);
}

void TForm1::setPlayerButtons(bool play, bool pause, bool reset) {
    BitBtn3->setEnabled(play);
    BitBtn4->setEnabled(pause);
    BitBtn5->setEnabled(reset);
}

QRect TForm1::controlsOnScreen() {
    return QRect(m_content->mapToGlobal(QPoint(0, 0)), m_content->size());
}

void TForm1::showFileName() {
    Label21->setText(QString::fromStdString(m_state.videoFileName));
}

void TForm1::clearFrameLists() {
    m_getFrames->clearLists();
}

TGIFDocument& TForm1::builtGif() {
    return m_windows.form3->Image1Picture();
}

void TForm1::sizeBuiltGifHolder(int width, int height) {
    m_windows.form3->resize(width, height);
}

bool TForm1::askFrameNumber(QString& text) {
    if (m_windows.form2)
        m_windows.form2->Edit1->clear();
    if (!m_dialogs.askFrameNumber || !m_dialogs.askFrameNumber())
        return false;
    text = m_windows.form2 ? m_windows.form2->Edit1->text() : QString();
    return true;
}

// ---- one job at a time ----

void TForm1::beginJob(QWidget* tab, QWidget* abortButton) {
    if (m_jobRunning)
        throw Error("Another job is running.");
    m_jobRunning = true;
    m_closePending = false;
    showJobStatus(QString());
    m_lockedByJob.clear();
    const auto lock = [this](QWidget* w) {
        if (w && w->isEnabledTo(w->parentWidget())) {
            w->setEnabled(false);
            m_lockedByJob.emplace_back(w);
        }
    };
    // The window's: the video and the player.
    for (QWidget* w : std::initializer_list<QWidget*>{SpeedButton5, ControlPanel, TrackBar1, ComboBox5})
        lock(w);
    // The other tabs whole; the job's tab but its Abort.
    for (int i = 0; i < PageControl1->count(); ++i) {
        QWidget* page = pageAt(i);
        if (page != tab) {
            lock(page);
            continue;
        }
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child != abortButton && !child->isWindow())
                lock(child);
    }
}

void TForm1::endJob() {
    for (const QPointer<QWidget>& w : m_lockedByJob)
        if (w)
            w->setEnabled(true);
    m_lockedByJob.clear();
    m_jobRunning = false;
    if (m_closePending)
        QTimer::singleShot(0, this, [this] { close(); });
}

void TForm1::showJobStatus(const QString& text) {
    m_jobStatus->setText(text);
    m_jobStatus->setVisible(!text.isEmpty());
}

// ---- settings, recent videos, folders ----

void TForm1::attachSettings(std::unique_ptr<QSettings> settings) {
    m_settings = std::move(settings);
    if (!m_settings)
        return;
    const QSettings& s = *m_settings;
    for (size_t i = 0; i < m_folders.size(); ++i)
        m_folders[i] = s.value(FolderKeys[i]).toString();
    m_recent.clear();
    for (const QString& path : s.value("recent/videos").toStringList())
        if (!path.isEmpty() && !m_recent.contains(path) && m_recent.size() < MaxRecentVideos)
            m_recent << path;
    bool ok = false;
    const int tab = s.value("window/tab").toInt(&ok);
    if (ok && tab >= 0 && tab < PageControl1->count())
        PageControl1->setCurrentIndex(tab);
    m_getFrames->restoreSettings(s);
    m_aviToGif->restoreSettings(s);
    m_transition->restoreSettings(s);
    fillRecentMenu();
}

void TForm1::saveSettings() {
    if (!m_settings)
        return;
    QSettings& s = *m_settings;
    for (size_t i = 0; i < m_folders.size(); ++i)
        if (!m_folders[i].isEmpty())
            s.setValue(FolderKeys[i], m_folders[i]);
    s.setValue("recent/videos", m_recent);
    s.setValue("window/tab", PageControl1->currentIndex());
    m_getFrames->saveSettings(s);
    m_aviToGif->saveSettings(s);
    m_transition->saveSettings(s);
    s.sync();
}

void TForm1::rememberFolder(FolderKind kind, const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    m_folders[size_t(kind)] = folder;
    if (m_settings) {
        m_settings->setValue(FolderKeys[size_t(kind)], folder);
        m_settings->sync();
    }
}

void TForm1::addRecentVideo(const QString& path) {
    const QString file = QFileInfo(path).absoluteFilePath();
    m_recent.removeAll(file);
    m_recent.prepend(file);
    while (m_recent.size() > MaxRecentVideos)
        m_recent.removeLast();
    rememberFolder(FolderKind::Videos, file);
    storeRecentVideos();
}

void TForm1::fillRecentMenu() {
    m_recentMenu->clear();
    if (m_recent.isEmpty()) {
        m_recentMenu->addAction("No recent videos")->setEnabled(false);
        return;
    }
    int number = 0;
    for (const QString& path : m_recent) {
        ++number;
        // "&1 clip.avi": the number is the key that picks it; the whole path is the hint.
        QString label = QFileInfo(path).fileName().replace('&', "&&");
        if (number <= 9)
            label = "&" + QString::number(number) + " " + label;
        else
            label = "1&0 " + label;
        QAction* action = m_recentMenu->addAction(label);
        action->setToolTip(path);
        action->setStatusTip(path);
        connect(action, &QAction::triggered, this, guarded([this, path] { openRecentVideo(path); }));
    }
    m_recentMenu->setToolTipsVisible(true);
    m_recentMenu->addSeparator();
    connect(m_recentMenu->addAction("&Clear list"), &QAction::triggered, this, [this] {
        m_recent.clear();
        storeRecentVideos();
    });
}

// The list is written at once; the menu is made again each time it opens (not here: this may
// run from one of its own items).
void TForm1::storeRecentVideos() {
    if (!m_settings)
        return;
    m_settings->setValue("recent/videos", m_recent);
    m_settings->sync();
}

void TForm1::openRecentVideo(const QString& path) {
    if (!SpeedButton5->isEnabled())
        return;
    if (!QFileInfo::exists(path)) {
        // A video moved or deleted since: it leaves the list.
        m_recent.removeAll(path);
        storeRecentVideos();
        m_dialogs.showWarning("Warning", "\"" + path + "\" no longer exists.");
        return;
    }
    openVideo(path);
}

void TForm1::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* open = menu.addAction("&Open AVI...", this, [this] { SpeedButton5->click(); });
    open->setShortcut(QKeySequence("Ctrl+O"));
    open->setEnabled(SpeedButton5->isEnabled());
    menu.addMenu(m_recentMenu)->setEnabled(SpeedButton5->isEnabled());
    menu.exec(event->globalPos());
}

// ---- keys and drops ----

void TForm1::goToFrame(int64_t frame) {
    MediaPlayer1.seek(frame);
    setPlayerButtons(true, false, true);
    m_state.userPaused = true;
    updateStepButtons();
}

// The step buttons as the display's tick sets them, at once: none past either end.
void TForm1::updateStepButtons() {
    const int64_t position = MediaPlayer1.position();
    BitBtn1->setEnabled(position > 0);
    BitBtn2->setEnabled(position < m_state.frameCount - 1);
}

bool TForm1::playerKey(QKeyEvent* event) {
    if (!ControlPanel->isEnabled() || event->modifiers() != Qt::NoModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Space:
        if (BitBtn3->isEnabled())
            BitBtn3->click();
        else if (BitBtn4->isEnabled())
            BitBtn4->click();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        QToolButton* step = event->key() == Qt::Key_Left ? BitBtn1 : BitBtn2;
        if (step->isEnabled()) {
            step->click();
            // Keys come faster than the display's tick: the step buttons follow at once.
            updateStepButtons();
        }
        return true;
    }
    case Qt::Key_Home:
    case Qt::Key_End:
        // Not while a job holds the player (its buttons are all off then).
        if (BitBtn3->isEnabled() || BitBtn4->isEnabled() || BitBtn5->isEnabled()) {
            const int64_t frame = event->key() == Qt::Key_Home ? 0 : std::max(0, m_state.frameCount - 1);
            runGuarded([this, frame] { goToFrame(frame); });
        }
        return true;
    default:
        return false;
    }
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    if (playerKey(event))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    // The same rule as "Open AVI": a video is taken only while the button can be pressed.
    if (SpeedButton5->isEnabled() && !droppedLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = droppedLocalFile(event->mimeData());
    if (!SpeedButton5->isEnabled() || path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    runGuarded([this, path] { openVideo(path); });
}

// ---- opening and playing a video ----

void TForm1::SpeedButton5Click() {
    QString path = m_dialogs.chooseOpenFile ? m_dialogs.chooseOpenFile() : QString();
    if (path.isEmpty())
        return;
    openVideo(path);
}

void TForm1::openVideo(const QString& path) {
    const std::string previousName = m_state.videoFileName;
    const std::string fileName = QFileInfo(path).fileName().toStdString();
    Label21->setText(QString::fromStdString(fileName) + " --- LOADING...");
    repaint();
    setBusyCursor(true);
    try {
        MediaPlayer1.open(path.toStdString());
    } catch (...) {
        // The previous video stays; the window is usable again.
        Label21->setText(QString::fromStdString(previousName));
        setBusyCursor(false);
        throw;
    }
    SharedState& state = m_state;
    state.videoPath = path.toStdString();
    state.videoFileName = fileName;
    state.videoRect = MediaPlayer1.displayRect();
    const int w = state.videoRect.width(), h = state.videoRect.height();
    MediaPlayer1.setDisplayWindow(VideoPanel);
    showVideoPanel(w, h);
    setWindowSize(w > 730 ? w + 15 : 760, h > 30 ? h + 300 : 330);
    GIFview->resize(w, h);
    MediaPlayer1.setTimeFormat(MediaPlayer::TimeFormat::Milliseconds);
    state.videoLength = static_cast<int>(MediaPlayer1.length());
    state.videoLengthSeconds = state.videoLength / 1000;
    MediaPlayer1.setTimeFormat(MediaPlayer::TimeFormat::Frames);
    state.frameCount = static_cast<int>(MediaPlayer1.length());
    const int n = state.frameCount;
    Edit9->setText(QString::number(w) + " x " + QString::number(h));
    m_getFrames->videoOpened();
    ControlPanel->setEnabled(true);
    m_transition->setVideoOpen(true);
    state.firstFrame = 1;
    state.lastFrame = n;
    if (m_windows.form2)
        m_windows.form2->Label1->setText("Put the frame number (1..." + QString::number(n) + ")");
    m_aviToGif->videoOpened();
    Timer1->start();
    Edit1->setEnabled(true);
    UpDown1->setEnabled(true);
    UpDown1->setMaximum(n / 10);
    UpDown1->setPosition(1);
    ComboBox5->setEnabled(true);
    TrackBar1->setEnabled(true);
    TrackBar1->setMaximum(std::max(0, n - 1));
    MediaPlayer1.setStartPosition(0);
    MediaPlayer1.setEndPosition(n - 1);
    MediaPlayer1.play();
    setPlayerButtons(false, true, true);
    BitBtn1->setEnabled(true);
    BitBtn2->setEnabled(true);
    state.userPaused = false;
    showFileName();
    setBusyCursor(false);
    VideoPanel->setFocus();
    addRecentVideo(path);
}

void TForm1::BitBtn3Click() {
    const int w = m_state.videoRect.width(), h = m_state.videoRect.height();
    if (GIFview->isVisible()) {
        ComboBox5->setCurrentIndex(1);
        MediaPlayer1.setDisplayRect(QRect(0, 0, w, h));
        showVideoPanel(w, h);
        setWindowSize(w <= 730 ? 760 : w + 15, h + 300);
    }
    showFileName();
    // A video that stands at its last frame plays again from its first.
    if (m_state.frameCount > 0 && MediaPlayer1.position() >= m_state.frameCount - 1)
        MediaPlayer1.setStartPosition(0);
    MediaPlayer1.play();
    setPlayerButtons(false, true, true);
    m_state.userPaused = false;
}

void TForm1::BitBtn4Click() {
    MediaPlayer1.pauseOperation();
    setPlayerButtons(true, false, true);
    m_state.userPaused = true;
}

void TForm1::BitBtn5Click() {
    MediaPlayer1.stop();
    MediaPlayer1.seek(0);
    setPlayerButtons(true, false, false);
    m_state.userPaused = true;
}

void TForm1::BitBtn1Click() {
    MediaPlayer1.seek(MediaPlayer1.position() - UpDown1->position());
}

void TForm1::BitBtn2Click() {
    MediaPlayer1.seek(MediaPlayer1.position() + UpDown1->position());
}

QRect TForm1::seekSliderPart(QStyle::SubControl part) const {
    QStyleOptionSlider option;
    option.initFrom(TrackBar1);
    option.orientation = TrackBar1->orientation();
    option.minimum = TrackBar1->minimum();
    option.maximum = TrackBar1->maximum();
    option.sliderPosition = TrackBar1->sliderPosition();
    option.sliderValue = TrackBar1->value();
    option.singleStep = TrackBar1->singleStep();
    option.pageStep = TrackBar1->pageStep();
    option.tickPosition = TrackBar1->tickPosition();
    option.subControls = QStyle::SC_All;
    return TrackBar1->style()->subControlRect(QStyle::CC_Slider, &option, part, TrackBar1);
}

void TForm1::seekSliderTrack(int& start, int& span) const {
    const QRect groove = seekSliderPart(QStyle::SC_SliderGroove);
    const QRect handle = seekSliderPart(QStyle::SC_SliderHandle);
    start = groove.x() + handle.width() / 2;
    span = std::max(1, groove.width() - handle.width());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // The video with the focus: its keys are the player's, before the scroll area around it
    // takes the arrows for scrolling.
    if (watched == VideoPanel && event->type() == QEvent::KeyPress)
        return playerKey(static_cast<QKeyEvent*>(event));
    if (watched == TrackBar1 && TrackBar1->isEnabled()) {
        if (event->type() == QEvent::MouseButtonPress &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            runGuarded([&] { TrackBar1MouseDown(at.x()); });
            // The handle now stands under the pointer: the slider takes the press and the handle
            // can be dragged on from there. A press the handler did not move the handle to (past
            // either end) goes no further.
            return !seekSliderPart(QStyle::SC_SliderHandle).contains(at);
        }
        if (event->type() == QEvent::MouseButtonRelease)
            runGuarded([this] { TrackBar1MouseUp(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::TrackBar1MouseDown(int x) {
    if (MediaPlayer1.mode() == MediaPlayer::Playing) {
        MediaPlayer1.pauseOperation();
        setPlayerButtons(true, false, true);
        m_state.userPaused = true;
    }
    // Seek to the frame under the pointer, counted over the slider's track as it is drawn.
    int start = 0, span = 0;
    seekSliderTrack(start, span);
    if (x >= start && x <= start + span) {
        MediaPlayer1.seek(
            static_cast<int64_t>((x - start) * (static_cast<double>(m_state.frameCount) / span)));
        TrackBar1->setValue(static_cast<int>(MediaPlayer1.position()));
    }
}

void TForm1::TrackBar1Change() {
    const int value = TrackBar1->value();
    if (m_state.userPaused)
        MediaPlayer1.seek(value);
    if (MediaPlayer1.mode() == MediaPlayer::Stopped)
        MediaPlayer1.seek(value);
    if (MediaPlayer1.mode() == MediaPlayer::Paused)
        MediaPlayer1.seek(value);
    TrackBar1->repaint();
}

void TForm1::TrackBar1MouseUp() {
    if (MediaPlayer1.mode() == MediaPlayer::Paused) {
        MediaPlayer1.seek(TrackBar1->value());
        m_state.userPaused = false;
    }
}

void TForm1::Timer1Timer() {
    const int64_t p = MediaPlayer1.position();
    const int64_t n = m_state.frameCount;
    const double l = m_state.videoLength;
    const int64_t hours = static_cast<int64_t>(l / 3600000);
    const int64_t minutes = static_cast<int64_t>((l / 1000 - hours * 3600) / 60);
    const int64_t seconds = static_cast<int64_t>(l / 1000) - hours * 3600 - minutes * 60;
    const int64_t t = n > 0 ? static_cast<int64_t>(l / n * p / 1000) : 0;
    const int64_t cH = t / 3600, cM = (t - cH * 3600) / 60, cS = t - cH * 3600 - cM * 60;
    const QString length =
        QString::number(hours) + ":" + twoDigits(int(minutes)) + ":" + twoDigits(int(seconds));
    if (MediaPlayer1.position() < n - 1)
        Edit8->setText(QString::number(cH) + ":" + twoDigits(int(cM)) + ":" + twoDigits(int(cS)) + " / " +
                       length);
    else
        Edit8->setText(length + " / " + length);
    if (MediaPlayer1.position() == n)
        Edit6->setText(QString::number(n) + " / " + QString::number(n));
    else
        Edit6->setText(QString::number(p + 1) + " / " + QString::number(n));
    // While the user drags the handle, the handle is where the user puts it.
    if (!TrackBar1->isSliderDown())
        TrackBar1->setValue(static_cast<int>(MediaPlayer1.position()));
    const int64_t position = MediaPlayer1.position();
    if (position == n - 1) {
        BitBtn3->setEnabled(true);
        BitBtn2->setEnabled(false);
    }
    if (position == 0)
        BitBtn1->setEnabled(false);
    if (position != n - 1 && position != 0) {
        BitBtn1->setEnabled(true);
        BitBtn2->setEnabled(true);
    }
}

void TForm1::VideoPanelClick() {
    if (MediaPlayer1.mode() == MediaPlayer::Stopped)
        BitBtn3Click();
    else
        BitBtn4Click();
}

void TForm1::ComboBox5Change() {
    if (!MediaPlayer1.isOpen())
        return;
    BitBtn4Click();
    const int w = m_state.videoRect.width(), h = m_state.videoRect.height();
    int dw = w, dh = h, width = 760;
    switch (ComboBox5->currentIndex()) {
    case 0:
        dw = w / 2;
        dh = h / 2;
        width = w / 2.0 > 730 ? dw + 15 : 760;
        break;
    case 1:
        width = w <= 730 ? 760 : w + 15;
        break;
    default:
        dw = 2 * w;
        dh = 2 * h;
        width = 2 * w <= 730 ? 760 : 2 * w + 15;
        break;
    }
    MediaPlayer1.setDisplayRect(QRect(0, 0, dw, dh));
    showVideoPanel(dw, dh);
    setWindowSize(width, dh + 300);
}

void TForm1::TrackBar2Change() {
    // v x 655 kept to 16 bits, on both channels.
    const int level = (TrackBar2->value() * 655) & 0xFFFF;
    MediaPlayer1.setVolume(level);
}

// ---- handlers of the tabs ----

void TForm1::ComboBox2Change() {
    m_aviToGif->ComboBox2Change();
}
void TForm1::SpinEdit8Change() {
    m_aviToGif->SpinEdit8Change();
}
void TForm1::SpinEdit9Change() {
    m_aviToGif->SpinEdit9Change();
}
void TForm1::RadioButton3Click() {
    m_aviToGif->RadioButton3Click();
}
void TForm1::RadioButton4Click() {
    m_aviToGif->RadioButton4Click();
}
void TForm1::RadioButton5Click() {
    m_aviToGif->RadioButton5Click();
}
void TForm1::SpinEdit1Change() {
    m_aviToGif->SpinEdit1Change();
}
void TForm1::Edit5Change() {
    m_aviToGif->Edit5Change();
}
void TForm1::Button5Click() {
    m_aviToGif->Button5Click();
}
void TForm1::Button7Click() {
    m_aviToGif->Button7Click();
}
void TForm1::Button4Click() {
    m_aviToGif->Button4Click();
}
void TForm1::Button6Click() {
    m_aviToGif->Button6Click();
}
void TForm1::RadioButton1Click() {
    m_aviToGif->RadioButton1Click();
}
void TForm1::RadioButton2Click() {
    m_aviToGif->RadioButton2Click();
}
void TForm1::Button8Click() {
    m_aviToGif->Button8Click();
}
void TForm1::GIFviewMouseMove(int x, int y) {
    m_aviToGif->GIFviewMouseMove(x, y);
}
void TForm1::GIFviewMouseUp(int x, int y) {
    m_aviToGif->GIFviewMouseUp(x, y);
}
void TForm1::PreviewTimerTimer() {
    m_aviToGif->PreviewTimerTimer();
}
void TForm1::TransitTimerTimer() {
    m_transition->TransitTimerTimer();
}

void TForm1::RadioButton6Click() {
    m_getFrames->RadioButton6Click();
}
void TForm1::RadioButton7Click() {
    m_getFrames->RadioButton7Click();
}
void TForm1::SpinEdit6Change() {
    m_getFrames->SpinEdit6Change();
}
void TForm1::RadioButton10Click() {
    m_getFrames->RadioButton10Click();
}
void TForm1::RadioButton11Click() {
    m_getFrames->RadioButton11Click();
}
void TForm1::SpinEdit10Change() {
    m_getFrames->SpinEdit10Change();
}
void TForm1::SpinEdit11Change() {
    m_getFrames->SpinEdit11Change();
}
void TForm1::Button12Click() {
    m_getFrames->Button12Click();
}
void TForm1::Button13Click() {
    m_getFrames->Button13Click();
}
void TForm1::Button14Click() {
    m_getFrames->Button14Click();
}
void TForm1::Button15Click() {
    m_getFrames->Button15Click();
}
void TForm1::Button16Click() {
    m_getFrames->Button16Click();
}
void TForm1::lbAVIDblClick() {
    m_getFrames->lbAVIDblClick();
}

void TForm1::SpeedButton1Click() {
    m_transition->SpeedButton1Click();
}
void TForm1::SpeedButton3Click() {
    m_transition->SpeedButton3Click();
}
void TForm1::SpeedButton2Click() {
    m_transition->SpeedButton2Click();
}
void TForm1::SpeedButton4Click() {
    m_transition->SpeedButton4Click();
}
void TForm1::SpeedButton8Click() {
    m_transition->SpeedButton8Click();
}
void TForm1::SpeedButton9Click() {
    m_transition->SpeedButton9Click();
}
void TForm1::Panel3DblClick() {
    m_transition->Panel3DblClick();
}
void TForm1::Panel4DblClick() {
    m_transition->Panel4DblClick();
}
void TForm1::Edit7Change() {
    m_transition->Edit7Change();
}
void TForm1::Button21Click() {
    m_transition->Button21Click();
}
void TForm1::Button22Click() {
    m_transition->Button22Click();
}
void TForm1::Button23Click() {
    m_transition->Button23Click();
}

} // namespace kelvara
