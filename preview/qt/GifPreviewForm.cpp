// The animated preview windows.
#include "preview/qt/GifPreviewForm.h"

#include "widgets/WindowFit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvara {

namespace {

// The inner border round the view.
constexpr int Border = 5;

} // namespace

GifPreviewForm::GifPreviewForm(const QString& objectName, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowCloseButtonHint) {
    setObjectName(objectName);
    setWindowTitle("GIF preview");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Border, Border, Border, Border);
    // The view shows its picture at 1:1; a GIF larger than the screen allows scrolls.
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    GIFview = new TImageView;
    GIFview->setObjectName("GIFview");
    GIFview->setBackgroundColor(QApplication::palette().color(QPalette::Light));
    m_scroll->setWidget(GIFview);
    m_scroll->viewport()->setAutoFillBackground(true);
    QPalette p = m_scroll->viewport()->palette();
    p.setColor(QPalette::Window, GIFview->backgroundColor());
    m_scroll->viewport()->setPalette(p);
    layout->addWidget(m_scroll);
    GIFview->resize(132, 43);
    resize(132 + 2 * Border, 43 + 2 * Border);
}

void GifPreviewForm::startPreview(int width, int height, int frameCount, const QWidget* mainWindow,
                                  const QRect& mainWindowControls) {
    const QSize gif(std::max(1, width), std::max(1, height));
    GIFview->setFixedSize(gif);
    const QSize wanted = gif + QSize(2 * Border, 2 * Border);
    const QSize largest = largestClientSize(mainWindow ? mainWindow : this);
    QSize size = wanted.boundedTo(largest);
    // Where the GIF is cut, the scroll bars of the other direction need room too.
    const int bar = m_scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (size.width() < wanted.width())
        size.setHeight(std::min(largest.height(), size.height() + bar));
    if (size.height() < wanted.height())
        size.setWidth(std::min(largest.width(), size.width() + bar));
    resize(size);
    // A window that holds the whole GIF needs no scroll bars, also where the window system
    // rounds its size a pixel short at a fractional scale factor.
    const Qt::ScrollBarPolicy bars = size == wanted ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
    m_scroll->setHorizontalScrollBarPolicy(bars);
    m_scroll->setVerticalScrollBarPolicy(bars);
    GIFview->clear();
    m_frameCount = frameCount;
    m_cursor = 1;
    if (mainWindow) {
        placeBeside(this, mainWindow, mainWindowControls);
        // Where there is no room beside the main window, the preview would rather show the whole
        // GIF over the main window's controls than keep clear of them with scroll bars.
        if (this->size() != size) {
            resize(size);
            keepOnScreen(this);
        }
    }
    show();
    if (mainWindow)
        keepOnScreen(this);
}

void GifPreviewForm::tick(FrameTable& table) {
    const int last = std::min(m_frameCount, table.size());
    if (last < 1)
        return; // nothing was built: nothing to show
    if (m_cursor < 1 || m_cursor > last)
        m_cursor = 1;
    GIFview->picture().Assign(table.entry(m_cursor));
    GIFview->setFixedSize(GIFview->picture().Width(), GIFview->picture().Height());
    GIFview->update();
    m_cursor = m_cursor >= last ? 1 : m_cursor + 1;
}

void GifPreviewForm::stopPreview() {
    GIFview->clear();
    GIFview->repaint();
    hide();
}

void GifPreviewForm::closeEvent(QCloseEvent* event) {
    if (FormClose)
        FormClose();
    event->accept();
}

} // namespace kelvara
