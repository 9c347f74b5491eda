// The "Transition effects" tab: the two sides, the settings, "Convert" and its preview.
#include "convert/qt/TransitionTab.h"

#include "convert/TransitionGif.h"
#include "convert/TransitionRenderer.h"
#include "convert/qt/TabHost.h"
#include "preview/qt/GifPreviewForm.h"
#include "preview/qt/ImageView.h"
#include "widgets/FormHelpers.h"
#include "widgets/SlotGuard.h"

#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace kelvara::ui {

namespace {

// The thumbnails' picture boxes.
constexpr QSize ThumbnailSize(192, 136);

QToolButton* flatButton(QWidget* parent, const char* name, const QString& hint, QStyle::StandardPixmap icon) {
    QToolButton* button = toolButton(parent, name, hint, icon);
    button->setAutoRaise(true);
    return button;
}

} // namespace

TransitionTab::TransitionTab(TabHost& host, FrameTable& frames, TGIFform2* preview, QWidget* parent)
    : QWidget(parent), m_host(host), m_frames(frames), m_preview(preview) {
    setObjectName("TransitionTab");
    build();
    connectHandlers();
}

QWidget* TransitionTab::buildSide(const QString& title, const SideNames& names, SideControls& side) {
    auto* box = new QWidget(this);
    side.caption = named(new QLabel(title, box), names.caption);
    QFont bold = side.caption->font();
    bold.setBold(true);
    side.caption->setFont(bold);
    side.sizeLabel = named(new QLabel("Size:", box), names.sizeLabel);
    side.sizeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // The size label comes and goes without moving the thumbnail.
    QSizePolicy keep = side.sizeLabel->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    side.sizeLabel->setSizePolicy(keep);
    side.sizeLabel->hide();

    side.bevel = named(new QFrame(box), names.bevel);
    side.bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    // A picture file dropped on the thumbnail opens on this side, as its open button would.
    side.bevel->setAcceptDrops(true);
    side.bevel->installEventFilter(this);
    side.image = named(new QLabel(side.bevel), names.image);
    side.image->setFixedSize(ThumbnailSize);
    side.image->setAlignment(Qt::AlignCenter);
    auto* bevelLayout = new QVBoxLayout(side.bevel);
    bevelLayout->setContentsMargins(1, 1, 1, 1);
    bevelLayout->addWidget(side.image);

    side.open = flatButton(box, names.open, "Open image", QStyle::SP_DialogOpenButton);
    side.open->setAccessibleName(title + ": Open image");
    side.empty = flatButton(box, names.empty, "Empty image", QStyle::SP_FileIcon);
    side.empty->setAccessibleName(title + ": Empty image");
    side.empty->setCheckable(true);
    side.empty->setChecked(true);
    side.fromVideo = flatButton(box, names.fromVideo, "Open image from a AVI", QStyle::SP_MediaPlay);
    side.fromVideo->setEnabled(false);
    side.fromVideo->setAccessibleName(title + ": Open image from a AVI");
    side.panel = named(new ColorSwatch(box), names.panel);
    side.panel->setToolTip("Background color - Double Click to Edit");
    side.panel->setAccessibleName(title + ": Background color");
    side.panel->setColor(ColorWhite);
    const int tool = side.open->sizeHint().width();
    side.panel->setFixedSize(tool - 4, tool - 4);
    side.holder = named(new TImageView(box), names.holder);
    side.holder->hide();

    auto* tools = new QVBoxLayout;
    tools->setSpacing(2);
    tools->setSizeConstraint(QLayout::SetMinimumSize);
    for (QWidget* tool : std::initializer_list<QWidget*>{side.open, side.empty, side.fromVideo})
        tools->addWidget(tool);
    tools->addWidget(side.panel, 0, Qt::AlignHCenter);
    tools->addStretch(1);
    auto* layout = new QGridLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(2);
    layout->addWidget(side.caption, 0, 0);
    layout->addItem(new QSpacerItem(8, 0, QSizePolicy::Minimum), 0, 1);
    layout->addWidget(side.sizeLabel, 0, 2);
    layout->addWidget(side.bevel, 1, 0, 1, 3);
    layout->addLayout(tools, 1, 3);
    return box;
}

void TransitionTab::build() {
    QWidget* source = buildSide("Source image",
                                {"Label26", "Label33", "Bevel3", "Image10", "SpeedButton1", "SpeedButton2",
                                 "SpeedButton8", "Panel3", "ImageView2"},
                                m_source);
    QWidget* target = buildSide("Target image",
                                {"Label28", "Label34", "Bevel4", "Image13", "SpeedButton3", "SpeedButton4",
                                 "SpeedButton9", "Panel4", "ImageView3"},
                                m_target);

    ComboBox4 = named(new QComboBox(this), "ComboBox4");
    for (const char* name : TransitionEffectNames)
        ComboBox4->addItem(name);
    Label29 = named(new QLabel("Effect", this), "Label29");
    Label29->setBuddy(ComboBox4);
    Edit4 = named(new QLineEdit(this), "Edit4");
    fitEditTo(Edit4, "000");
    UpDown3 = named(new UpDown(this), "UpDown3");
    UpDown3->setMinimum(1);
    UpDown3->setMaximum(MaxTransitionSteps);
    UpDown3->setBuddy(Edit4);
    UpDown3->setPosition(10);
    Label25 = named(new QLabel("Step", this), "Label25");
    Label25->setBuddy(Edit4);
    Edit7 = named(new QLineEdit("1000", this), "Edit7");
    fitEditTo(Edit7, "00000");
    Label30 = named(new QLabel("Duration (10...5000ms)", this), "Label30");
    Label30->setBuddy(Edit7);

    GroupBox11 = named(new QGroupBox("GIF: window size", this), "GroupBox11");
    SpinEdit12 = named(new SpinEdit(GroupBox11), "SpinEdit12");
    SpinEdit12->setToolTip("Width");
    SpinEdit12->setAccessibleName("GIF width");
    SpinEdit13 = named(new SpinEdit(GroupBox11), "SpinEdit13");
    SpinEdit13->setToolTip("Height");
    SpinEdit13->setAccessibleName("GIF height");
    for (SpinEdit* s : {SpinEdit12, SpinEdit13}) {
        s->setRange(0, 10000);
        fitEditTo(s, "00000");
    }
    auto* sizeLayout = compact(new QGridLayout(GroupBox11));
    sizeLayout->addWidget(sizeIcon(GroupBox11, "W", "Width"), 0, 0);
    sizeLayout->addWidget(SpinEdit12, 0, 1);
    sizeLayout->addWidget(sizeIcon(GroupBox11, "H", "Height"), 1, 0);
    sizeLayout->addWidget(SpinEdit13, 1, 1);
    sizeLayout->setColumnStretch(2, 1);

    Button21 = named(new QPushButton("&Convert", this), "Button21");
    Button22 = named(new QPushButton("&Abort", this), "Button22");
    Button23 = named(new QPushButton("C&lear GIF", this), "Button23");
    Button24 = named(new QPushButton("&Save", this), "Button24");
    Button24->setToolTip("Save the GIF (Ctrl+S)");
    Button22->setToolTip("Abort (Esc)");
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {Button21, Button22, Button23, Button24}) {
        b->setEnabled(b == Button21);
        buttons->addWidget(b);
    }
    buttons->addWidget(GroupBox11);
    buttons->addStretch(1);

    auto* settings = new QHBoxLayout;
    settings->addWidget(Label29);
    settings->addWidget(ComboBox4);
    settings->addSpacing(6);
    settings->addWidget(Label25);
    auto* steps = new QHBoxLayout;
    steps->setSpacing(0);
    steps->addWidget(Edit4);
    steps->addWidget(UpDown3);
    settings->addLayout(steps);
    settings->addSpacing(6);
    settings->addWidget(Label30);
    settings->addWidget(Edit7);
    settings->addStretch(1);

    // The size of the built GIF, shown once a run has built one.
    m_status = named(new QLabel(this), "TransitionStatus");
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_status->setMargin(2);
    m_status->hide();

    auto* layout = compact(new QGridLayout(this));
    layout->addWidget(source, 0, 0, Qt::AlignTop);
    layout->addWidget(target, 0, 1, Qt::AlignTop);
    layout->addLayout(buttons, 0, 2, 3, 1);
    layout->addLayout(settings, 1, 0, 1, 2);
    layout->addWidget(m_status, 2, 0, 1, 2, Qt::AlignTop);
    layout->setColumnStretch(3, 1);
    layout->setRowStretch(2, 1);

    TransitTimer = named(new QTimer(this), "TransitTimer");
}

void TransitionTab::connectHandlers() {
    connect(m_source.open, &QToolButton::clicked, this, guarded(this, &TransitionTab::SpeedButton1Click));
    connect(m_target.open, &QToolButton::clicked, this, guarded(this, &TransitionTab::SpeedButton3Click));
    connect(m_source.empty, &QToolButton::clicked, this, guarded(this, &TransitionTab::SpeedButton2Click));
    connect(m_target.empty, &QToolButton::clicked, this, guarded(this, &TransitionTab::SpeedButton4Click));
    connect(m_source.fromVideo, &QToolButton::clicked, this,
            guarded(this, &TransitionTab::SpeedButton8Click));
    connect(m_target.fromVideo, &QToolButton::clicked, this,
            guarded(this, &TransitionTab::SpeedButton9Click));
    connect(m_source.panel, &ColorSwatch::doubleClicked, this, guarded(this, &TransitionTab::Panel3DblClick));
    connect(m_target.panel, &ColorSwatch::doubleClicked, this, guarded(this, &TransitionTab::Panel4DblClick));
    connect(Edit7, &QLineEdit::textChanged, this, guarded(this, &TransitionTab::Edit7Change));
    connect(Button21, &QPushButton::clicked, this, guarded(this, &TransitionTab::Button21Click));
    connect(Button22, &QPushButton::clicked, this, guarded(this, &TransitionTab::Button22Click));
    connect(Button23, &QPushButton::clicked, this, guarded(this, &TransitionTab::Button23Click));
    // The "Save" both GIF tabs share.
    connect(Button24, &QPushButton::clicked, this, guarded([this] { saveBuiltGif(m_host); }));
    connect(TransitTimer, &QTimer::timeout, this, guarded(this, &TransitionTab::TransitTimerTimer));
    if (m_preview)
        m_preview->FormClose = [this] { Button23Click(); };
}

void TransitionTab::formCreate() {
    m_model.durationMs = 1000;
    m_source.holder->picture().SetPixelFormat(PixelFormat::Bits24);
    m_target.holder->picture().SetPixelFormat(PixelFormat::Bits24);
    m_model.sourceSide.holder.SetPixelFormat(PixelFormat::Bits24);
    m_model.targetSide.holder.SetPixelFormat(PixelFormat::Bits24);
    ComboBox4->setCurrentIndex(0);
    m_model.gifWidth = 10;
    m_model.gifHeight = 10;
    TransitionSurfaces& work = m_model.surfaces;
    for (Bitmap* b : {&work.source, &work.target, &work.background, &work.output})
        b->SetPixelFormat(PixelFormat::Bits24);
    SpinEdit13->setValue(10);
    SpinEdit12->setValue(10);
}

void TransitionTab::formDestroy() {
    TransitionSurfaces& work = m_model.surfaces;
    for (Bitmap* b : {&work.source, &work.target, &work.background, &work.output})
        b->SetSize(0, 0);
    m_source.image->clear();
    m_target.image->clear();
    m_source.holder->picture().SetSize(0, 0);
    m_target.holder->picture().SetSize(0, 0);
}

void TransitionTab::setVideoOpen(bool open) {
    m_source.fromVideo->setEnabled(open);
    m_target.fromVideo->setEnabled(open);
}

// Shows a side as the model holds it: the thumbnail scaled to fit and centred, the size label,
// the toggle, the panel's colour.
void TransitionTab::showSide(TransitionSideKind kind) {
    TransitionSide& side = m_model.side(kind);
    SideControls& c = controls(kind);
    c.holder->picture().Assign(side.holder);
    QImage picture = toQImage(side.picture);
    c.image->setPixmap(picture.isNull()
                           ? QPixmap()
                           : QPixmap::fromImage(picture.scaled(c.image->size(), Qt::KeepAspectRatio,
                                                               Qt::SmoothTransformation)));
    c.sizeLabel->setText(QString::fromStdString(side.sizeLabel));
    c.sizeLabel->setVisible(side.sizeLabelVisible);
    c.empty->setChecked(side.emptyToggleDown);
    c.panel->setColor(side.background);
    SpinEdit12->setValue(m_model.gifWidth);
    SpinEdit13->setValue(m_model.gifHeight);
}

void TransitionTab::openPicture(TransitionSideKind kind) {
    Dialogs& dialogs = m_host.dialogs();
    QString path = dialogs.chooseOpenPicture ? dialogs.chooseOpenPicture() : QString();
    if (path.isEmpty())
        return;
    openPictureFile(kind, path);
}

void TransitionTab::openPictureFile(TransitionSideKind kind, const QString& path) {
    const bool read = openTransitionPicture(m_model, kind, path.toStdString());
    showSide(kind);
    if (!read) {
        m_host.dialogs().showWarning(
            "Warning",
            "\"" + path + "\" is not a picture type that can be read; the side keeps its picture.");
        return;
    }
    m_host.rememberFolder(FolderKind::Pictures, path);
}

bool TransitionTab::eventFilter(QObject* watched, QEvent* event) {
    for (TransitionSideKind kind : {TransitionSideKind::Source, TransitionSideKind::Target}) {
        SideControls& side = controls(kind);
        if (watched != side.bevel)
            continue;
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            // The same rule as the open button: a picture is taken only while it can be pressed.
            if (side.open->isEnabled() && !droppedLocalFile(drag->mimeData()).isEmpty())
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString path = droppedLocalFile(drop->mimeData());
            if (!side.open->isEnabled() || path.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            runGuarded([&] { openPictureFile(kind, path); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TransitionTab::SpeedButton1Click() {
    openPicture(TransitionSideKind::Source);
}
void TransitionTab::SpeedButton3Click() {
    openPicture(TransitionSideKind::Target);
}

void TransitionTab::emptyPicture(TransitionSideKind kind) {
    setTransitionEmptyPicture(m_model, kind, controls(kind).empty->isChecked());
    showSide(kind);
}

void TransitionTab::SpeedButton2Click() {
    emptyPicture(TransitionSideKind::Source);
}
void TransitionTab::SpeedButton4Click() {
    emptyPicture(TransitionSideKind::Target);
}

void TransitionTab::openVideoFrame(TransitionSideKind kind) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    struct RestoreCursor {
        ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    m_host.pauseHandler();
    int64_t n = 1;
    QString typed;
    if (m_host.askFrameNumber(typed))
        n = transitionFrameNumber(typed.toStdString(), m_host.state().frameCount);
    openTransitionVideoFrame(m_model, kind, m_host.state().videoPath, n);
    showSide(kind);
}

void TransitionTab::SpeedButton8Click() {
    openVideoFrame(TransitionSideKind::Source);
}
void TransitionTab::SpeedButton9Click() {
    openVideoFrame(TransitionSideKind::Target);
}

void TransitionTab::chooseBackground(TransitionSideKind kind) {
    TransitionSide& side = m_model.side(kind);
    QColor color(redOf(side.background), greenOf(side.background), blueOf(side.background));
    Dialogs& dialogs = m_host.dialogs();
    if (!dialogs.chooseColor || !dialogs.chooseColor(color))
        return;
    side.background = rgbColor(color.red(), color.green(), color.blue());
    controls(kind).panel->setColor(side.background);
}

void TransitionTab::Panel3DblClick() {
    chooseBackground(TransitionSideKind::Source);
}
void TransitionTab::Panel4DblClick() {
    chooseBackground(TransitionSideKind::Target);
}

void TransitionTab::Edit7Change() {
    m_model.durationMs = transitionDurationFromText(Edit7->text().toStdString());
}

// Hands each rendered frame on to the window: the effect is read from the list for every frame.
void TransitionTab::Button21Click() {
    SharedState& state = m_host.state();
    m_model.spinWidth = SpinEdit12->value();
    m_model.spinHeight = SpinEdit13->value();
    m_model.steps = UpDown3->position();
    m_model.effect = ComboBox4->currentIndex();
    state.abortConversion = false;
    Button22->setEnabled(true);
    Button22->setFocus();
    Button21->setEnabled(false);
    m_host.setOpenAviEnabled(false);

    struct EffectFollowingObserver final : JobObserver {
        TransitionTab& tab;
        WindowJobObserver window;
        EffectFollowingObserver(TransitionTab& t, QProgressBar* bar, const bool& abort, const bool& closing)
            : tab(t), window(bar, abort, closing) {}
        void setProgressRange(int minimum, int maximum) override {
            window.setProgressRange(minimum, maximum);
        }
        void setProgressPosition(int position) override { window.setProgressPosition(position); }
        void pumpMessages() override {
            window.pumpMessages();
            tab.m_model.effect = tab.ComboBox4->currentIndex();
        }
        bool abortRequested() override { return window.abortRequested(); }
        bool closing() override { return window.closing(); }
    } observer(*this, m_host.progressBar(), state.abortConversion, state.windowClosing);

    TransitionRunResult result;
    state.builtGifFile.clear();
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        const JobScope job(m_host, this, Button22);
        state.builtFrameCount = 0;
        result = buildTransitionGif(m_model, m_frames, m_host.builtGif(), observer);
        if (!m_host.closePending())
            m_status->setText(encodeBuiltGif(m_host, "transition.gif"));
    } catch (...) {
        QApplication::restoreOverrideCursor();
        Button21->setEnabled(true);
        m_host.setOpenAviEnabled(true);
        Button22->setEnabled(false);
        throw;
    }
    QApplication::restoreOverrideCursor();
    state.builtFrameCount = result.frames;
    if (m_host.closePending())
        return;
    if (result.aborted) {
        FrameRun run;
        run.asked = m_model.steps + 1;
        run.read = result.frames;
        run.end = FrameRunEnd::Aborted;
        m_host.showJobStatus(jobEndText(run, result.frames));
    }
    m_status->show();
    m_host.sizeBuiltGifHolder(result.width, result.height);
    Button23->setEnabled(true);
    Button24->setEnabled(true);
    Button22->setEnabled(false);
    if (m_preview)
        m_preview->startPreview(result.width, result.height, result.frames, m_host.mainWindow(),
                                m_host.controlsOnScreen());
    TransitTimer->setInterval(result.delayHundredths * 10);
    TransitTimer->start();
}

void TransitionTab::Button22Click() {
    m_host.state().abortConversion = true;
    Button22->setEnabled(false);
}

void TransitionTab::Button23Click() {
    m_frames.clear();
    m_host.setOpenAviEnabled(true);
    Button23->setEnabled(false);
    Button21->setEnabled(true);
    Button24->setEnabled(false);
    m_status->clear();
    m_status->hide();
    // "Save" is off until the next run, which encodes its own GIF: the bytes kept are let go.
    std::vector<uint8_t>().swap(m_host.state().builtGifFile);
    TransitTimer->stop();
    if (m_preview)
        m_preview->stopPreview();
}

// The effect, the steps and the duration, as the user left them.
void TransitionTab::saveSettings(QSettings& settings) const {
    settings.setValue("transition/effect", ComboBox4->currentIndex());
    settings.setValue("transition/steps", UpDown3->position());
    settings.setValue("transition/duration", Edit7->text());
}

void TransitionTab::restoreSettings(const QSettings& settings) {
    bool ok = false;
    const int effect = settings.value("transition/effect").toInt(&ok);
    if (ok && effect >= 0 && effect < ComboBox4->count())
        ComboBox4->setCurrentIndex(effect);
    const int steps = settings.value("transition/steps").toInt(&ok);
    if (ok && steps >= 1 && steps <= MaxTransitionSteps)
        UpDown3->setPosition(steps);
    // Only a duration the box takes as it is (10...5000 ms); its change handler sets it.
    const int duration = settings.value("transition/duration").toInt(&ok);
    if (ok && duration >= 10 && duration <= 5000)
        Edit7->setText(QString::number(duration));
}

void TransitionTab::TransitTimerTimer() {
    if (m_preview)
        m_preview->tick(m_frames);
}

} // namespace kelvara::ui
