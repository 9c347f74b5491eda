// The "Transition effects" tab: the two sides, the settings, "Convert" and its preview.
#include "app/Forms.h"
#include "app/MainForm.h"
#include "convert/TransitionGif.h"
#include "convert/TransitionRenderer.h"
#include "preview/qt/GifPreviewForm.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFrame>
#include <QMouseEvent>

namespace kelvara {

namespace {

template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QToolButton* flatButton(QWidget* parent, const char* name, const QString& hint, QStyle::StandardPixmap icon) {
    auto* b = named(new QToolButton(parent), name);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setIcon(parent->style()->standardIcon(icon));
    return b;
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

void paintPanel(QLabel* panel, Color color) {
    panel->setStyleSheet(QString("QLabel { background: #%1; border: 1px solid gray; }")
                             .arg(color & 0xFFFFFF, 6, 16, QChar('0')));
}

// A colour panel that reports double clicks.
class ColorPanel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onDoubleClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent*) override {
        if (onDoubleClick)
            onDoubleClick();
    }
};

} // namespace

void TForm1::buildTransitionTab(QWidget* page) {
    auto sideBox = [&](int x, const char* title, const char* imageName, const char* labelName, QLabel*& image,
                       QLabel*& sizeLabel) {
        auto* caption = new QLabel(title, page);
        QFont bold = caption->font();
        bold.setBold(true);
        caption->setFont(bold);
        caption->move(x, 0);
        sizeLabel = named(new QLabel("Size:", page), labelName);
        sizeLabel->setGeometry(x + 95, 0, 100, 16);
        sizeLabel->hide();
        auto* bevel = new QFrame(page);
        bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        bevel->setGeometry(x - 1, 15, 194, 138);
        image = named(new QLabel(page), imageName);
        image->setGeometry(x, 16, 192, 136);
        image->setAlignment(Qt::AlignCenter);
    };
    sideBox(2, "Source image", "Image10", "Label33", Image10, Label33);
    sideBox(224, "Target image", "Image13", "Label34", Image13, Label34);
    // Per side: open image, empty image, open image from a AVI, and the background panel.
    auto sideTools = [&](int x, const char* open, const char* empty, const char* fromVideo, const char* panel,
                         QToolButton*& openButton, QToolButton*& emptyButton, QToolButton*& videoButton,
                         QLabel*& panelLabel) {
        openButton = flatButton(page, open, "Open image", QStyle::SP_DialogOpenButton);
        openButton->setGeometry(x + 194, 16, 24, 24);
        emptyButton = flatButton(page, empty, "Empty image", QStyle::SP_FileIcon);
        emptyButton->setCheckable(true);
        emptyButton->setChecked(true);
        emptyButton->setGeometry(x + 194, 42, 24, 24);
        videoButton = flatButton(page, fromVideo, "Open image from a AVI", QStyle::SP_MediaPlay);
        videoButton->setGeometry(x + 194, 68, 24, 24);
        videoButton->setEnabled(false);
        auto* colorPanel = new ColorPanel(page);
        panelLabel = named(static_cast<QLabel*>(colorPanel), panel);
        panelLabel->setToolTip("Background color - Double Click to Edit");
        panelLabel->setGeometry(x + 196, 96, 20, 20);
        paintPanel(panelLabel, ColorWhite);
    };
    sideTools(2, "SpeedButton1", "SpeedButton2", "SpeedButton8", "Panel3", SpeedButton1, SpeedButton2,
              SpeedButton8, Panel3);
    sideTools(224, "SpeedButton3", "SpeedButton4", "SpeedButton9", "Panel4", SpeedButton3, SpeedButton4,
              SpeedButton9, Panel4);
    ImageView2 = named(new TImageView(page), "ImageView2");
    ImageView3 = named(new TImageView(page), "ImageView3");
    ImageView2->hide();
    ImageView3->hide();

    auto* effect = new QLabel("Effect", page);
    effect->move(2, 158);
    ComboBox4 = named(new QComboBox(page), "ComboBox4");
    for (const char* name : TransitionEffectNames)
        ComboBox4->addItem(name);
    ComboBox4->setGeometry(36, 154, 124, 22);
    auto* step = new QLabel("Step", page);
    step->move(166, 158);
    Edit4 = named(new QLineEdit(page), "Edit4");
    Edit4->setGeometry(194, 154, 30, 22);
    UpDown3 = named(new UpDown(page), "UpDown3");
    UpDown3->setGeometry(224, 152, 16, 26);
    UpDown3->setMinimum(1);
    UpDown3->setMaximum(MaxTransitionSteps);
    UpDown3->setBuddy(Edit4);
    UpDown3->setPosition(10);
    auto* duration = new QLabel("Duration (10...5000ms)", page);
    duration->move(246, 158);
    Edit7 = named(new QLineEdit("1000", page), "Edit7");
    Edit7->setGeometry(380, 154, 44, 22);
    // The GIF size under the buttons; the group's caption is its hint, for want of room.
    GroupBox11 = named(new QGroupBox(page), "GroupBox11");
    GroupBox11->setToolTip("GIF: window size");
    GroupBox11->setFlat(true);
    GroupBox11->setGeometry(444, 110, 52, 44);
    SpinEdit12 = named(new SpinEdit(GroupBox11), "SpinEdit12");
    SpinEdit12->setToolTip("Width");
    SpinEdit12->setGeometry(0, 0, 50, 21);
    SpinEdit13 = named(new SpinEdit(GroupBox11), "SpinEdit13");
    SpinEdit13->setToolTip("Height");
    SpinEdit13->setGeometry(0, 22, 50, 21);
    SpinEdit12->setRange(0, 10000);
    SpinEdit13->setRange(0, 10000);

    Button21 = named(new QPushButton("Convert", page), "Button21");
    Button22 = named(new QPushButton("Abort", page), "Button22");
    Button23 = named(new QPushButton("Clear GIF", page), "Button23");
    Button24 = named(new QPushButton("Save", page), "Button24");
    int y = 16;
    for (QPushButton* b : {Button21, Button22, Button23, Button24}) {
        b->setGeometry(444, y, 52, 22);
        b->setEnabled(b == Button21);
        y += 23;
    }

    chooseOpenPicture = [this] {
        return QFileDialog::getOpenFileName(this, "Open image", QString(), PictureFilter);
    };
    chooseColor = [this](QColor& color) {
        QColor chosen = QColorDialog::getColor(color, this);
        if (!chosen.isValid())
            return false;
        color = chosen;
        return true;
    };
    askFrameNumber = [this] { return m_windows.form2 && m_windows.form2->exec() == QDialog::Accepted; };

    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TForm1::SpeedButton3Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
    connect(SpeedButton4, &QToolButton::clicked, this, &TForm1::SpeedButton4Click);
    connect(SpeedButton8, &QToolButton::clicked, this, &TForm1::SpeedButton8Click);
    connect(SpeedButton9, &QToolButton::clicked, this, &TForm1::SpeedButton9Click);
    connect(Edit7, &QLineEdit::textChanged, this, &TForm1::Edit7Change);
    connect(Button21, &QPushButton::clicked, this, &TForm1::Button21Click);
    connect(Button22, &QPushButton::clicked, this, &TForm1::Button22Click);
    connect(Button23, &QPushButton::clicked, this, &TForm1::Button23Click);
    connect(Button24, &QPushButton::clicked, this, &TForm1::Button6Click); // the shared "Save"
    static_cast<ColorPanel*>(Panel3)->onDoubleClick = [this] { Panel3DblClick(); };
    static_cast<ColorPanel*>(Panel4)->onDoubleClick = [this] { Panel4DblClick(); };
}

// Shows a side as the model holds it: the thumbnail scaled to fit and centred, the size label,
// the toggle, the panel's colour.
void TForm1::showSide(TransitionSideKind kind) {
    TransitionSide& side = transition.side(kind);
    const bool source = kind == TransitionSideKind::Source;
    QLabel* image = source ? Image10 : Image13;
    QLabel* label = source ? Label33 : Label34;
    QToolButton* toggle = source ? SpeedButton2 : SpeedButton4;
    TImageView* holder = source ? ImageView2 : ImageView3;
    holder->picture().Assign(side.holder);
    QImage picture = toQImage(side.picture);
    image->setPixmap(picture.isNull() ? QPixmap()
                                      : QPixmap::fromImage(picture.scaled(image->size(), Qt::KeepAspectRatio,
                                                                          Qt::SmoothTransformation)));
    label->setText(QString::fromStdString(side.sizeLabel));
    label->setVisible(side.sizeLabelVisible);
    toggle->setChecked(side.emptyToggleDown);
    paintPanel(source ? Panel3 : Panel4, side.background);
    SpinEdit12->setValue(transition.gifWidth);
    SpinEdit13->setValue(transition.gifHeight);
}

void TForm1::openPicture(TransitionSideKind kind) {
    QString path = chooseOpenPicture ? chooseOpenPicture() : QString();
    if (path.isEmpty())
        return;
    const bool read = openTransitionPicture(transition, kind, path.toStdString());
    showSide(kind);
    if (!read)
        showWarning("Warning",
                    "\"" + path + "\" is not a picture type that can be read; the side keeps its picture.");
}

void TForm1::SpeedButton1Click() {
    openPicture(TransitionSideKind::Source);
}
void TForm1::SpeedButton3Click() {
    openPicture(TransitionSideKind::Target);
}

void TForm1::emptyPicture(TransitionSideKind kind) {
    QToolButton* toggle = kind == TransitionSideKind::Source ? SpeedButton2 : SpeedButton4;
    setTransitionEmptyPicture(transition, kind, toggle->isChecked());
    showSide(kind);
}

void TForm1::SpeedButton2Click() {
    emptyPicture(TransitionSideKind::Source);
}
void TForm1::SpeedButton4Click() {
    emptyPicture(TransitionSideKind::Target);
}

void TForm1::openVideoFrame(TransitionSideKind kind) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    struct RestoreCursor {
        ~RestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    if (m_windows.form2)
        m_windows.form2->Edit1->clear();
    BitBtn4Click();
    int64_t n = 1;
    if (askFrameNumber && askFrameNumber())
        n = transitionFrameNumber(m_windows.form2->Edit1->text().toStdString(), state.frameCount);
    openTransitionVideoFrame(transition, kind, state.videoPath, n);
    showSide(kind);
}

void TForm1::SpeedButton8Click() {
    openVideoFrame(TransitionSideKind::Source);
}
void TForm1::SpeedButton9Click() {
    openVideoFrame(TransitionSideKind::Target);
}

void TForm1::chooseBackground(TransitionSideKind kind) {
    TransitionSide& side = transition.side(kind);
    QColor color(redOf(side.background), greenOf(side.background), blueOf(side.background));
    if (!chooseColor || !chooseColor(color))
        return;
    side.background = rgbColor(color.red(), color.green(), color.blue());
    paintPanel(kind == TransitionSideKind::Source ? Panel3 : Panel4, side.background);
}

void TForm1::Panel3DblClick() {
    chooseBackground(TransitionSideKind::Source);
}
void TForm1::Panel4DblClick() {
    chooseBackground(TransitionSideKind::Target);
}

void TForm1::Edit7Change() {
    transition.durationMs = transitionDurationFromText(Edit7->text().toStdString());
}

// Hands each rendered frame on to the window: the effect is read from the list for every frame.
void TForm1::Button21Click() {
    transition.spinWidth = SpinEdit12->value();
    transition.spinHeight = SpinEdit13->value();
    transition.steps = UpDown3->position();
    transition.effect = ComboBox4->currentIndex();
    state.abortConversion = false;
    Button22->setEnabled(true);
    Button22->setFocus();
    Button21->setEnabled(false);
    SpeedButton5->setEnabled(false);

    struct EffectFollowingObserver final : JobObserver {
        TForm1& form;
        WindowJobObserver window;
        explicit EffectFollowingObserver(TForm1& f)
            : form(f), window(f.ProgressBar1, f.state.abortConversion) {}
        void setProgressRange(int minimum, int maximum) override {
            window.setProgressRange(minimum, maximum);
        }
        void setProgressPosition(int position) override { window.setProgressPosition(position); }
        void pumpMessages() override {
            window.pumpMessages();
            form.transition.effect = form.ComboBox4->currentIndex();
        }
        bool abortRequested() override { return window.abortRequested(); }
    } observer(*this);

    TransitionRunResult result;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        state.builtFrameCount = 0;
        result = buildTransitionGif(transition, transitionFrames, m_windows.form3->Image1Picture(), observer);
    } catch (...) {
        QApplication::restoreOverrideCursor();
        Button21->setEnabled(true);
        SpeedButton5->setEnabled(true);
        Button22->setEnabled(false);
        throw;
    }
    QApplication::restoreOverrideCursor();
    state.builtFrameCount = result.frames;
    m_windows.form3->resize(result.width, result.height);
    Button23->setEnabled(true);
    Button24->setEnabled(true);
    Button22->setEnabled(false);
    m_windows.gifForm2->startPreview(result.width, result.height, result.frames);
    TransitTimer->setInterval(result.delayHundredths * 10);
    TransitTimer->start();
}

void TForm1::Button22Click() {
    state.abortConversion = true;
    Button22->setEnabled(false);
}

void TForm1::Button23Click() {
    transitionFrames.clear();
    SpeedButton5->setEnabled(true);
    Button23->setEnabled(false);
    Button21->setEnabled(true);
    Button24->setEnabled(false);
    TransitTimer->stop();
    m_windows.gifForm2->stopPreview();
}

} // namespace kelvara
