// The "Get frames" tab: its controls, the range and size handlers, extraction and saving.
#include "convert/qt/GetFramesTab.h"

#include "convert/AviToGif.h"
#include "convert/FrameExtraction.h"
#include "convert/qt/FrameListDelegate.h"
#include "convert/qt/TabHost.h"
#include "preview/qt/FrameViewer.h"
#include "widgets/FormHelpers.h"
#include "widgets/SlotGuard.h"
#include "widgets/WindowFit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvara::ui {

namespace {

const QString FiveDigits = "00000";

// The formats of the format list, in its order.
StillImageFormat listedFormat(int index) {
    static const StillImageFormat formats[] = {
        StillImageFormat::Bmp, StillImageFormat::Jpeg, StillImageFormat::Gif,     StillImageFormat::Tiff,
        StillImageFormat::Pcx, StillImageFormat::Tga,  StillImageFormat::Jpeg2000};
    return formats[std::clamp(index, 0, 6)];
}

} // namespace

GetFramesTab::GetFramesTab(TabHost& host, FrameTable& frames, TForm5* viewer, QWidget* parent)
    : QWidget(parent), m_host(host), m_frames(frames), m_viewer(viewer) {
    setObjectName("GetFramesTab");
    build();
    connectHandlers();
}

void GetFramesTab::build() {
    // The thumbnails: a 150-pixel picture area and the row's text beside it.
    lbAVI = named(new QListWidget(this), "lbAVI");
    lbAVI->setToolTip("Frames list - Double click for preview");
    lbAVI->setItemDelegate(new FrameListDelegate(m_frames, lbAVI));
    lbAVI->setUniformItemSizes(true);
    minimumWidthFor(lbAVI, "Frame " + FiveDigits,
                    160 + 8 + lbAVI->verticalScrollBar()->sizeHint().width() + 2 * lbAVI->frameWidth());
    ListBox1 = named(new QListWidget(this), "ListBox1");
    ListBox1->hide();

    GroupBox6 = named(new QGroupBox("Frames select", this), "GroupBox6");
    GroupBox6->setEnabled(false);
    RadioButton6 = named(new QRadioButton("All frames", GroupBox6), "RadioButton6");
    RadioButton6->setChecked(true);
    RadioButton7 = named(new QRadioButton("Range", GroupBox6), "RadioButton7");
    Panel5 = named(new QWidget(GroupBox6), "Panel5");
    SpinEdit6 = named(new SpinEdit(Panel5), "SpinEdit6");
    SpinEdit7 = named(new SpinEdit(Panel5), "SpinEdit7");
    SpinEdit6->setToolTip("starting frame");
    SpinEdit6->setAccessibleName("Starting frame");
    SpinEdit7->setToolTip("last frame");
    SpinEdit7->setAccessibleName("Last frame");
    for (SpinEdit* s : {SpinEdit6, SpinEdit7}) {
        fitEditTo(s, FiveDigits);
        s->setRange(1, 1);
        s->setValue(1);
    }
    auto* rangeLayout = new QGridLayout(Panel5);
    rangeLayout->setContentsMargins(0, 0, 0, 0);
    rangeLayout->setVerticalSpacing(0);
    rangeLayout->addWidget(new QLabel("starting frame", Panel5), 0, 0);
    rangeLayout->addWidget(new QLabel("last frame", Panel5), 0, 2);
    rangeLayout->addWidget(SpinEdit6, 1, 0);
    rangeLayout->addWidget(new QLabel(". . .", Panel5), 1, 1, Qt::AlignCenter);
    rangeLayout->addWidget(SpinEdit7, 1, 2);
    rangeLayout->setColumnStretch(3, 1);
    QSizePolicy keep = Panel5->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    Panel5->setSizePolicy(keep);
    Panel5->hide();
    auto* selectLayout = compact(new QGridLayout(GroupBox6));
    selectLayout->addWidget(RadioButton6, 0, 0);
    selectLayout->addWidget(RadioButton7, 0, 1);
    selectLayout->addWidget(Panel5, 1, 0, 1, 3);
    selectLayout->setColumnStretch(2, 1);

    GroupBox7 = named(new QGroupBox("Frame size", this), "GroupBox7");
    GroupBox7->setEnabled(false);
    RadioButton10 = named(new QRadioButton("Original", GroupBox7), "RadioButton10");
    RadioButton10->setChecked(true);
    RadioButton11 = named(new QRadioButton("Specified", GroupBox7), "RadioButton11");
    SpinEdit10 = named(new SpinEdit(GroupBox7), "SpinEdit10");
    SpinEdit10->setToolTip("Width");
    SpinEdit10->setAccessibleName("Frame width");
    SpinEdit11 = named(new SpinEdit(GroupBox7), "SpinEdit11");
    SpinEdit11->setToolTip("Height");
    SpinEdit11->setAccessibleName("Frame height");
    for (SpinEdit* s : {SpinEdit10, SpinEdit11}) {
        fitEditTo(s, FiveDigits);
        s->setRange(0, 10000);
        s->setEnabled(false);
    }
    CheckBox3 = named(new QCheckBox("Maintain aspect ratio", GroupBox7), "CheckBox3");
    CheckBox3->setChecked(true);
    CheckBox3->setEnabled(false);
    auto* sizeLayout = compact(new QGridLayout(GroupBox7));
    sizeLayout->addWidget(RadioButton10, 0, 0);
    sizeLayout->addWidget(RadioButton11, 0, 1);
    sizeLayout->addLayout(sizeRow(GroupBox7, SpinEdit10, SpinEdit11), 1, 0, 1, 3);
    sizeLayout->addWidget(CheckBox3, 2, 0, 1, 3);
    sizeLayout->setColumnStretch(2, 1);

    GroupBox1 = named(new QGroupBox("Save to ...", this), "GroupBox1");
    GroupBox1->setEnabled(false);
    ComboBox6 = named(new QComboBox(GroupBox1), "ComboBox6");
    ComboBox6->addItems({"BMP", "JPG", "GIF", "TIF", "PCX", "TGA", "JPEG2000"});
    Edit3 = named(new QLineEdit("frame", GroupBox1), "Edit3");
    followFont(Edit3, [this] { Edit3->setMinimumWidth(editWidthFor(Edit3, "frame00")); });
    auto* fileLabel = new QLabel("Filename:", GroupBox1);
    fileLabel->setBuddy(Edit3);
    auto* saveLayout = compact(new QGridLayout(GroupBox1));
    saveLayout->addWidget(ComboBox6, 0, 0, 1, 2, Qt::AlignLeft);
    saveLayout->addWidget(fileLabel, 1, 0);
    saveLayout->addWidget(Edit3, 1, 1);
    saveLayout->addWidget(new QLabel("+ Number", GroupBox1), 1, 2);
    saveLayout->setColumnStretch(1, 1);

    Button12 = named(new QPushButton("&Get frames", this), "Button12");
    Button13 = named(new QPushButton("&Abort", this), "Button13");
    Button13->setToolTip("Abort (Esc)");
    Button14 = named(new QPushButton("C&lear results", this), "Button14");
    Button15 = named(new QPushButton("&Save", this), "Button15");
    Button15->setToolTip("Save the frames (Ctrl+S)");
    Button16 = named(new QPushButton("Pre&view", this), "Button16");
    Button16->setToolTip("show of the received frames");
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {Button12, Button13, Button14, Button15, Button16}) {
        b->setEnabled(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    auto* options = new QVBoxLayout;
    options->addWidget(GroupBox6);
    options->addWidget(GroupBox7);
    options->addWidget(GroupBox1);
    options->addStretch(1);
    auto* layout = compact(new QHBoxLayout(this));
    layout->addWidget(lbAVI, 1);
    layout->addLayout(options);
    layout->addLayout(buttons);
}

void GetFramesTab::connectHandlers() {
    connect(RadioButton6, &QRadioButton::clicked, this, guarded(this, &GetFramesTab::RadioButton6Click));
    connect(RadioButton7, &QRadioButton::clicked, this, guarded(this, &GetFramesTab::RadioButton7Click));
    connect(SpinEdit6, &SpinEdit::textChanged, this, guarded(this, &GetFramesTab::SpinEdit6Change));
    connect(SpinEdit7, &SpinEdit::textChanged, this, guarded(this, &GetFramesTab::SpinEdit6Change));
    connect(RadioButton10, &QRadioButton::clicked, this, guarded(this, &GetFramesTab::RadioButton10Click));
    connect(RadioButton11, &QRadioButton::clicked, this, guarded(this, &GetFramesTab::RadioButton11Click));
    // Values the program sets keep driving each other; a typed size sets the other side once.
    connect(SpinEdit10, &SpinEdit::valueChanged, this, guarded(this, &GetFramesTab::SpinEdit10Change));
    connect(SpinEdit11, &SpinEdit::valueChanged, this, guarded(this, &GetFramesTab::SpinEdit11Change));
    keepTypedSizesInProportion(m_host, SpinEdit10, SpinEdit11, CheckBox3);
    connect(Button12, &QPushButton::clicked, this, guarded(this, &GetFramesTab::Button12Click));
    connect(Button13, &QPushButton::clicked, this, guarded(this, &GetFramesTab::Button13Click));
    connect(Button14, &QPushButton::clicked, this, guarded(this, &GetFramesTab::Button14Click));
    connect(Button15, &QPushButton::clicked, this, guarded(this, &GetFramesTab::Button15Click));
    connect(Button16, &QPushButton::clicked, this, guarded(this, &GetFramesTab::Button16Click));
    connect(lbAVI, &QListWidget::itemDoubleClicked, this, guarded(this, &GetFramesTab::lbAVIDblClick));
}

void GetFramesTab::videoOpened() {
    clearLists();
    RadioButton6Click();
    RadioButton10Click();
    RadioButton6->setChecked(true);
    for (QWidget* c : std::initializer_list<QWidget*>{GroupBox1, GroupBox6, GroupBox7})
        c->setEnabled(true);
    Button12->setEnabled(true);
}

void GetFramesTab::clearLists() {
    ListBox1->clear();
    lbAVI->clear();
}

void GetFramesTab::selectFirstFormat() {
    ComboBox6->setCurrentIndex(0);
}

// The format the frames are saved in, which is the page the save-parameters dialog opens on.
void GetFramesTab::saveSettings(QSettings& settings) const {
    settings.setValue("frames/format", ComboBox6->currentIndex());
}

void GetFramesTab::restoreSettings(const QSettings& settings) {
    bool ok = false;
    const int format = settings.value("frames/format").toInt(&ok);
    if (ok && format >= 0 && format < ComboBox6->count())
        ComboBox6->setCurrentIndex(format);
}

void GetFramesTab::RadioButton6Click() {
    Panel5->hide();
    SpinEdit6->setValue(1);
    SpinEdit7->setValue(m_host.state().frameCount);
}

void GetFramesTab::RadioButton7Click() {
    const int n = m_host.state().frameCount;
    Panel5->show();
    SpinEdit6->setValue(1);
    SpinEdit6->setRange(1, n);
    SpinEdit7->setValue(n);
    SpinEdit7->setRange(1, n);
}

void GetFramesTab::SpinEdit6Change() {
    m_host.state().firstFrame = SpinEdit6->value();
    m_host.state().lastFrame = SpinEdit7->value();
}

void GetFramesTab::RadioButton10Click() {
    const QRect& video = m_host.state().videoRect;
    SpinEdit10->setEnabled(false);
    SpinEdit11->setEnabled(false);
    CheckBox3->setEnabled(false);
    SpinEdit10->setValue(video.width());
    SpinEdit11->setValue(video.height());
}

void GetFramesTab::RadioButton11Click() {
    SpinEdit10->setEnabled(true);
    SpinEdit11->setEnabled(true);
    CheckBox3->setEnabled(true);
}

void GetFramesTab::SpinEdit10Change() {
    const QRect& video = m_host.state().videoRect;
    if (CheckBox3->isChecked())
        SpinEdit11->setValue(aspectSide(SpinEdit10->value(), video.width(), video.height()));
}

void GetFramesTab::SpinEdit11Change() {
    const QRect& video = m_host.state().videoRect;
    if (CheckBox3->isChecked())
        SpinEdit10->setValue(aspectSide(SpinEdit11->value(), video.height(), video.width()));
}

void GetFramesTab::Button12Click() {
    SharedState& state = m_host.state();
    FrameExtractionOptions options;
    options.videoPath = state.videoPath;
    options.firstFrame = state.firstFrame;
    options.lastFrame = state.lastFrame;
    options.videoWidth = state.videoRect.width();
    options.videoHeight = state.videoRect.height();
    options.frameSize = [this](int& w, int& h) {
        w = SpinEdit10->value();
        h = SpinEdit11->value();
    };
    options.frameAdded = [this](int entry, int64_t number) {
        auto* item = new QListWidgetItem(QString::fromStdString(frameItemText(number)));
        item->setData(Qt::UserRole, entry);
        lbAVI->addItem(item);
        ListBox1->addItem(QString::number(number));
    };
    const int64_t count = state.lastFrame - state.firstFrame + 1;
    if (count > 1 && count < 257) {
        clearLists();
        state.abortExtraction = false;
        Button13->setEnabled(true);
        Button13->setFocus();
        Button12->setEnabled(false);
        m_host.setOpenAviEnabled(false);
        m_host.setPlayerButtons(false, false, false);
        if (m_viewer)
            m_viewer->setFrameSizeText(QString::number(SpinEdit10->value()) + "x" +
                                       QString::number(SpinEdit11->value()) + " pixels");
    }
    FrameExtractionResult result;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        const JobScope job(m_host, this, Button13);
        WindowJobObserver observer(m_host.progressBar(), state.abortExtraction, state.windowClosing);
        result = extractFrames(options, m_frames, observer);
    } catch (...) {
        QApplication::restoreOverrideCursor();
        Button12->setEnabled(true);
        m_host.setOpenAviEnabled(true);
        Button13->setEnabled(false);
        m_host.setPlayerButtons(true, false, false);
        throw;
    }
    QApplication::restoreOverrideCursor();
    if (result.outcome == FrameExtractionOutcome::Warning) {
        if (!m_host.closePending())
            m_host.dialogs().showWarning("Warning", QString::fromStdString(result.message));
        return;
    }
    m_host.showJobStatus(jobEndText(result.run, result.frames));
    Button16->setEnabled(true);
    Button14->setEnabled(true);
    Button15->setEnabled(true);
    Button13->setEnabled(false);
    m_host.setPlayerButtons(true, false, false);
}

void GetFramesTab::Button13Click() {
    m_host.state().abortExtraction = true;
    Button13->setEnabled(false);
}

void GetFramesTab::Button14Click() {
    clearLists();
    m_frames.clear();
    Button16->setEnabled(false);
    Button14->setEnabled(false);
    Button15->setEnabled(false);
    m_host.setOpenAviEnabled(true);
    Button12->setEnabled(true);
}

void GetFramesTab::Button15Click() {
    const int count = lbAVI->count();
    if (count == 0)
        return;
    Dialogs& dialogs = m_host.dialogs();
    SharedState& state = m_host.state();
    // The options first, on the page of the chosen format, with the first frame as the sample.
    StillImageFormat format = listedFormat(ComboBox6->currentIndex());
    StillImageSaveOptions options = state.saveOptions;
    if (!dialogs.runSaveDialog || !dialogs.runSaveDialog(format, m_frames.entry(1), options))
        return;
    state.saveOptions = options;
    const QString folder = dialogs.chooseFolder ? dialogs.chooseFolder() : QString();
    if (folder.isEmpty())
        return;
    m_host.rememberFolder(FolderKind::SavedFrames, QDir(folder).filePath("."));
    const std::string base = Edit3->text().toStdString();
    std::vector<std::string> paths;
    int existing = 0;
    for (int i = 0; i < count; ++i) {
        const int number = ListBox1->item(i)->text().toInt();
        paths.push_back(
            (QDir(folder).filePath(QString::fromStdString(stillImageFileName(base, number, format))))
                .toStdString());
        if (QFileInfo::exists(QString::fromStdString(paths.back())))
            ++existing;
    }
    // One question before any existing file is replaced.
    if (existing > 0 &&
        !(dialogs.confirmReplace && dialogs.confirmReplace(QString::number(existing) + " of the files")))
        return;
    // Saving is a job: Abort (or closing the window) stops it after the file being written.
    QProgressBar* bar = m_host.progressBar();
    state.abortExtraction = false;
    Button13->setEnabled(true);
    int saved = 0;
    {
        const JobScope job(m_host, this, Button13);
        struct Done {
            QProgressBar* bar;
            QPushButton* abort;
            ~Done() {
                bar->setRange(0, 1);
                bar->setValue(0);
                abort->setEnabled(false);
            }
        } done{bar, Button13};
        bar->setRange(0, count);
        for (int i = 0; i < count && !state.abortExtraction; ++i) {
            const int entry = lbAVI->item(i)->data(Qt::UserRole).toInt();
            saveStillImageFile(m_frames.entry(entry), state.saveOptions, format, paths[size_t(i)],
                               ExistingFile::Replace);
            saved = i + 1;
            bar->setValue(saved);
            QCoreApplication::processEvents();
        }
    }
    if (saved < count)
        m_host.showJobStatus("Aborted: " + QString::number(saved) + " of " + QString::number(count) +
                             " frames saved");
}

// The viewer opens beside the main window the first time; later it opens where the user left it.
void GetFramesTab::openViewer(int row) {
    if (!m_viewer)
        return;
    if (!m_viewerPlaced) {
        placeBeside(m_viewer, m_host.mainWindow(), m_host.controlsOnScreen());
        m_viewerPlaced = true;
    }
    m_viewer->openAtPosition(row, m_frames, ListBox1, SpinEdit10->value(), SpinEdit11->value());
}

void GetFramesTab::Button16Click() {
    if (lbAVI->count() > 0)
        openViewer(0);
}

void GetFramesTab::lbAVIDblClick() {
    const int row = lbAVI->currentRow();
    if (row >= 0)
        openViewer(row);
}

} // namespace kelvara::ui
