// The frame viewer: tool bar, status bar and the zoomable view of one extracted frame.
#include "preview/qt/FrameViewer.h"

#include "raster/FrameTable.h"
#include "widgets/FormHelpers.h"
#include "widgets/SlotGuard.h"
#include "widgets/WindowFit.h"

#include <QAbstractItemModel>
#include <QLayout>
#include <QShortcut>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvara {

namespace {

constexpr int MinZoom = 25;
constexpr int MaxZoom = 1600;
const QColor Teal(0, 128, 128);

} // namespace

TForm5::TForm5(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint |
                          Qt::WindowContextHelpButtonHint) {
    setObjectName("Form5");
    setWindowTitle("Frame ");
    resize(400, 320);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    ToolBar1 = named(new QToolBar(this), "ToolBar1");
    auto flatButton = [this](const char* name, const char* hint, QStyle::StandardPixmap icon,
                             const char* text, const char* key) {
        auto* button = named(new QToolButton(ToolBar1), name);
        button->setToolTip(QString(hint) + " (" + key + ")");
        button->setAccessibleName(hint);
        button->setAccessibleDescription(hint);
        button->setAutoRaise(true);
        if (icon != QStyle::SP_CustomBase)
            button->setIcon(style()->standardIcon(icon));
        else
            button->setText(text);
        ToolBar1->addWidget(button);
        return button;
    };
    SpeedButton1 = flatButton("SpeedButton1", "Previous", QStyle::SP_ArrowBack, "", "Left");
    SpeedButton2 = flatButton("SpeedButton2", "Next", QStyle::SP_ArrowForward, "", "Right");
    SpeedButton3 = flatButton("SpeedButton3", "Zoom in", QStyle::SP_CustomBase, "+", "+");
    SpeedButton4 = flatButton("SpeedButton4", "Zoom out", QStyle::SP_CustomBase, "-", "-");
    layout->addWidget(ToolBar1);

    ImageView1 = named(new TImageView(this), "ImageView1");
    ImageView1->setBackgroundColor(Teal);
    ImageView1->setScrolling(ScrollBars::Both);
    layout->addWidget(ImageView1, 1);

    StatusBar1 = named(new QStatusBar(this), "StatusBar1");
    StatusBar1->setSizeGripEnabled(true);
    StatusBar1Panel0 = named(new QLabel("Zoom: 100%", StatusBar1), "StatusBar1Panel0");
    StatusBar1Panel0->setAlignment(Qt::AlignCenter);
    // 100 wide, or what "Zoom: 1600%" needs in a larger font.
    followFont(StatusBar1Panel0, [this] {
        StatusBar1Panel0->setFixedWidth(
            std::max(100, StatusBar1Panel0->fontMetrics().horizontalAdvance("Zoom: 1600%") + 8));
    });
    StatusBar1Panel1 = named(new QLabel(StatusBar1), "StatusBar1Panel1");
    StatusBar1Panel1->setMinimumWidth(50);
    StatusBar1->addWidget(StatusBar1Panel0);
    StatusBar1->addWidget(StatusBar1Panel1, 1);
    layout->addWidget(StatusBar1);

    connect(SpeedButton1, &QToolButton::clicked, this, guarded(this, &TForm5::SpeedButton1Click));
    connect(SpeedButton2, &QToolButton::clicked, this, guarded(this, &TForm5::SpeedButton2Click));
    connect(SpeedButton3, &QToolButton::clicked, this, guarded(this, &TForm5::SpeedButton3Click));
    connect(SpeedButton4, &QToolButton::clicked, this, guarded(this, &TForm5::SpeedButton4Click));

    // The keys: + and - zoom (= too, the unshifted +), 0 goes back to 100 %, Left and Right step,
    // Esc closes. Each presses its button only while the button can be pressed.
    const auto key = [this](QKeySequence keys, const char* name, std::function<void()> action) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setObjectName(name);
        connect(shortcut, &QShortcut::activated, this, guarded(std::move(action)));
    };
    const auto press = [](QToolButton* button) {
        if (button->isEnabled())
            button->click();
    };
    key(QKeySequence(Qt::Key_Plus), "ZoomInKey", [this, press] { press(SpeedButton3); });
    key(QKeySequence(Qt::Key_Equal), "ZoomInKeyUnshifted", [this, press] { press(SpeedButton3); });
    key(QKeySequence(Qt::Key_Minus), "ZoomOutKey", [this, press] { press(SpeedButton4); });
    key(QKeySequence(Qt::Key_0), "ZoomResetKey", [this] { resetZoom(); });
    key(QKeySequence(Qt::Key_Left), "PreviousKey", [this, press] { press(SpeedButton1); });
    key(QKeySequence(Qt::Key_Right), "NextKey", [this, press] { press(SpeedButton2); });
    key(QKeySequence(Qt::Key_Escape), "CloseKey", [this] { close(); });
}

TForm5::~TForm5() {
    // FormDestroy: the view picture is let go.
    ImageView1->clear();
}

void TForm5::setFrameSizeText(const QString& text) {
    StatusBar1Panel1->setText(text);
}

int TForm5::frameCount() const {
    return m_numbers ? m_numbers->count() : 0;
}

void TForm5::watchList(QListWidget* numbers) {
    if (numbers == m_numbers)
        return;
    for (const QMetaObject::Connection& c : m_listConnections)
        disconnect(c);
    m_listConnections.clear();
    m_numbers = numbers;
    if (!numbers)
        return;
    // The list may be cleared or refilled while the viewer stays open: Previous and Next follow it.
    QAbstractItemModel* model = numbers->model();
    m_listConnections << connect(model, &QAbstractItemModel::rowsInserted, this, &TForm5::updateStepButtons)
                      << connect(model, &QAbstractItemModel::rowsRemoved, this, &TForm5::updateStepButtons)
                      << connect(model, &QAbstractItemModel::modelReset, this, &TForm5::updateStepButtons);
}

void TForm5::openAtPosition(int k, FrameTable& frames, QListWidget* numbers, int width, int height) {
    m_frames = &frames;
    watchList(numbers);
    if (k < 0 || k >= frameCount())
        return;
    m_position = k;
    Bitmap& picture = ImageView1->picture();
    picture.SetPixelFormat(PixelFormat::Bits24);
    picture.SetSize(std::max(0, width), std::max(0, height));
    showFrame();
    resetZoom();
    updateStepButtons();
    const bool opening = !isVisible();
    if (opening)
        sizeToPicture();
    show();
    // Once shown, the window manager's frame is known.
    if (opening)
        keepOnScreen(this);
    raise();
    activateWindow();
}

// Opens at 400 x 320, or larger where the picture needs it to show whole at 100 % (within the
// screen): the tool bar, the status bar and the view's scroll bars take their room as the font
// makes them.
void TForm5::sizeToPicture() {
    resize(400, 320);
    layout()->activate();
    const QSize chrome = size() - ImageView1->clientRect().size();
    const Bitmap& picture = ImageView1->picture();
    const QSize wanted = QSize(picture.Width(), picture.Height()) + chrome;
    resize(size().expandedTo(wanted).boundedTo(largestClientSize(this)));
    keepOnScreen(this);
}

void TForm5::showFrame() {
    setWindowTitle("Frame " + m_numbers->item(m_position)->text());
    Bitmap& picture = ImageView1->picture();
    if (!picture.Empty()) {
        Canvas& canvas = picture.Canvas();
        canvas.Brush.Color = rgbColor(Teal.red(), Teal.green(), Teal.blue());
        canvas.FillRect({0, 0, picture.Width(), picture.Height()});
        if (m_frames && m_position + 1 <= m_frames->size())
            canvas.Draw(0, 0, m_frames->entry(m_position + 1));
    }
    ImageView1->update();
}

void TForm5::resetZoom() {
    applyZoom(100);
    StatusBar1Panel0->setText("Zoom: 100%");
    SpeedButton3->setEnabled(true);
    SpeedButton4->setEnabled(true);
}

void TForm5::applyZoom(int zoom) {
    m_zoom = zoom;
    ImageView1->setZoom(zoom);
}

void TForm5::updateStepButtons() {
    const int count = frameCount();
    SpeedButton1->setEnabled(count > 0 && m_position > 0);
    SpeedButton2->setEnabled(m_position < count - 1);
}

void TForm5::updateZoomButtons() {
    StatusBar1Panel0->setText(QString("Zoom: %1%").arg(m_zoom));
    SpeedButton4->setEnabled(m_zoom > MinZoom);
    SpeedButton3->setEnabled(m_zoom < MaxZoom);
}

void TForm5::SpeedButton1Click() {
    const int count = frameCount();
    if (m_position <= 0 || count == 0)
        return;
    // A list refilled with fewer rows than the position puts the viewer on its last row.
    m_position = std::min(m_position - 1, count - 1);
    showFrame();
    resetZoom();
    updateStepButtons();
}

void TForm5::SpeedButton2Click() {
    if (m_position >= frameCount() - 1)
        return;
    ++m_position;
    showFrame();
    resetZoom();
    updateStepButtons();
}

void TForm5::SpeedButton3Click() {
    if (m_zoom >= MaxZoom)
        return;
    applyZoom(m_zoom * 2);
    updateZoomButtons();
}

void TForm5::SpeedButton4Click() {
    if (m_zoom <= MinZoom)
        return;
    applyZoom(m_zoom / 2);
    updateZoomButtons();
}

void TForm5::FormShow() {
    updateStepButtons();
}

void TForm5::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FormShow();
}

void TForm5::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // FormResize: the view repaints at its new size.
    ImageView1->update();
}

} // namespace kelvara
