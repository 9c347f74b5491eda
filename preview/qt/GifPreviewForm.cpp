// The animated preview windows.
#include "preview/qt/GifPreviewForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvara {

GifPreviewForm::GifPreviewForm(const QString& objectName, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowCloseButtonHint) {
    setObjectName(objectName);
    setWindowTitle("GIF preview");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    GIFview = new TImageView(this);
    GIFview->setObjectName("GIFview");
    GIFview->setBackgroundColor(QApplication::palette().color(QPalette::Light));
    layout->addWidget(GIFview);
    resize(132 + 10, 43 + 10);
}

void GifPreviewForm::startPreview(int width, int height, int frameCount) {
    resize(width + 10, height + 10);
    GIFview->clear();
    m_frameCount = frameCount;
    m_cursor = 1;
    show();
    if (!m_placed) {
        // Centred on the screen when first shown.
        if (QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - QPoint(this->width() / 2, this->height() / 2));
        m_placed = true;
    }
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
