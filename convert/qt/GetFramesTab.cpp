// The "Get frames" tab: its controls, the range and size handlers, extraction.
#include "app/MainForm.h"
#include "convert/AviToGif.h"
#include "convert/FrameExtraction.h"
#include "convert/qt/FrameListDelegate.h"
#include "output/qt/SaveParamDialog.h"
#include "preview/qt/FrameViewer.h"
#include "raster/Error.h"

#include <QFileDialog>
#include <QFileInfo>

#include <QApplication>
#include <QDir>

#include <algorithm>

namespace kelvara {

namespace {

template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

} // namespace

void TForm1::buildGetFramesTab(QWidget* page) {
    lbAVI = named(new QListWidget(page), "lbAVI");
    lbAVI->setToolTip("Frames list - Double click for preview");
    lbAVI->setGeometry(5, 5, 245, 160);
    lbAVI->setItemDelegate(new FrameListDelegate(extractionFrames, lbAVI));
    lbAVI->setUniformItemSizes(true);
    ListBox1 = named(new QListWidget(page), "ListBox1");
    ListBox1->hide();

    GroupBox6 = named(new QGroupBox("Frames select", page), "GroupBox6");
    GroupBox6->setGeometry(255, 2, 235, 52);
    GroupBox6->setEnabled(false);
    RadioButton6 = named(new QRadioButton("All frames", GroupBox6), "RadioButton6");
    RadioButton6->setGeometry(6, 16, 80, 18);
    RadioButton6->setChecked(true);
    RadioButton7 = named(new QRadioButton("Range", GroupBox6), "RadioButton7");
    RadioButton7->setGeometry(6, 33, 70, 18);
    Panel5 = named(new QWidget(GroupBox6), "Panel5");
    Panel5->setGeometry(88, 16, 145, 34);
    Panel5->hide();
    SpinEdit6 = named(new SpinEdit(Panel5), "SpinEdit6");
    SpinEdit6->setGeometry(0, 6, 60, 22);
    auto* dots = new QLabel(". . .", Panel5);
    dots->move(64, 9);
    SpinEdit7 = named(new SpinEdit(Panel5), "SpinEdit7");
    SpinEdit7->setGeometry(84, 6, 60, 22);
    SpinEdit6->setToolTip("starting frame");
    SpinEdit7->setToolTip("last frame");
    SpinEdit6->setRange(1, 1);
    SpinEdit7->setRange(1, 1);
    SpinEdit6->setValue(1);
    SpinEdit7->setValue(1);

    GroupBox7 = named(new QGroupBox("Frame size", page), "GroupBox7");
    GroupBox7->setGeometry(255, 56, 235, 52);
    GroupBox7->setEnabled(false);
    RadioButton10 = named(new QRadioButton("Original", GroupBox7), "RadioButton10");
    RadioButton10->setGeometry(6, 16, 80, 18);
    RadioButton10->setChecked(true);
    RadioButton11 = named(new QRadioButton("Specified", GroupBox7), "RadioButton11");
    RadioButton11->setGeometry(6, 33, 80, 18);
    SpinEdit10 = named(new SpinEdit(GroupBox7), "SpinEdit10");
    SpinEdit10->setToolTip("Width");
    SpinEdit10->setGeometry(88, 14, 55, 22);
    SpinEdit11 = named(new SpinEdit(GroupBox7), "SpinEdit11");
    SpinEdit11->setToolTip("Height");
    SpinEdit11->setGeometry(148, 14, 55, 22);
    SpinEdit10->setRange(0, 10000);
    SpinEdit11->setRange(0, 10000);
    SpinEdit10->setEnabled(false);
    SpinEdit11->setEnabled(false);
    CheckBox3 = named(new QCheckBox("Maintain aspect ratio", GroupBox7), "CheckBox3");
    CheckBox3->setGeometry(88, 34, 145, 18);
    CheckBox3->setChecked(true);
    CheckBox3->setEnabled(false);

    GroupBox1 = named(new QGroupBox("Save to ...", page), "GroupBox1");
    GroupBox1->setGeometry(255, 110, 235, 30);
    GroupBox1->setEnabled(false);
    ComboBox6 = named(new QComboBox(GroupBox1), "ComboBox6");
    ComboBox6->addItems({"BMP", "JPG", "GIF", "TIF", "PCX", "TGA", "JPEG2000"});
    ComboBox6->setGeometry(4, 6, 80, 22);
    auto* fileLabel = new QLabel("Filename:", GroupBox1);
    fileLabel->move(88, 10);
    Edit3 = named(new QLineEdit("frame", GroupBox1), "Edit3");
    Edit3->setGeometry(140, 6, 50, 22);
    auto* numberLabel = new QLabel("+ Number", GroupBox1);
    numberLabel->move(192, 10);

    Button12 = named(new QPushButton("Get frames", page), "Button12");
    Button13 = named(new QPushButton("Abort", page), "Button13");
    Button14 = named(new QPushButton("Clear results", page), "Button14");
    Button15 = named(new QPushButton("Save", page), "Button15");
    Button16 = named(new QPushButton("Preview", page), "Button16");
    Button16->setToolTip("show of the received frames");
    int x = 255;
    for (QPushButton* b : {Button12, Button13, Button14, Button15, Button16}) {
        b->setGeometry(x, 143, 46, 22);
        b->setEnabled(false);
        x += 47;
    }
    runSaveDialog = [this](StillImageFormat& page, const Bitmap& source, StillImageSaveOptions& options) {
        if (!m_windows.saveParam || !m_windows.saveParam->execute(page, source, options))
            return false;
        page = m_windows.saveParam->page();
        return true;
    };
    chooseFolder = [this] { return QFileDialog::getExistingDirectory(this, "Save frames to"); };
    connect(Button15, &QPushButton::clicked, this, &TForm1::Button15Click);
    connect(Button16, &QPushButton::clicked, this, &TForm1::Button16Click);
    connect(lbAVI, &QListWidget::itemDoubleClicked, this, &TForm1::lbAVIDblClick);
}

void TForm1::RadioButton6Click() {
    Panel5->hide();
    SpinEdit6->setValue(1);
    SpinEdit7->setValue(state.frameCount);
}

void TForm1::RadioButton7Click() {
    Panel5->show();
    SpinEdit6->setValue(1);
    SpinEdit6->setRange(1, state.frameCount);
    SpinEdit7->setValue(state.frameCount);
    SpinEdit7->setRange(1, state.frameCount);
}

void TForm1::SpinEdit6Change() {
    state.firstFrame = SpinEdit6->value();
    state.lastFrame = SpinEdit7->value();
}

void TForm1::RadioButton10Click() {
    SpinEdit10->setEnabled(false);
    SpinEdit11->setEnabled(false);
    CheckBox3->setEnabled(false);
    SpinEdit10->setValue(state.videoRect.width());
    SpinEdit11->setValue(state.videoRect.height());
}

void TForm1::RadioButton11Click() {
    SpinEdit10->setEnabled(true);
    SpinEdit11->setEnabled(true);
    CheckBox3->setEnabled(true);
}

void TForm1::SpinEdit10Change() {
    if (CheckBox3->isChecked())
        SpinEdit11->setValue(
            aspectSide(SpinEdit10->value(), state.videoRect.width(), state.videoRect.height()));
}

void TForm1::SpinEdit11Change() {
    if (CheckBox3->isChecked())
        SpinEdit10->setValue(
            aspectSide(SpinEdit11->value(), state.videoRect.height(), state.videoRect.width()));
}

void TForm1::Button12Click() {
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
        ListBox1->clear();
        lbAVI->clear();
        state.abortExtraction = false;
        Button13->setEnabled(true);
        Button13->setFocus();
        Button12->setEnabled(false);
        SpeedButton5->setEnabled(false);
        BitBtn3->setEnabled(false);
        BitBtn4->setEnabled(false);
        BitBtn5->setEnabled(false);
    }
    if (count > 1 && count < 257 && m_windows.form5)
        m_windows.form5->setFrameSizeText(QString::number(SpinEdit10->value()) + "x" +
                                          QString::number(SpinEdit11->value()) + " pixels");
    FrameExtractionResult result;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        WindowJobObserver observer(ProgressBar1, state.abortExtraction);
        result = extractFrames(options, extractionFrames, observer);
    } catch (...) {
        QApplication::restoreOverrideCursor();
        Button12->setEnabled(true);
        SpeedButton5->setEnabled(true);
        Button13->setEnabled(false);
        BitBtn3->setEnabled(true);
        throw;
    }
    QApplication::restoreOverrideCursor();
    if (result.outcome == FrameExtractionOutcome::Warning) {
        showWarning("Warning", QString::fromStdString(result.message));
        return;
    }
    Button16->setEnabled(true);
    Button14->setEnabled(true);
    Button15->setEnabled(true);
    Button13->setEnabled(false);
    BitBtn3->setEnabled(true);
    BitBtn4->setEnabled(false);
    BitBtn5->setEnabled(false);
}

void TForm1::Button13Click() {
    state.abortExtraction = true;
    Button13->setEnabled(false);
}

// The formats of the format list, in its order.
static StillImageFormat listedFormat(int index) {
    static const StillImageFormat formats[] = {
        StillImageFormat::Bmp, StillImageFormat::Jpeg, StillImageFormat::Gif,     StillImageFormat::Tiff,
        StillImageFormat::Pcx, StillImageFormat::Tga,  StillImageFormat::Jpeg2000};
    return formats[std::clamp(index, 0, 6)];
}

void TForm1::Button15Click() {
    const int count = lbAVI->count();
    if (count == 0)
        return;
    // The options first, on the page of the chosen format, with the first frame as the sample.
    StillImageFormat format = listedFormat(ComboBox6->currentIndex());
    StillImageSaveOptions options = saveOptions;
    if (!runSaveDialog || !runSaveDialog(format, extractionFrames.entry(1), options))
        return;
    saveOptions = options;
    const QString folder = chooseFolder ? chooseFolder() : QString();
    if (folder.isEmpty())
        return;
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
    if (existing > 0 && !(confirmReplace && confirmReplace(QString::number(existing) + " of the files")))
        return;
    ProgressBar1->setRange(0, count);
    for (int i = 0; i < count; ++i) {
        const int entry = lbAVI->item(i)->data(Qt::UserRole).toInt();
        saveStillImageFile(extractionFrames.entry(entry), saveOptions, format, paths[size_t(i)],
                           ExistingFile::Replace);
        ProgressBar1->setValue(i + 1);
        QCoreApplication::processEvents();
    }
    ProgressBar1->setValue(0);
}

void TForm1::Button16Click() {
    if (m_windows.form5 && lbAVI->count() > 0)
        m_windows.form5->openAtPosition(0, extractionFrames, ListBox1, SpinEdit10->value(),
                                        SpinEdit11->value());
}

void TForm1::lbAVIDblClick() {
    const int row = lbAVI->currentRow();
    if (row < 0 || !m_windows.form5)
        return;
    m_windows.form5->openAtPosition(row, extractionFrames, ListBox1, SpinEdit10->value(),
                                    SpinEdit11->value());
}

void TForm1::Button14Click() {
    ListBox1->clear();
    lbAVI->clear();
    extractionFrames.clear();
    Button16->setEnabled(false);
    Button14->setEnabled(false);
    Button15->setEnabled(false);
    SpeedButton5->setEnabled(true);
    Button12->setEnabled(true);
}

} // namespace kelvara
