// The main window: construction, start-up and shut-down, the player and its controls.
#include "app/MainForm.h"

#include "app/Forms.h"
#include "convert/TransitionRenderer.h"
#include "preview/qt/GifPreviewForm.h"
#include "raster/Error.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

#include <cmath>

namespace kelvara {

namespace {

// The open dialog's filters: every video the frame source reads, AVI files alone, and any file
// (a video is known by its content, not its name).
const char* const OpenVideoFilter =
    "Video files (*.avi *.mp4 *.m4v *.mov *.mkv *.webm *.mpg *.mpeg *.ts *.flv *.ogv *.wmv);;"
    "AVI files (*.avi);;All files (*)";

template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QToolButton* toolButton(QWidget* parent, const char* name, const QString& hint, QStyle::StandardPixmap icon) {
    auto* b = named(new QToolButton(parent), name);
    b->setToolTip(hint);
    b->setIcon(parent->style()->standardIcon(icon));
    return b;
}

QString twoDigits(int v) {
    return v < 10 ? "0" + QString::number(v) : QString::number(v);
}

} // namespace

// ---- observer of jobs run from the window ----

void WindowJobObserver::setProgressRange(int minimum, int maximum) {
    m_bar->setMinimum(minimum);
    m_bar->setMaximum(maximum);
}

void WindowJobObserver::setProgressPosition(int position) {
    m_bar->setValue(std::clamp(position, m_bar->minimum(), m_bar->maximum()));
}

void WindowJobObserver::pumpMessages() {
    QCoreApplication::processEvents();
}

// ---- construction ----

TForm1::TForm1(const Windows& windows, QWidget* parent) : QWidget(parent), m_windows(windows) {
    setObjectName("Form1");
    setWindowTitle("Kelvara 5.2");
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    buildFrame();
    connectHandlers();

    chooseOpenFile = [this] {
        return QFileDialog::getOpenFileName(this, QString(), QString(), OpenVideoFilter);
    };
    chooseSaveFile = [this] {
        QFileDialog dialog(this, "Save GIF", QString(), "GIF files (*.gif)");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("gif");
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
    confirmReplace = [this](const QString& path) {
        return QMessageBox::question(this, "Kelvara 5.2", "\"" + path + "\" already exists. Replace it?") ==
               QMessageBox::Yes;
    };
    showWarning = [this](const QString& caption, const QString& text) {
        QMessageBox::warning(this, caption, text, QMessageBox::Ok);
    };
    FormCreate();
    setWindowSize(752, 303);
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

TForm1::~TForm1() {
    FormDestroy();
}

void TForm1::setWindowSize(int width, int height) {
    setFixedSize(width, height);
    ProgressBar1->setGeometry(0, height - 10, width, 10);
}

void TForm1::buildFrame() {
    SpeedButton5 = toolButton(this, "SpeedButton5", "Open AVI", QStyle::SP_DialogOpenButton);
    SpeedButton6 = toolButton(this, "SpeedButton6", "Help", QStyle::SP_DialogHelpButton);
    SpeedButton7 = toolButton(this, "SpeedButton7", "About", QStyle::SP_MessageBoxInformation);
    SpeedButton5->setGeometry(5, 5, 28, 28);
    SpeedButton6->setGeometry(35, 5, 28, 28);
    SpeedButton7->setGeometry(65, 5, 28, 28);

    auto infoEdit = [this](const char* name, const QString& hint, int x, int w) {
        auto* e = named(new QLineEdit(this), name);
        e->setReadOnly(true);
        e->setToolTip(hint);
        e->setStyleSheet("QLineEdit { background: black; color: rgb(240, 202, 166); }");
        e->setGeometry(x, 8, w, 22);
        return e;
    };
    Edit9 = infoEdit("Edit9", "Frame size (width x height)", 100, 110);
    Edit8 = infoEdit("Edit8", "Time length", 215, 150);
    Edit6 = infoEdit("Edit6", "Frames count", 370, 110);

    ControlPanel = named(new QWidget(this), "ControlPanel");
    ControlPanel->setGeometry(5, 40, 240, 64);
    ControlPanel->setEnabled(false);
    BitBtn3 = toolButton(ControlPanel, "BitBtn3", "Play", QStyle::SP_MediaPlay);
    BitBtn4 = toolButton(ControlPanel, "BitBtn4", "Pause", QStyle::SP_MediaPause);
    BitBtn5 = toolButton(ControlPanel, "BitBtn5", "Reset", QStyle::SP_MediaStop);
    BitBtn1 = toolButton(ControlPanel, "BitBtn1", "Frame step -", QStyle::SP_MediaSeekBackward);
    BitBtn2 = toolButton(ControlPanel, "BitBtn2", "Frame step +", QStyle::SP_MediaSeekForward);
    BitBtn3->setGeometry(0, 2, 28, 28);
    BitBtn4->setGeometry(30, 2, 28, 28);
    BitBtn5->setGeometry(60, 2, 28, 28);
    BitBtn1->setGeometry(100, 2, 28, 28);
    BitBtn1->setEnabled(false);
    BitBtn2->setGeometry(196, 2, 28, 28);
    BitBtn2->setEnabled(false);
    Edit1 = named(new QLineEdit(ControlPanel), "Edit1");
    Edit1->setToolTip("Frame step");
    Edit1->setGeometry(132, 5, 40, 22);
    Edit1->setEnabled(false);
    UpDown1 = named(new UpDown(ControlPanel), "UpDown1");
    UpDown1->setGeometry(174, 2, 18, 28);
    UpDown1->setMinimum(1);
    UpDown1->setBuddy(Edit1);
    UpDown1->setPosition(1);
    UpDown1->setEnabled(false);
    TrackBar2 = named(new QSlider(Qt::Horizontal, ControlPanel), "TrackBar2");
    TrackBar2->setToolTip("Volume Bar");
    TrackBar2->setRange(0, 100);
    TrackBar2->setSingleStep(1);
    TrackBar2->setValue(100);
    TrackBar2->setGeometry(0, 38, 230, 22);

    Label21 = named(new QLabel(this), "Label21");
    QFont bold = Label21->font();
    bold.setBold(true);
    Label21->setFont(bold);
    Label21->setGeometry(5, 110, 240, 20);
    m_soundStatus = named(new QLabel(this), "SoundStatus");
    m_soundStatus->setGeometry(5, 132, 240, 34);
    m_soundStatus->setWordWrap(true);
    m_soundStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    PageControl1 = named(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(250, 30, 497, 202);
    auto* getFrames = new QWidget;
    auto* aviToGif = new QWidget;
    auto* transitions = new QWidget;
    PageControl1->addTab(getFrames, "Get frames");
    PageControl1->addTab(aviToGif, "AVI to animated GIF");
    PageControl1->addTab(transitions, "Transition effects");
    buildGetFramesTab(getFrames);
    buildGifTab(aviToGif);
    buildTransitionTab(transitions);

    TrackBar1 = named(new QSlider(Qt::Horizontal, this), "TrackBar1");
    TrackBar1->setToolTip("Seeking Bar");
    TrackBar1->setGeometry(5, 233, 674, 22);
    TrackBar1->setSingleStep(1);
    TrackBar1->setRange(0, 0);
    TrackBar1->setEnabled(false);
    TrackBar1->installEventFilter(this);
    ComboBox5 = named(new QComboBox(this), "ComboBox5");
    ComboBox5->setToolTip("Scale");
    ComboBox5->addItems({"50 %", "100 %", "200 %"});
    ComboBox5->setCurrentIndex(1);
    ComboBox5->setGeometry(685, 233, 62, 22);
    ComboBox5->setEnabled(false);

    VideoPanel = named(new VideoDisplay(this), "VideoPanel");
    VideoPanel->setToolTip("Click for Play (Stop)");
    VideoPanel->setGeometry(5, 258, 320, 240);
    VideoPanel->hide();
    GIFview = named(new TImageView(this), "GIFview");
    GIFview->setBackgroundColor(QApplication::palette().color(QPalette::Light));
    GIFview->setGeometry(300, 300, 100, 100);
    GIFview->hide();

    ProgressBar1 = named(new QProgressBar(this), "ProgressBar1");
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 0);
    ProgressBar1->setValue(0);

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(100);
    PreviewTimer = named(new QTimer(this), "PreviewTimer");
    TransitTimer = named(new QTimer(this), "TransitTimer");
}

void TForm1::connectHandlers() {
    connect(SpeedButton5, &QToolButton::clicked, this, &TForm1::SpeedButton5Click);
    connect(SpeedButton6, &QToolButton::clicked, this, &TForm1::SpeedButton6Click);
    connect(SpeedButton7, &QToolButton::clicked, this, &TForm1::SpeedButton7Click);
    connect(BitBtn3, &QToolButton::clicked, this, &TForm1::BitBtn3Click);
    connect(BitBtn4, &QToolButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn5, &QToolButton::clicked, this, &TForm1::BitBtn5Click);
    connect(BitBtn1, &QToolButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn2, &QToolButton::clicked, this, &TForm1::BitBtn2Click);
    connect(TrackBar1, &QSlider::valueChanged, this, &TForm1::TrackBar1Change);
    connect(TrackBar2, &QSlider::valueChanged, this, &TForm1::TrackBar2Change);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(VideoPanel, &VideoDisplay::clicked, this, &TForm1::VideoPanelClick);
    connect(ComboBox5, &QComboBox::currentIndexChanged, this, &TForm1::ComboBox5Change);
    connect(&MediaPlayer1, &MediaPlayer::soundProblemChanged, m_soundStatus, &QLabel::setText);

    connect(ComboBox2, &QComboBox::currentIndexChanged, this, &TForm1::ComboBox2Change);
    connect(SpinEdit8, &SpinEdit::textChanged, this, &TForm1::SpinEdit8Change);
    connect(SpinEdit9, &SpinEdit::textChanged, this, &TForm1::SpinEdit9Change);
    connect(RadioButton3, &QRadioButton::clicked, this, &TForm1::RadioButton3Click);
    connect(RadioButton4, &QRadioButton::clicked, this, &TForm1::RadioButton4Click);
    connect(RadioButton5, &QRadioButton::clicked, this, &TForm1::RadioButton5Click);
    connect(SpinEdit1, &SpinEdit::textChanged, this, &TForm1::SpinEdit1Change);
    connect(Edit5, &QLineEdit::textChanged, this, &TForm1::Edit5Change);
    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    connect(RadioButton1, &QRadioButton::clicked, this, &TForm1::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TForm1::RadioButton2Click);
    connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
    connect(GIFview, &TImageView::mouseMoved, this, &TForm1::GIFviewMouseMove);
    connect(GIFview, &TImageView::mouseReleased, this, &TForm1::GIFviewMouseUp);
    connect(PreviewTimer, &QTimer::timeout, this, &TForm1::PreviewTimerTimer);
    connect(TransitTimer, &QTimer::timeout, this, &TForm1::TransitTimerTimer);

    connect(RadioButton6, &QRadioButton::clicked, this, &TForm1::RadioButton6Click);
    connect(RadioButton7, &QRadioButton::clicked, this, &TForm1::RadioButton7Click);
    connect(SpinEdit6, &SpinEdit::textChanged, this, &TForm1::SpinEdit6Change);
    connect(SpinEdit7, &SpinEdit::textChanged, this, &TForm1::SpinEdit6Change);
    connect(RadioButton10, &QRadioButton::clicked, this, &TForm1::RadioButton10Click);
    connect(RadioButton11, &QRadioButton::clicked, this, &TForm1::RadioButton11Click);
    connect(SpinEdit10, &SpinEdit::textChanged, this, &TForm1::SpinEdit10Change);
    connect(SpinEdit11, &SpinEdit::textChanged, this, &TForm1::SpinEdit11Change);
    connect(Button12, &QPushButton::clicked, this, &TForm1::Button12Click);
    connect(Button13, &QPushButton::clicked, this, &TForm1::Button13Click);
    connect(Button14, &QPushButton::clicked, this, &TForm1::Button14Click);

    if (m_windows.gifForm1)
        m_windows.gifForm1->FormClose = [this] { Button4Click(); };
    if (m_windows.gifForm2)
        m_windows.gifForm2->FormClose = [this] { Button23Click(); };
}

// ---- start-up and shut-down ----

void TForm1::FormCreate() {
    GIFview->setGrips(Qt::black, 3, true);
    state.userPaused = false;
    Panel9->move(Panel9->x(), 43); // the time-range panel shares the frame-range panel's place
    GIFview->move(5, 258);
    state.gifDelay = 100;
    transition.durationMs = 1000;
    ImageView2->picture().SetPixelFormat(PixelFormat::Bits24);
    ImageView3->picture().SetPixelFormat(PixelFormat::Bits24);
    transition.sourceSide.holder.SetPixelFormat(PixelFormat::Bits24);
    transition.targetSide.holder.SetPixelFormat(PixelFormat::Bits24);
    ComboBox4->setCurrentIndex(0);
    ComboBox6->setCurrentIndex(0);
    transition.gifWidth = 10;
    transition.gifHeight = 10;
    TransitionSurfaces& work = transition.surfaces;
    for (Bitmap* b : {&work.source, &work.target, &work.background, &work.output})
        b->SetPixelFormat(PixelFormat::Bits24);
    SpinEdit13->setValue(10);
    SpinEdit12->setValue(10);
}

void TForm1::FormClose() {
    ListBox1->clear();
    lbAVI->clear();
    extractionFrames.clear();
    gifFrames.clear();
    transitionFrames.clear();
}

void TForm1::FormDestroy() {
    TransitionSurfaces& work = transition.surfaces;
    for (Bitmap* b : {&work.source, &work.target, &work.background, &work.output})
        b->SetSize(0, 0);
    Image10->clear();
    Image13->clear();
    ImageView2->picture().SetSize(0, 0);
    ImageView3->picture().SetSize(0, 0);
}

void TForm1::closeEvent(QCloseEvent* event) {
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

void TForm1::SpeedButton6Click() {
    // The help file beside the executable, opened by the desktop's default handler.
    QString help = QCoreApplication::applicationDirPath() + QDir::separator() + "KELVARA.html";
    QDesktopServices::openUrl(QUrl::fromLocalFile(help));
}

void TForm1::SpeedButton7Click() {
    if (m_windows.about)
        m_windows.about->exec();
}

// ---- opening and playing a video ----

void TForm1::SpeedButton5Click() {
    QString path = chooseOpenFile ? chooseOpenFile() : QString();
    if (path.isEmpty())
        return;
    const std::string previousName = state.videoFileName;
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
    state.videoPath = path.toStdString();
    state.videoFileName = fileName;
    state.videoRect = MediaPlayer1.displayRect();
    const int w = state.videoRect.width(), h = state.videoRect.height();
    MediaPlayer1.setDisplayWindow(VideoPanel);
    setWindowSize(w > 730 ? w + 15 : 760, h > 30 ? h + 300 : 330);
    VideoPanel->setGeometry(VideoPanel->x(), VideoPanel->y(), w, h);
    VideoPanel->show();
    GIFview->resize(w, h);
    MediaPlayer1.setTimeFormat(MediaPlayer::TimeFormat::Milliseconds);
    state.videoLength = static_cast<int>(MediaPlayer1.length());
    state.videoLengthSeconds = state.videoLength / 1000;
    MediaPlayer1.setTimeFormat(MediaPlayer::TimeFormat::Frames);
    state.frameCount = static_cast<int>(MediaPlayer1.length());
    const int n = state.frameCount;
    ListBox1->clear();
    lbAVI->clear();
    Label1->setEnabled(true);
    Label2->setEnabled(true);
    Label1->setText(QString::number(w));
    Label2->setText(QString::number(h));
    Edit9->setText(QString::number(w) + " x " + QString::number(h));
    SpinEdit3->setValue(n);
    RadioButton6Click();
    RadioButton10Click();
    RadioButton6->setChecked(true);
    SpinEdit5->setValue(state.videoLengthSeconds);
    for (QWidget* c : std::initializer_list<QWidget*>{ControlPanel, GroupBox1, GroupBox2, GroupBox4,
                                                      GroupBox6, GroupBox7, GroupBox8, GroupBox9, GroupBox10,
                                                      RadioGroup1, SpeedButton8, SpeedButton9})
        c->setEnabled(true);
    state.firstFrame = 1;
    state.lastFrame = n;
    if (m_windows.form2)
        m_windows.form2->Label1->setText("Put the frame number (1..." + QString::number(n) + ")");
    state.samplingStep = 1;
    state.gifBaseWidth = w;
    state.gifBaseHeight = h;
    state.cropRect = {state.videoRect.left(), state.videoRect.top(), state.videoRect.width(),
                      state.videoRect.height()};
    ComboBox2->setEnabled(true);
    if (ComboBox2->currentIndex() != 0)
        ComboBox2->setCurrentIndex(0); // runs its change handler
    else
        ComboBox2Change();
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
    BitBtn3->setEnabled(false);
    BitBtn4->setEnabled(true);
    BitBtn5->setEnabled(true);
    Button5->setEnabled(true);
    Button12->setEnabled(true);
    BitBtn1->setEnabled(true);
    BitBtn2->setEnabled(true);
    state.userPaused = false;
    Label21->setText(QString::fromStdString(state.videoFileName));
    setBusyCursor(false);
}

void TForm1::BitBtn3Click() {
    const int w = state.videoRect.width(), h = state.videoRect.height();
    if (GIFview->isVisible()) {
        ComboBox5->setCurrentIndex(1);
        MediaPlayer1.setDisplayRect(QRect(0, 0, w, h));
        VideoPanel->resize(w, h);
        setWindowSize(w <= 730 ? 760 : w + 15, h + 300);
        GIFview->hide();
        VideoPanel->show();
    }
    Label21->setText(QString::fromStdString(state.videoFileName));
    MediaPlayer1.play();
    BitBtn3->setEnabled(false);
    BitBtn4->setEnabled(true);
    BitBtn5->setEnabled(true);
    state.userPaused = false;
}

void TForm1::BitBtn4Click() {
    MediaPlayer1.pauseOperation();
    BitBtn3->setEnabled(true);
    BitBtn4->setEnabled(false);
    BitBtn5->setEnabled(true);
    state.userPaused = true;
}

void TForm1::BitBtn5Click() {
    MediaPlayer1.stop();
    MediaPlayer1.seek(0);
    BitBtn3->setEnabled(true);
    BitBtn4->setEnabled(false);
    BitBtn5->setEnabled(false);
    state.userPaused = true;
}

void TForm1::BitBtn1Click() {
    MediaPlayer1.seek(MediaPlayer1.position() - UpDown1->position());
}

void TForm1::BitBtn2Click() {
    MediaPlayer1.seek(MediaPlayer1.position() + UpDown1->position());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TrackBar1 && TrackBar1->isEnabled()) {
        if (event->type() == QEvent::MouseButtonPress) {
            TrackBar1MouseDown(static_cast<int>(static_cast<QMouseEvent*>(event)->position().x()));
            return true; // the handler positions the slider itself
        }
        if (event->type() == QEvent::MouseButtonRelease)
            TrackBar1MouseUp();
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::TrackBar1MouseDown(int x) {
    if (MediaPlayer1.mode() == MediaPlayer::Playing) {
        MediaPlayer1.pauseOperation();
        BitBtn3->setEnabled(true);
        BitBtn4->setEnabled(false);
        BitBtn5->setEnabled(true);
        state.userPaused = true;
    }
    if (x >= 13 && x <= 660) {
        MediaPlayer1.seek(static_cast<int64_t>((x - 13) * (static_cast<double>(state.frameCount) / 647)));
        TrackBar1->setValue(static_cast<int>(MediaPlayer1.position()));
    }
}

void TForm1::TrackBar1Change() {
    const int value = TrackBar1->value();
    if (state.userPaused)
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
        state.userPaused = false;
    }
}

void TForm1::Timer1Timer() {
    const int64_t p = MediaPlayer1.position();
    const int64_t n = state.frameCount;
    const double l = state.videoLength;
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
    const int w = state.videoRect.width(), h = state.videoRect.height();
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
    VideoPanel->resize(dw, dh);
    setWindowSize(width, dh + 300);
}

void TForm1::TrackBar2Change() {
    // v x 655 kept to 16 bits, on both channels.
    const int level = (TrackBar2->value() * 655) & 0xFFFF;
    MediaPlayer1.setVolume(level);
}

} // namespace kelvara
