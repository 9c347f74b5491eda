// The "AVI to animated GIF" tab: its controls, window picking, "Convert" and the preview.
#include "convert/qt/AviToGifTab.h"

#include "convert/AviToGif.h"
#include "convert/GifJob.h"
#include "convert/GifSizeFit.h"
#include "convert/qt/TabHost.h"
#include "gif/GifDocument.h"
#include "preview/qt/GifPreviewForm.h"
#include "preview/qt/ImageView.h"
#include "video/FrameSource.h"
#include "widgets/FormHelpers.h"
#include "widgets/SlotGuard.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

namespace kelvara::ui {

namespace {

// The widest numbers the boxes show: frame numbers and sizes up to 10000, seconds, the delay.
const QString FiveDigits = "00000";

// A panel of "From" [first] "to" [last] unit: the frame range and the time range.
QWidget* rangePanel(QWidget* parent, const char* name, const char* firstName, const char* lastName,
                    const QString& unit, SpinEdit*& first, SpinEdit*& last) {
    auto* panel = named(new QWidget(parent), name);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    first = named(new SpinEdit(panel), firstName);
    last = named(new SpinEdit(panel), lastName);
    fitEditTo(first, FiveDigits);
    fitEditTo(last, FiveDigits);
    layout->addWidget(new QLabel("From", panel));
    layout->addWidget(first);
    layout->addWidget(new QLabel("to", panel));
    layout->addWidget(last);
    layout->addWidget(new QLabel(unit, panel));
    layout->addStretch(1);
    // The two panels take turns in one place: the group keeps its size when both are hidden.
    QSizePolicy policy = panel->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    panel->setSizePolicy(policy);
    panel->hide();
    return panel;
}

// The name the save dialog suggests: the video's name and the range, "clip_10-60.gif" for frames
// 10 to 60, "clip_2-4s.gif" for seconds 2 to 4, "clip.gif" for all frames.
QString suggestedGifName(const AviToGifOptions& options) {
    QString name = QFileInfo(QString::fromStdString(options.videoPath)).completeBaseName();
    if (name.isEmpty())
        name = "animation";
    if (options.frames == FrameChoice::FrameRange)
        name += "_" + QString::number(options.firstFrame) + "-" + QString::number(options.lastFrame);
    else if (options.frames == FrameChoice::TimeRange)
        name += "_" + QString::number(options.fromSecond) + "-" + QString::number(options.toSecond) + "s";
    return name + ".gif";
}

QSizePolicy retainedWhenHidden(QWidget* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    return policy;
}

} // namespace

AviToGifTab::AviToGifTab(TabHost& host, FrameTable& frames, TGIFform1* preview, QWidget* parent)
    : QWidget(parent), m_host(host), m_frames(frames), m_preview(preview) {
    setObjectName("AviToGifTab");
    build();
    connectHandlers();
}

void AviToGifTab::build() {
    // "AVI: window size": the whole picture or a picked part of it, and its size.
    GroupBox2 = named(new QGroupBox("AVI: window size", this), "GroupBox2");
    GroupBox2->setEnabled(false);
    RadioButton1 = named(new QRadioButton("Full window", GroupBox2), "RadioButton1");
    RadioButton1->setChecked(true);
    RadioButton2 = named(new QRadioButton("Window part", GroupBox2), "RadioButton2");
    Button8 = named(new QPushButton("Pick &window", GroupBox2), "Button8");
    Button8->setEnabled(false);
    Label1 = named(new QLabel("0", GroupBox2), "Label1");
    Label1->setEnabled(false);
    Label2 = named(new QLabel("0", GroupBox2), "Label2");
    Label2->setEnabled(false);
    for (QLabel* size : {Label1, Label2})
        minimumWidthFor(size, FiveDigits);
    auto* areaLayout = compact(new QVBoxLayout(GroupBox2));
    areaLayout->addWidget(RadioButton1);
    areaLayout->addWidget(RadioButton2);
    areaLayout->addWidget(Button8);
    areaLayout->addLayout(sizeRow(GroupBox2, Label1, Label2));
    areaLayout->addStretch(1);

    // "GIF: window size": as the area, scaled, or typed.
    GroupBox8 = named(new QGroupBox("GIF: window size", this), "GroupBox8");
    ComboBox2 = named(new QComboBox(GroupBox8), "ComboBox2");
    ComboBox2->addItems({" As AVI window size", " Scale", " Specified size"});
    ComboBox2->setEnabled(false);
    Panel6 = named(new QWidget(GroupBox8), "Panel6");
    ComboBox3 = named(new QComboBox(Panel6), "ComboBox3");
    ComboBox3->addItems({" 5:1", " 4:1", " 3:1", " 2:1", " 1:1", " 1:2", " 1:3", " 1:4", " 1:5"});
    ComboBox3->setCurrentIndex(4);
    auto* scaleLayout = new QHBoxLayout(Panel6);
    scaleLayout->setContentsMargins(0, 0, 0, 0);
    scaleLayout->addWidget(ComboBox3);
    scaleLayout->addStretch(1);
    Panel7 = named(new QWidget(GroupBox8), "Panel7");
    CheckBox2 = named(new QCheckBox("Maintain aspect ratio", Panel7), "CheckBox2");
    CheckBox2->setChecked(true);
    SpinEdit8 = named(new SpinEdit(Panel7), "SpinEdit8");
    SpinEdit9 = named(new SpinEdit(Panel7), "SpinEdit9");
    auto* typedLayout = new QGridLayout(Panel7);
    typedLayout->setContentsMargins(0, 0, 0, 0);
    typedLayout->addWidget(CheckBox2, 0, 0);
    typedLayout->addLayout(sizeRow(Panel7, SpinEdit8, SpinEdit9), 1, 0);
    SpinEdit8->setAccessibleName("GIF width");
    SpinEdit9->setAccessibleName("GIF height");
    for (SpinEdit* s : {SpinEdit8, SpinEdit9}) {
        s->setRange(0, 10000);
        fitEditTo(s, FiveDigits);
    }
    for (QWidget* panel : {Panel6, Panel7}) {
        panel->setSizePolicy(retainedWhenHidden(panel));
        panel->hide();
    }
    auto* sizeLayout = compact(new QGridLayout(GroupBox8));
    sizeLayout->addWidget(ComboBox2, 0, 0);
    // The scale list and the typed size take turns below the list.
    sizeLayout->addWidget(Panel6, 1, 0, Qt::AlignTop);
    sizeLayout->addWidget(Panel7, 1, 0, Qt::AlignTop);
    sizeLayout->setRowStretch(1, 1);

    // "Frames select": all, a frame range or a time range.
    GroupBox4 = named(new QGroupBox("Frames select", this), "GroupBox4");
    GroupBox4->setEnabled(false);
    RadioButton3 = named(new QRadioButton("All frames", GroupBox4), "RadioButton3");
    RadioButton3->setChecked(true);
    RadioButton4 = named(new QRadioButton("Frames range", GroupBox4), "RadioButton4");
    RadioButton5 = named(new QRadioButton("Time range", GroupBox4), "RadioButton5");
    Panel8 = rangePanel(GroupBox4, "Panel8", "SpinEdit2", "SpinEdit3", "frame", SpinEdit2, SpinEdit3);
    Panel9 = rangePanel(GroupBox4, "Panel9", "SpinEdit4", "SpinEdit5", "s", SpinEdit4, SpinEdit5);
    for (SpinEdit* s : {SpinEdit2, SpinEdit3, SpinEdit4, SpinEdit5})
        s->setRange(0, 0);
    SpinEdit2->setAccessibleName("First frame");
    SpinEdit3->setAccessibleName("Last frame");
    SpinEdit4->setAccessibleName("From second");
    SpinEdit5->setAccessibleName("To second");
    auto* framesLayout = compact(new QGridLayout(GroupBox4));
    framesLayout->addWidget(RadioButton3, 0, 0);
    framesLayout->addWidget(RadioButton4, 0, 1);
    framesLayout->addWidget(RadioButton5, 1, 0);
    // The time-range panel shares the frame-range panel's place.
    framesLayout->addWidget(Panel8, 2, 0, 1, 2);
    framesLayout->addWidget(Panel9, 2, 0, 1, 2);
    framesLayout->setRowStretch(3, 1);

    RadioGroup1 = named(new QGroupBox("Direction", this), "RadioGroup1");
    RadioGroup1->setEnabled(false);
    RadioGroup1Forward = named(new QRadioButton("forward", RadioGroup1), "RadioGroup1Forward");
    RadioGroup1Forward->setChecked(true);
    RadioGroup1Backward = named(new QRadioButton("backward", RadioGroup1), "RadioGroup1Backward");
    auto* directionLayout = compact(new QHBoxLayout(RadioGroup1));
    directionLayout->addWidget(RadioGroup1Forward);
    directionLayout->addWidget(RadioGroup1Backward);

    GroupBox9 = named(new QGroupBox("Frame sampling rate", this), "GroupBox9");
    GroupBox9->setEnabled(false);
    SpinEdit1 = named(new SpinEdit(GroupBox9), "SpinEdit1");
    SpinEdit1->setRange(1, 10);
    SpinEdit1->setValue(1);
    fitEditTo(SpinEdit1, "000");
    auto* stepLayout = compact(new QHBoxLayout(GroupBox9));
    stepLayout->addWidget(SpinEdit1);
    stepLayout->addStretch(1);

    GroupBox10 = named(new QGroupBox("GIF: frames interval", this), "GroupBox10");
    GroupBox10->setEnabled(false);
    Edit5 = named(new QLineEdit("100", GroupBox10), "Edit5");
    Edit5->setToolTip("GIF delay (10...5000ms)");
    fitEditTo(Edit5, FiveDigits);
    auto* delayLayout = compact(new QHBoxLayout(GroupBox10));
    delayLayout->addWidget(Edit5);
    delayLayout->addWidget(new QLabel("ms", GroupBox10));
    delayLayout->addStretch(1);

    m_outputGroup = named(new QGroupBox("GIF: output", this), "outputGroup");
    m_outputGroup->setEnabled(false);
    m_quality = named(new QComboBox(m_outputGroup), "qualityCombo");
    m_quality->addItems({"Classic", "High"});
    m_quality->setToolTip("Classic: the octree palette with the system colours. High: a refined palette "
                          "per frame, closer colours.");
    m_level = named(new QSpinBox(m_outputGroup), "qualityLevelSpin");
    m_level->setRange(1, 100);
    m_level->setValue(100);
    m_level->setEnabled(false);
    m_level->setToolTip("The level of the high quality, 1..100: lower levels give smaller files. With "
                        "Fit under, the highest level the fit may choose.");
    connect(m_quality, &QComboBox::currentIndexChanged, m_level,
            [this](int index) { m_level->setEnabled(index == 1); });
    m_optimise = named(new QCheckBox("Optimise", m_outputGroup), "optimiseCheck");
    m_optimise->setToolTip(
        "Store each frame as the part that changed; the GIF looks the same and is smaller.");
    m_fitUnder = named(new QLineEdit(m_outputGroup), "fitUnderEdit");
    m_fitUnder->setToolTip("The largest GIF size whose file fits under this many MB; empty for no limit");
    fitEditTo(m_fitUnder, FiveDigits);
    auto* outputLayout = compact(new QHBoxLayout(m_outputGroup));
    auto* qualityLabel = new QLabel("Quality", m_outputGroup);
    qualityLabel->setBuddy(m_quality);
    outputLayout->addWidget(qualityLabel);
    outputLayout->addWidget(m_quality);
    auto* levelLabel = new QLabel("Level", m_outputGroup);
    levelLabel->setBuddy(m_level);
    outputLayout->addWidget(levelLabel);
    outputLayout->addWidget(m_level);
    outputLayout->addWidget(m_optimise);
    auto* fitLabel = new QLabel("Fit under", m_outputGroup);
    fitLabel->setBuddy(m_fitUnder);
    outputLayout->addWidget(fitLabel);
    outputLayout->addWidget(m_fitUnder);
    outputLayout->addWidget(new QLabel("MB", m_outputGroup));
    outputLayout->addStretch(1);

    Button5 = named(new QPushButton("&Convert", this), "Button5");
    Button7 = named(new QPushButton("&Abort", this), "Button7");
    Button7->setToolTip("Abort (Esc)");
    Button4 = named(new QPushButton("C&lear GIF", this), "Button4");
    Button6 = named(new QPushButton("&Save", this), "Button6");
    Button6->setToolTip("Save the GIF (Ctrl+S)");
    for (QPushButton* b : {Button5, Button7, Button4, Button6})
        b->setEnabled(false);

    // The status bar: panel 0 "GIF", panel 1 the result.
    StatusBar2 = named(new QWidget(this), "StatusBar2");
    StatusBar2Panel0 = named(new QLabel("GIF", StatusBar2), "StatusBar2Panel0");
    StatusBar2Panel0->setAlignment(Qt::AlignCenter);
    StatusBar2Panel0->setMinimumWidth(50);
    StatusBar2Panel1 = named(new QLabel(StatusBar2), "StatusBar2Panel1");
    StatusBar2Panel1->setMinimumWidth(100);
    StatusBar2Panel1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    // The exact size of the file "Save" writes.
    StatusBar2Panel2 = named(new QLabel(StatusBar2), "StatusBar2Panel2");
    StatusBar2Panel2->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* statusLayout = new QHBoxLayout(StatusBar2);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(0);
    for (QLabel* panel : {StatusBar2Panel0, StatusBar2Panel1, StatusBar2Panel2}) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        panel->setMargin(2);
        statusLayout->addWidget(panel);
    }
    StatusBar2Panel2->hide();

    auto* options = new QHBoxLayout;
    options->addWidget(RadioGroup1);
    options->addWidget(GroupBox9);
    options->addWidget(GroupBox10);
    options->addStretch(1);
    auto* output = new QHBoxLayout;
    output->addWidget(m_outputGroup);
    output->addStretch(1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {Button5, Button7, Button4, Button6})
        buttons->addWidget(b);
    buttons->addStretch(1);

    auto* layout = compact(new QGridLayout(this));
    layout->addWidget(GroupBox2, 0, 0);
    layout->addWidget(GroupBox8, 0, 1);
    layout->addWidget(GroupBox4, 0, 2);
    layout->addLayout(options, 1, 0, 1, 3);
    layout->addLayout(output, 2, 0, 1, 3);
    layout->addLayout(buttons, 3, 0, 1, 3);
    layout->addWidget(StatusBar2, 4, 0, 1, 3);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(0, 1);

    PreviewTimer = named(new QTimer(this), "PreviewTimer");
}

void AviToGifTab::connectHandlers() {
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, guarded(this, &AviToGifTab::ComboBox2Change));
    // Values the program sets keep driving each other; a typed size sets the other side once.
    connect(SpinEdit8, &SpinEdit::valueChanged, this, guarded(this, &AviToGifTab::SpinEdit8Change));
    connect(SpinEdit9, &SpinEdit::valueChanged, this, guarded(this, &AviToGifTab::SpinEdit9Change));
    keepTypedSizesInProportion(m_host, SpinEdit8, SpinEdit9, CheckBox2);
    connect(RadioButton3, &QRadioButton::clicked, this, guarded(this, &AviToGifTab::RadioButton3Click));
    connect(RadioButton4, &QRadioButton::clicked, this, guarded(this, &AviToGifTab::RadioButton4Click));
    connect(RadioButton5, &QRadioButton::clicked, this, guarded(this, &AviToGifTab::RadioButton5Click));
    connect(SpinEdit1, &SpinEdit::textChanged, this, guarded(this, &AviToGifTab::SpinEdit1Change));
    connect(Edit5, &QLineEdit::textChanged, this, guarded(this, &AviToGifTab::Edit5Change));
    connect(Button5, &QPushButton::clicked, this, guarded(this, &AviToGifTab::Button5Click));
    connect(Button7, &QPushButton::clicked, this, guarded(this, &AviToGifTab::Button7Click));
    connect(Button4, &QPushButton::clicked, this, guarded(this, &AviToGifTab::Button4Click));
    connect(Button6, &QPushButton::clicked, this, guarded(this, &AviToGifTab::Button6Click));
    connect(RadioButton1, &QRadioButton::clicked, this, guarded(this, &AviToGifTab::RadioButton1Click));
    connect(RadioButton2, &QRadioButton::clicked, this, guarded(this, &AviToGifTab::RadioButton2Click));
    connect(Button8, &QPushButton::clicked, this, guarded(this, &AviToGifTab::Button8Click));
    TImageView* view = m_host.pickingView();
    connect(view, &TImageView::mouseMoved, this, guarded(this, &AviToGifTab::GIFviewMouseMove));
    connect(view, &TImageView::mouseReleased, this, guarded(this, &AviToGifTab::GIFviewMouseUp));
    connect(PreviewTimer, &QTimer::timeout, this, guarded(this, &AviToGifTab::PreviewTimerTimer));
    if (m_preview)
        m_preview->FormClose = [this] { Button4Click(); };
}

void AviToGifTab::videoOpened() {
    SharedState& state = m_host.state();
    const int w = state.videoRect.width(), h = state.videoRect.height();
    Label1->setEnabled(true);
    Label2->setEnabled(true);
    Label1->setText(QString::number(w));
    Label2->setText(QString::number(h));
    SpinEdit3->setValue(state.frameCount);
    SpinEdit5->setValue(state.videoLengthSeconds);
    for (QWidget* c : std::initializer_list<QWidget*>{GroupBox2, GroupBox4, GroupBox8, GroupBox9, GroupBox10,
                                                      RadioGroup1, m_outputGroup})
        c->setEnabled(true);
    state.samplingStep = 1;
    state.gifBaseWidth = w;
    state.gifBaseHeight = h;
    state.cropRect = {state.videoRect.left(), state.videoRect.top(), w, h};
    ComboBox2->setEnabled(true);
    if (ComboBox2->currentIndex() != 0)
        ComboBox2->setCurrentIndex(0); // runs its change handler
    else
        ComboBox2Change();
    Button5->setEnabled(true);
}

// ---- size, frames and delay options ----

void AviToGifTab::ComboBox2Change() {
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
        SpinEdit8->setValue(m_host.state().gifBaseWidth);
        SpinEdit9->setValue(m_host.state().gifBaseHeight);
        break;
    }
}

void AviToGifTab::SpinEdit8Change() {
    const QRect& video = m_host.state().videoRect;
    if (CheckBox2->isChecked())
        SpinEdit9->setValue(aspectSide(SpinEdit8->value(), video.width(), video.height()));
}

void AviToGifTab::SpinEdit9Change() {
    const QRect& video = m_host.state().videoRect;
    if (CheckBox2->isChecked())
        SpinEdit8->setValue(aspectSide(SpinEdit9->value(), video.height(), video.width()));
}

void AviToGifTab::resetRangeEdits() {
    const SharedState& state = m_host.state();
    const int n = state.frameCount, seconds = state.videoLengthSeconds;
    SpinEdit2->setValue(1);
    SpinEdit2->setRange(1, n);
    SpinEdit3->setValue(n);
    SpinEdit3->setRange(1, n);
    SpinEdit4->setValue(0);
    SpinEdit4->setRange(0, seconds);
    SpinEdit5->setValue(seconds);
    SpinEdit5->setRange(0, seconds);
}

void AviToGifTab::RadioButton3Click() {
    resetRangeEdits();
    Panel8->hide();
    Panel9->hide();
    m_host.state().firstFrame = 1;
    m_host.state().lastFrame = m_host.state().frameCount;
}

void AviToGifTab::RadioButton4Click() {
    resetRangeEdits();
    Panel8->show();
    Panel9->hide();
}

void AviToGifTab::RadioButton5Click() {
    resetRangeEdits();
    Panel8->hide();
    Panel9->show();
}

void AviToGifTab::SpinEdit1Change() {
    m_host.state().samplingStep = SpinEdit1->value();
}

void AviToGifTab::Edit5Change() {
    m_host.state().gifDelay = gifDelayFromText(Edit5->text().toStdString());
}

// ---- Convert, Abort, Clear GIF, Save ----

void AviToGifTab::backToIdle() {
    Button5->setEnabled(true);
    m_host.setOpenAviEnabled(true);
    Button7->setEnabled(false);
    Button4->setEnabled(false);
    Button6->setEnabled(false);
    m_host.setPlayerButtons(true, false, false);
}

void AviToGifTab::Button5Click() {
    SharedState& state = m_host.state();
    // A size limit is checked before anything changes: a typo should not start a run.
    std::optional<uint64_t> fitLimit;
    if (const QString typed = m_fitUnder->text().trimmed(); !typed.isEmpty()) {
        bool ok = false;
        const double megabytes = typed.toDouble(&ok);
        if (!ok || !(megabytes * 1e6 >= 1) || megabytes > 1e6) {
            m_host.dialogs().showWarning("Warning", "Type the size to fit under in MB, such as 10 or 2.5, or "
                                                    "leave it empty.");
            return;
        }
        fitLimit = static_cast<uint64_t>(megabytes * 1e6);
    }
    TImageView* view = m_host.pickingView();
    if (view->hasSelection()) {
        m_host.showPickingView(false);
        view->removeSelection();
    }
    m_host.pauseOperation();
    m_host.clearFrameLists();
    state.abortConversion = false;
    Button7->setEnabled(true);
    Button7->setFocus();
    Button5->setEnabled(false);
    m_host.setOpenAviEnabled(false);
    m_host.setPlayerButtons(false, false, false);

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
    options.build.quality = m_quality->currentIndex() == 1 ? GifQuality::High : GifQuality::Classic;
    options.build.level = m_level->value();
    options.build.optimize = m_optimise->isChecked();

    AviToGifResult result;
    state.builtGifFile.clear();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        const JobScope job(m_host, this, Button7);
        WindowJobObserver observer(m_host.progressBar(), state.abortConversion, state.windowClosing);
        state.builtFrameCount = 0;
        GifJobRequest request;
        request.options = options;
        request.policy = GifSinkPolicy::InMemory;
        request.table = &m_frames;
        request.built = &m_host.builtGif();
        if (fitLimit) {
            GifSizeFitOptions fit;
            fit.limit = *fitLimit;
            request.fit = fit;
        }
        const GifJobResult run = runGifJob(request, observer);
        result = run.job;
        if (run.sink == GifSink::SizeFitted && result.outcome == AviToGifOutcome::Built && !run.fitted.fits) {
            // The document holds a GIF over the limit: it is not this run's result.
            result.outcome = AviToGifOutcome::NoFrames;
            result.message = run.fitted.message.empty() ? AviToGifMessages::NothingBuilt : run.fitted.message;
        }
        state.builtFrameCount = result.outcome == AviToGifOutcome::Built ? result.frames : 0;
        if (result.outcome == AviToGifOutcome::Built && !m_host.closePending())
            encodeBuiltGif(m_host, suggestedGifName(options));
    } catch (...) {
        // A failed run leaves the tab as it was before it: Convert, Open AVI and the player
        // usable, Abort off, the normal cursor.
        QApplication::restoreOverrideCursor();
        m_host.progressBar()->setValue(m_host.progressBar()->minimum());
        Button5->setEnabled(true);
        m_host.setOpenAviEnabled(true);
        Button7->setEnabled(false);
        m_host.setPlayerButtons(true, false, false);
        m_host.showFileName();
        throw;
    }
    QApplication::restoreOverrideCursor();
    if (m_host.closePending()) {
        // The window closes now: nothing more is shown.
        backToIdle();
        return;
    }
    if (result.outcome != AviToGifOutcome::Built) {
        // A refused range, or a run that read no frame, built nothing: the built GIF is still
        // that of an earlier run, which "Save" must not offer as this one's. The tab is ready
        // for another "Convert" at once.
        if (result.outcome == AviToGifOutcome::NoFrames && result.run.asked > 0)
            m_host.showJobStatus(jobEndText(result.run, 0, result.aborted));
        m_host.dialogs().showWarning("Warning", QString::fromStdString(result.message));
        backToIdle();
        return;
    }
    m_host.showJobStatus(jobEndText(result.run, result.frames, result.aborted));
    StatusBar2Panel1->setText(QString::fromStdString(result.statusText));
    StatusBar2Panel2->setText(fileSizeText(state.builtGifFile.size()));
    StatusBar2Panel2->show();
    if (m_preview)
        m_preview->startPreview(result.gifWidth, result.gifHeight, result.frames, m_host.mainWindow(),
                                m_host.controlsOnScreen());
    PreviewTimer->setInterval(state.gifDelay);
    PreviewTimer->start();
    Button4->setEnabled(true);
    Button6->setEnabled(true);
    Button7->setEnabled(false);
    m_host.setPlayerButtons(true, false, false);
}

void AviToGifTab::Button7Click() {
    m_host.state().abortConversion = true;
    Button7->setEnabled(false);
}

void AviToGifTab::Button4Click() {
    m_frames.clear();
    m_host.setOpenAviEnabled(true);
    Button5->setEnabled(true);
    Button4->setEnabled(false);
    Button6->setEnabled(false);
    StatusBar2Panel1->setText(" ");
    StatusBar2Panel2->clear();
    StatusBar2Panel2->hide();
    // "Save" is off until the next run, which encodes its own GIF: the bytes kept are let go.
    std::vector<uint8_t>().swap(m_host.state().builtGifFile);
    PreviewTimer->stop();
    if (m_preview)
        m_preview->stopPreview();
}

void AviToGifTab::Button6Click() {
    saveBuiltGif(m_host);
}

// ---- window picking ----

void AviToGifTab::RadioButton2Click() {
    Button8->setEnabled(true);
}

void AviToGifTab::RadioButton1Click() {
    SharedState& state = m_host.state();
    Button8->setEnabled(false);
    TImageView* view = m_host.pickingView();
    if (view->hasSelection())
        view->removeSelection();
    const int w = state.videoRect.width(), h = state.videoRect.height();
    Label1->setText(QString::number(w));
    Label2->setText(QString::number(h));
    state.gifBaseWidth = w;
    state.gifBaseHeight = h;
    state.cropRect = {state.videoRect.left(), state.videoRect.top(), w, h};
}

void AviToGifTab::Button8Click() {
    const SharedState& state = m_host.state();
    m_host.seekPlayer(0);
    TImageView* view = m_host.pickingView();
    view->setSelectionEnabled(true);
    const int w = state.videoRect.width(), h = state.videoRect.height();
    view->picture().SetWidth(w);
    view->picture().SetHeight(h);
    m_host.showPickingView(true);
    FrameReader reader;
    try {
        reader.open(state.videoPath);
    } catch (...) {
        // Back to the video panel, as before the attempt.
        m_host.showPickingView(false);
        throw;
    }
    // The second frame of the stream; a single-frame video shows its only frame.
    Bitmap* frame = reader.frame(1);
    if (!frame)
        frame = reader.frame(0);
    if (frame)
        view->picture().Canvas().Draw(0, 0, *frame);
    view->repaint();
}

void AviToGifTab::GIFviewMouseMove(int, int) {
    TImageView* view = m_host.pickingView();
    if (!view->hasSelection())
        return;
    Label1->setText(QString::number(view->X2() - view->X1()));
    Label2->setText(QString::number(view->Y2() - view->Y1()));
}

void AviToGifTab::GIFviewMouseUp(int, int) {
    TImageView* view = m_host.pickingView();
    if (!view->hasSelection())
        return;
    // The view's corners are inclusive; they are used as an exclusive rectangle.
    SharedState& state = m_host.state();
    state.gifBaseWidth = view->X2() - view->X1();
    state.gifBaseHeight = view->Y2() - view->Y1();
    state.cropRect = {view->X1(), view->Y1(), view->X2(), view->Y2()};
}

// The direction, the sampling step and the frame interval, as the user left them. The GIF size
// list is not among them: opening a video sets it to " As AVI window size".
void AviToGifTab::saveSettings(QSettings& settings) const {
    settings.setValue("gif/direction", RadioGroup1Backward->isChecked() ? "backward" : "forward");
    settings.setValue("gif/sampling", SpinEdit1->value());
    settings.setValue("gif/interval", Edit5->text());
}

void AviToGifTab::restoreSettings(const QSettings& settings) {
    const QString direction = settings.value("gif/direction").toString();
    if (direction == "backward")
        RadioGroup1Backward->setChecked(true);
    else if (direction == "forward")
        RadioGroup1Forward->setChecked(true);
    bool ok = false;
    const int step = settings.value("gif/sampling").toInt(&ok);
    if (ok && step >= SpinEdit1->minValue() && step <= SpinEdit1->maxValue())
        SpinEdit1->setValue(step);
    // Only an interval the box takes as it is (10...5000 ms); its change handler sets the delay.
    const int interval = settings.value("gif/interval").toInt(&ok);
    if (ok && interval >= 10 && interval <= 5000)
        Edit5->setText(QString::number(interval));
}

void AviToGifTab::PreviewTimerTimer() {
    if (m_preview)
        m_preview->tick(m_frames);
}

} // namespace kelvara::ui
