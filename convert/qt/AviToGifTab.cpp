// The "AVI to animated GIF" tab: its controls, window picking, "Convert" and the preview.
#include "app/Forms.h"
#include "app/MainForm.h"
#include "convert/AviToGif.h"
#include "gif/GifDocument.h"
#include "preview/qt/GifPreviewForm.h"
#include "raster/Error.h"
#include "raster/Stream.h"
#include "video/FrameSource.h"

#include <QApplication>
#include <QFileInfo>
#include <QStatusBar>

namespace kelvara {

namespace {

template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

SpinEdit* spinEdit(QWidget* parent, const char* name, int x, int y, int w, const QString& hint = {}) {
    auto* s = named(new SpinEdit(parent), name);
    s->setGeometry(x, y, w, 22);
    s->setToolTip(hint);
    return s;
}

QLabel* label(QWidget* parent, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->move(x, y + 3);
    return l;
}

} // namespace

void TForm1::buildGifTab(QWidget* page) {
    GroupBox2 = named(new QGroupBox("AVI: window size", page), "GroupBox2");
    GroupBox2->setGeometry(5, 2, 120, 112);
    GroupBox2->setEnabled(false);
    RadioButton1 = named(new QRadioButton("Full window", GroupBox2), "RadioButton1");
    RadioButton1->setGeometry(8, 18, 108, 20);
    RadioButton1->setChecked(true);
    RadioButton2 = named(new QRadioButton("Window part", GroupBox2), "RadioButton2");
    RadioButton2->setGeometry(8, 38, 108, 20);
    Button8 = named(new QPushButton("Pick window", GroupBox2), "Button8");
    Button8->setGeometry(8, 60, 104, 24);
    Button8->setEnabled(false);
    auto* widthIcon = new QLabel("W", GroupBox2);
    widthIcon->setToolTip("Width");
    widthIcon->setGeometry(8, 88, 12, 20);
    Label1 = named(new QLabel("0", GroupBox2), "Label1");
    Label1->setGeometry(22, 88, 36, 20);
    Label1->setEnabled(false);
    auto* heightIcon = new QLabel("H", GroupBox2);
    heightIcon->setToolTip("Height");
    heightIcon->setGeometry(60, 88, 12, 20);
    Label2 = named(new QLabel("0", GroupBox2), "Label2");
    Label2->setGeometry(74, 88, 36, 20);
    Label2->setEnabled(false);

    GroupBox8 = named(new QGroupBox("GIF: window size", page), "GroupBox8");
    GroupBox8->setGeometry(130, 2, 150, 96);
    ComboBox2 = named(new QComboBox(GroupBox8), "ComboBox2");
    ComboBox2->addItems({" As AVI window size", " Scale", " Specified size"});
    ComboBox2->setGeometry(8, 18, 134, 22);
    ComboBox2->setEnabled(false);
    Panel6 = named(new QWidget(GroupBox8), "Panel6");
    Panel6->setGeometry(8, 44, 134, 26);
    Panel6->hide();
    ComboBox3 = named(new QComboBox(Panel6), "ComboBox3");
    ComboBox3->addItems({" 5:1", " 4:1", " 3:1", " 2:1", " 1:1", " 1:2", " 1:3", " 1:4", " 1:5"});
    ComboBox3->setCurrentIndex(4);
    ComboBox3->setGeometry(0, 0, 80, 22);
    Panel7 = named(new QWidget(GroupBox8), "Panel7");
    Panel7->setGeometry(8, 42, 140, 52);
    Panel7->hide();
    CheckBox2 = named(new QCheckBox("Maintain aspect ratio", Panel7), "CheckBox2");
    CheckBox2->setGeometry(0, 0, 140, 20);
    CheckBox2->setChecked(true);
    SpinEdit8 = spinEdit(Panel7, "SpinEdit8", 0, 24, 60, "Width");
    SpinEdit9 = spinEdit(Panel7, "SpinEdit9", 70, 24, 60, "Height");
    SpinEdit8->setRange(0, 10000);
    SpinEdit9->setRange(0, 10000);

    GroupBox4 = named(new QGroupBox("Frames select", page), "GroupBox4");
    GroupBox4->setGeometry(285, 2, 205, 96);
    GroupBox4->setEnabled(false);
    RadioButton3 = named(new QRadioButton("All frames", GroupBox4), "RadioButton3");
    RadioButton3->setGeometry(6, 18, 80, 20);
    RadioButton3->setChecked(true);
    RadioButton4 = named(new QRadioButton("Frames range", GroupBox4), "RadioButton4");
    RadioButton4->setGeometry(86, 18, 110, 20);
    RadioButton5 = named(new QRadioButton("Time range", GroupBox4), "RadioButton5");
    RadioButton5->setGeometry(6, 38, 110, 20);
    Panel8 = named(new QWidget(GroupBox4), "Panel8");
    Panel8->setGeometry(4, 62, 196, 26);
    Panel8->hide();
    label(Panel8, "From", 0, 0);
    SpinEdit2 = spinEdit(Panel8, "SpinEdit2", 32, 0, 55);
    label(Panel8, "to", 92, 0);
    SpinEdit3 = spinEdit(Panel8, "SpinEdit3", 106, 0, 55);
    label(Panel8, "frame", 164, 0);
    Panel9 = named(new QWidget(GroupBox4), "Panel9");
    Panel9->setGeometry(4, 70, 196, 26);
    Panel9->hide();
    label(Panel9, "From", 0, 0);
    SpinEdit4 = spinEdit(Panel9, "SpinEdit4", 32, 0, 55);
    label(Panel9, "to", 92, 0);
    SpinEdit5 = spinEdit(Panel9, "SpinEdit5", 106, 0, 55);
    label(Panel9, "s", 164, 0);
    for (SpinEdit* s : {SpinEdit2, SpinEdit3, SpinEdit4, SpinEdit5})
        s->setRange(0, 0);

    RadioGroup1 = named(new QGroupBox("Direction", page), "RadioGroup1");
    RadioGroup1->setGeometry(130, 100, 150, 40);
    RadioGroup1->setEnabled(false);
    RadioGroup1Forward = named(new QRadioButton("forward", RadioGroup1), "RadioGroup1Forward");
    RadioGroup1Forward->setGeometry(6, 16, 70, 20);
    RadioGroup1Forward->setChecked(true);
    RadioGroup1Backward = named(new QRadioButton("backward", RadioGroup1), "RadioGroup1Backward");
    RadioGroup1Backward->setGeometry(76, 16, 72, 20);

    GroupBox9 = named(new QGroupBox("Frame sampling rate", page), "GroupBox9");
    GroupBox9->setGeometry(285, 100, 100, 40);
    GroupBox9->setEnabled(false);
    SpinEdit1 = spinEdit(GroupBox9, "SpinEdit1", 8, 15, 50);
    SpinEdit1->setRange(1, 10);
    SpinEdit1->setValue(1);

    GroupBox10 = named(new QGroupBox("GIF: frames interval", page), "GroupBox10");
    GroupBox10->setGeometry(390, 100, 100, 40);
    GroupBox10->setEnabled(false);
    Edit5 = named(new QLineEdit("100", GroupBox10), "Edit5");
    Edit5->setToolTip("GIF delay (10...5000ms)");
    Edit5->setGeometry(8, 15, 50, 22);
    label(GroupBox10, "ms", 62, 15);

    Button5 = named(new QPushButton("Convert", page), "Button5");
    Button7 = named(new QPushButton("Abort", page), "Button7");
    Button4 = named(new QPushButton("Clear GIF", page), "Button4");
    Button6 = named(new QPushButton("Save", page), "Button6");
    int x = 5;
    for (QPushButton* b : {Button5, Button7, Button4, Button6}) {
        b->setGeometry(x, 142, 72, 24);
        b->setEnabled(false);
        x += 76;
    }
    // The status bar: panel 0 "GIF", panel 1 the result.
    StatusBar2 = named(new QWidget(page), "StatusBar2");
    StatusBar2->setGeometry(310, 143, 180, 22);
    StatusBar2Panel0 = named(new QLabel("GIF", StatusBar2), "StatusBar2Panel0");
    StatusBar2Panel0->setAlignment(Qt::AlignCenter);
    StatusBar2Panel0->setFrameStyle(QFrame::Panel | QFrame::Raised);
    StatusBar2Panel0->setGeometry(0, 0, 50, 22);
    StatusBar2Panel1 = named(new QLabel(StatusBar2), "StatusBar2Panel1");
    StatusBar2Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    StatusBar2Panel1->setGeometry(50, 0, 130, 22);
}

// ---- size, frames and delay options ----

void TForm1::ComboBox2Change() {
    switch (ComboBox2->currentIndex()) {
    case 0:
        Panel6->hide();
        Panel7->hide();
        break;
    case 1:
        Panel6->show();
        Panel7->hide();
        ComboBox3->setCurrentIndex(4);
        break;
    default:
        Panel6->hide();
        Panel7->show();
        SpinEdit8->setValue(state.gifBaseWidth);
        SpinEdit9->setValue(state.gifBaseHeight);
        break;
    }
}

void TForm1::SpinEdit8Change() {
    if (CheckBox2->isChecked())
        SpinEdit9->setValue(
            aspectSide(SpinEdit8->value(), state.videoRect.width(), state.videoRect.height()));
}

void TForm1::SpinEdit9Change() {
    if (CheckBox2->isChecked())
        SpinEdit8->setValue(
            aspectSide(SpinEdit9->value(), state.videoRect.height(), state.videoRect.width()));
}

static void resetRangeEdits(TForm1& f) {
    const int n = f.state.frameCount, seconds = f.state.videoLengthSeconds;
    f.SpinEdit2->setValue(1);
    f.SpinEdit2->setRange(1, n);
    f.SpinEdit3->setValue(n);
    f.SpinEdit3->setRange(1, n);
    f.SpinEdit4->setValue(0);
    f.SpinEdit4->setRange(0, seconds);
    f.SpinEdit5->setValue(seconds);
    f.SpinEdit5->setRange(0, seconds);
}

void TForm1::RadioButton3Click() {
    resetRangeEdits(*this);
    Panel8->hide();
    Panel9->hide();
    state.firstFrame = 1;
    state.lastFrame = state.frameCount;
}

void TForm1::RadioButton4Click() {
    resetRangeEdits(*this);
    Panel8->show();
    Panel9->hide();
}

void TForm1::RadioButton5Click() {
    resetRangeEdits(*this);
    Panel8->hide();
    Panel9->show();
}

void TForm1::SpinEdit1Change() {
    state.samplingStep = SpinEdit1->value();
}

void TForm1::Edit5Change() {
    state.gifDelay = gifDelayFromText(Edit5->text().toStdString());
}

// ---- Convert, Abort, Clear GIF, Save ----

void TForm1::Button5Click() {
    if (GIFview->hasSelection()) {
        VideoPanel->show();
        GIFview->hide();
        GIFview->removeSelection();
    }
    MediaPlayer1.pauseOperation();
    ListBox1->clear();
    lbAVI->clear();
    state.abortConversion = false;
    Button7->setEnabled(true);
    Button7->setFocus();
    Button5->setEnabled(false);
    SpeedButton5->setEnabled(false);
    BitBtn3->setEnabled(false);
    BitBtn4->setEnabled(false);
    BitBtn5->setEnabled(false);

    AviToGifOptions options;
    options.videoPath = state.videoPath;
    options.frameCount = state.frameCount;
    options.lengthMs = state.videoLength;
    options.baseWidth = state.gifBaseWidth;
    options.baseHeight = state.gifBaseHeight;
    options.crop = state.cropRect;
    options.sizeMode = ComboBox2->currentIndex() == 1   ? GifSizeMode::Scale
                       : ComboBox2->currentIndex() == 2 ? GifSizeMode::Specified
                                                        : GifSizeMode::AsArea;
    options.scaleIndex = ComboBox3->currentIndex();
    options.specifiedWidth = SpinEdit8->value();
    options.specifiedHeight = SpinEdit9->value();
    options.frames = RadioButton4->isChecked()   ? FrameChoice::FrameRange
                     : RadioButton5->isChecked() ? FrameChoice::TimeRange
                                                 : FrameChoice::All;
    options.firstFrame = SpinEdit2->value();
    options.lastFrame = SpinEdit3->value();
    options.fromSecond = SpinEdit4->value();
    options.toSecond = SpinEdit5->value();
    // The step as typed: a text that is no number reaches the job as 0 and is refused there.
    bool stepOk = false;
    options.samplingStep = SpinEdit1->text().trimmed().toInt(&stepOk);
    if (!stepOk)
        options.samplingStep = 0;
    options.delayMs = state.gifDelay;
    options.direction = RadioGroup1Backward->isChecked() ? Direction::Backward : Direction::Forward;

    auto finish = [this] {
        Button4->setEnabled(true);
        Button6->setEnabled(true);
        Button7->setEnabled(false);
        BitBtn3->setEnabled(true);
        BitBtn4->setEnabled(false);
        BitBtn5->setEnabled(false);
    };
    AviToGifResult result;
    TGIFDocument& built = m_windows.form3->Image1Picture();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        WindowJobObserver observer(ProgressBar1, state.abortConversion);
        state.builtFrameCount = 0;
        result = convertAviToGif(options, gifFrames, built, observer);
        state.builtFrameCount = result.frames;
    } catch (...) {
        // A failed run leaves the tab as it was before it: Convert, Open AVI and the player
        // usable, Abort off, the normal cursor.
        QApplication::restoreOverrideCursor();
        ProgressBar1->setValue(ProgressBar1->minimum());
        Button5->setEnabled(true);
        SpeedButton5->setEnabled(true);
        Button7->setEnabled(false);
        BitBtn3->setEnabled(true);
        Label21->setText(QString::fromStdString(state.videoFileName));
        throw;
    }
    QApplication::restoreOverrideCursor();
    if (result.outcome == AviToGifOutcome::Warning) {
        showWarning("Warning", QString::fromStdString(result.message));
        finish();
        return;
    }
    StatusBar2Panel1->setText(QString::fromStdString(result.statusText));
    if (result.outcome == AviToGifOutcome::NoFrames) {
        // Nothing to preview or save: the earlier result stays.
        showWarning("Warning", QString::fromStdString(result.message));
        finish();
        return;
    }
    m_windows.gifForm1->startPreview(result.gifWidth, result.gifHeight, result.frames);
    PreviewTimer->setInterval(state.gifDelay);
    PreviewTimer->start();
    finish();
}

void TForm1::Button7Click() {
    state.abortConversion = true;
    Button7->setEnabled(false);
}

void TForm1::Button4Click() {
    gifFrames.clear();
    SpeedButton5->setEnabled(true);
    Button5->setEnabled(true);
    Button4->setEnabled(false);
    Button6->setEnabled(false);
    StatusBar2Panel1->setText(" ");
    PreviewTimer->stop();
    m_windows.gifForm1->stopPreview();
}

void TForm1::Button6Click() {
    TGIFDocument& built = m_windows.form3->Image1Picture();
    if (built.Empty())
        throw Error("There is no GIF to save.");
    QString path = chooseSaveFile ? chooseSaveFile() : QString();
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path) && !(confirmReplace && confirmReplace(path)))
        return;
    MemoryStream bytes;
    built.SaveToStream(bytes);
    writeFileAtomically(path.toStdString(), bytes.bytes().data(), bytes.bytes().size());
}

// ---- window picking ----

void TForm1::RadioButton2Click() {
    Button8->setEnabled(true);
}

void TForm1::RadioButton1Click() {
    Button8->setEnabled(false);
    if (GIFview->hasSelection())
        GIFview->removeSelection();
    const int w = state.videoRect.width(), h = state.videoRect.height();
    Label1->setText(QString::number(w));
    Label2->setText(QString::number(h));
    state.gifBaseWidth = w;
    state.gifBaseHeight = h;
    state.cropRect = {state.videoRect.left(), state.videoRect.top(), w, h};
}

void TForm1::Button8Click() {
    MediaPlayer1.seek(0);
    GIFview->setSelectionEnabled(true);
    const int w = state.videoRect.width(), h = state.videoRect.height();
    GIFview->resize(w, h);
    GIFview->picture().SetWidth(w);
    GIFview->picture().SetHeight(h);
    VideoPanel->hide();
    GIFview->show();
    FrameReader reader;
    try {
        reader.open(state.videoPath);
    } catch (...) {
        // Back to the video panel, as before the attempt.
        GIFview->hide();
        VideoPanel->show();
        throw;
    }
    // The second frame of the stream; a single-frame video shows its only frame.
    Bitmap* frame = reader.frame(1);
    if (!frame)
        frame = reader.frame(0);
    if (frame)
        GIFview->picture().Canvas().Draw(0, 0, *frame);
    GIFview->repaint();
}

void TForm1::GIFviewMouseMove(int, int) {
    if (!GIFview->hasSelection())
        return;
    Label1->setText(QString::number(GIFview->X2() - GIFview->X1()));
    Label2->setText(QString::number(GIFview->Y2() - GIFview->Y1()));
}

void TForm1::GIFviewMouseUp(int, int) {
    if (!GIFview->hasSelection())
        return;
    // The view's corners are inclusive; they are used as an exclusive rectangle.
    state.gifBaseWidth = GIFview->X2() - GIFview->X1();
    state.gifBaseHeight = GIFview->Y2() - GIFview->Y1();
    state.cropRect = {GIFview->X1(), GIFview->Y1(), GIFview->X2(), GIFview->Y2()};
}

// ---- previews ----

void TForm1::PreviewTimerTimer() {
    m_windows.gifForm1->tick(gifFrames);
}

void TForm1::TransitTimerTimer() {
    m_windows.gifForm2->tick(transitionFrames);
}

} // namespace kelvara
