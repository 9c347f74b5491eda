// The image view: picture at 1:1 (or zoomed), rectangle selection with grips, scrolling.
#include "preview/qt/ImageView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace kelvara {

QImage toQImage(const Bitmap& bitmap) {
    if (bitmap.Empty())
        return {};
    if (bitmap.PixelFormat() == PixelFormat::Bits24) {
        QImage view(bitmap.ScanLine(0), bitmap.Width(), bitmap.Height(),
                    static_cast<qsizetype>(bitmap.rowStride()), QImage::Format_BGR888);
        return view.copy();
    }
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    for (int y = 0; y < bitmap.Height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < bitmap.Width(); ++x)
            row[x] = 0xFF000000u | bitmap.pixel(x, y);
    }
    return image;
}

TImageView::TImageView(QWidget* parent) : QWidget(parent) {
    m_picture.SetPixelFormat(PixelFormat::Bits24);
    setMouseTracking(true);
}

void TImageView::setBackgroundColor(const QColor& color) {
    m_background = color;
    update();
}

void TImageView::clear() {
    m_picture.SetSize(0, 0);
    update();
}

void TImageView::setSelection(int x1, int y1, int x2, int y2) {
    m_x1 = std::min(x1, x2);
    m_x2 = std::max(x1, x2);
    m_y1 = std::min(y1, y2);
    m_y2 = std::max(y1, y2);
    m_hasSelection = true;
    update();
}

void TImageView::removeSelection() {
    m_hasSelection = false;
    update();
}

void TImageView::setGrips(const QColor& outline, int halfSize, bool sideGrips) {
    m_gripColor = outline;
    m_gripHalfSize = halfSize;
    m_sideGrips = sideGrips;
    update();
}

void TImageView::setZoom(double percent) {
    if (!m_scrolling) {
        m_zoom = percent;
        update();
        return;
    }
    if (percent == m_zoom || percent <= 0)
        return;
    // The picture point under the centre of the client area stays there: its column at the old
    // zoom, rounded to nearest (ties to even), gives the new scroll position, truncated and clamped.
    const QRect client = clientRect();
    const int hw = client.width() / 2, hh = client.height() / 2;
    const QPoint offset = drawingOffset(m_zoom);
    const double column = std::nearbyint((hw + m_scrollX - offset.x()) * 100.0 / m_zoom);
    const double row = std::nearbyint((hh + m_scrollY - offset.y()) * 100.0 / m_zoom);
    const QPoint maxScroll = maxScrollFor(percent);
    m_scrollX = std::clamp(static_cast<int>(std::trunc(column * percent / 100.0 - hw)), 0, maxScroll.x());
    m_scrollY = std::clamp(static_cast<int>(std::trunc(row * percent / 100.0 - hh)), 0, maxScroll.y());
    m_zoom = percent;
    updateScrollBars();
    update();
    emit viewChanged();
}

void TImageView::setScrolling(ScrollBars bars) {
    m_scrolling = true;
    delete m_horizontalBar;
    delete m_verticalBar;
    m_horizontalBar = m_verticalBar = nullptr;
    if (bars == ScrollBars::Both) {
        m_horizontalBar = new QScrollBar(Qt::Horizontal, this);
        m_horizontalBar->setObjectName("HorzScrollBar");
        m_verticalBar = new QScrollBar(Qt::Vertical, this);
        m_verticalBar->setObjectName("VertScrollBar");
        connect(m_horizontalBar, &QScrollBar::valueChanged, this,
                [this](int x) { setScrollPosition(x, m_scrollY); });
        connect(m_verticalBar, &QScrollBar::valueChanged, this,
                [this](int y) { setScrollPosition(m_scrollX, y); });
    }
    updateScrollBars();
    update();
}

QRect TImageView::clientRect() const {
    QRect r = rect();
    if (m_horizontalBar)
        r.setBottom(r.bottom() - m_horizontalBar->sizeHint().height());
    if (m_verticalBar)
        r.setRight(r.right() - m_verticalBar->sizeHint().width());
    return r;
}

QSize TImageView::scaledSize(double percent) const {
    return {static_cast<int>(std::trunc(m_picture.Width() * percent / 100.0)),
            static_cast<int>(std::trunc(m_picture.Height() * percent / 100.0))};
}

QPoint TImageView::maxScrollFor(double percent) const {
    const QSize size = scaledSize(percent);
    const QRect client = clientRect();
    return {std::max(0, size.width() - client.width()), std::max(0, size.height() - client.height())};
}

QPoint TImageView::drawingOffset(double percent) const {
    if (!m_centered)
        return {0, 0};
    const QSize size = scaledSize(percent);
    const QRect client = clientRect();
    return {std::max(0, (client.width() - size.width()) / 2),
            std::max(0, (client.height() - size.height()) / 2)};
}

void TImageView::setScrollPosition(int x, int y) {
    const QPoint maxScroll = maxScrollFor(m_zoom);
    x = std::clamp(x, 0, maxScroll.x());
    y = std::clamp(y, 0, maxScroll.y());
    if (x == m_scrollX && y == m_scrollY)
        return;
    m_scrollX = x;
    m_scrollY = y;
    updateScrollBars();
    update();
    emit viewChanged();
}

void TImageView::setZoomAndScroll(double percent, int x, int y) {
    if (percent <= 0)
        return;
    m_zoom = percent;
    const QPoint maxScroll = maxScrollFor(m_zoom);
    m_scrollX = std::clamp(x, 0, maxScroll.x());
    m_scrollY = std::clamp(y, 0, maxScroll.y());
    updateScrollBars();
    update();
    emit viewChanged();
}

// Keeps the scroll position inside the picture (which its owner may resize at any time) and the
// scroll bars on the client area's edges with the right ranges.
void TImageView::updateScrollBars() {
    if (!m_scrolling)
        return;
    const QPoint maxScroll = maxScrollFor(m_zoom);
    m_scrollX = std::clamp(m_scrollX, 0, maxScroll.x());
    m_scrollY = std::clamp(m_scrollY, 0, maxScroll.y());
    const QRect client = clientRect();
    if (m_horizontalBar) {
        const QSignalBlocker blocker(m_horizontalBar);
        m_horizontalBar->setGeometry(0, client.bottom() + 1, client.width(), height() - client.height());
        m_horizontalBar->setRange(0, maxScroll.x());
        m_horizontalBar->setPageStep(std::max(1, client.width()));
        m_horizontalBar->setValue(m_scrollX);
        m_horizontalBar->setEnabled(maxScroll.x() > 0);
    }
    if (m_verticalBar) {
        const QSignalBlocker blocker(m_verticalBar);
        m_verticalBar->setGeometry(client.right() + 1, 0, width() - client.width(), client.height());
        m_verticalBar->setRange(0, maxScroll.y());
        m_verticalBar->setPageStep(std::max(1, client.height()));
        m_verticalBar->setValue(m_scrollY);
        m_verticalBar->setEnabled(maxScroll.y() > 0);
    }
}

void TImageView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!m_scrolling)
        return;
    const int x = m_scrollX, y = m_scrollY;
    updateScrollBars();
    if (x != m_scrollX || y != m_scrollY)
        emit viewChanged();
}

void TImageView::wheelEvent(QWheelEvent* event) {
    if (!m_scrolling || !m_mouseNavigation) {
        QWidget::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0)
        return;
    if (event->modifiers() & Qt::ControlModifier) {
        double zoom = m_zoom;
        for (int i = 0; i < std::abs(steps); ++i)
            zoom = steps > 0 ? std::min(1600.0, zoom * 2) : std::max(25.0, std::trunc(zoom / 2));
        setZoom(zoom);
    } else if (event->modifiers() & Qt::ShiftModifier) {
        setScrollPosition(m_scrollX - steps * 40, m_scrollY);
    } else {
        setScrollPosition(m_scrollX, m_scrollY - steps * 40);
    }
    event->accept();
}

void TImageView::setViewCenter(const QPointF& point) {
    m_center = point;
    update();
}

QPointF TImageView::pictureOrigin() const {
    const double scale = m_zoom / 100.0;
    if (m_scrolling) {
        const QRect client = clientRect();
        const QPoint offset = drawingOffset(m_zoom);
        return {double(client.left() + offset.x() - m_scrollX),
                double(client.top() + offset.y() - m_scrollY)};
    }
    if (!m_centered)
        return {0, 0};
    return {width() / 2.0 - m_center.x() * scale, height() / 2.0 - m_center.y() * scale};
}

QPointF TImageView::toPicture(const QPointF& p) const {
    const double scale = m_zoom / 100.0;
    QPointF origin = pictureOrigin();
    return {(p.x() - origin.x()) / scale, (p.y() - origin.y()) / scale};
}

QPoint TImageView::clampToPicture(const QPointF& p) const {
    int maxX = std::max(0, m_picture.Width() - 1), maxY = std::max(0, m_picture.Height() - 1);
    return {std::clamp(static_cast<int>(std::floor(p.x())), 0, maxX),
            std::clamp(static_cast<int>(std::floor(p.y())), 0, maxY)};
}

void TImageView::paintEvent(QPaintEvent*) {
    updateScrollBars();
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    if (m_scrolling)
        painter.setClipRect(clientRect());
    const double scale = m_zoom / 100.0;
    QPointF origin = pictureOrigin();
    if (!m_picture.Empty()) {
        QImage image = toQImage(m_picture);
        painter.drawImage(QRectF(origin, QSizeF(image.width() * scale, image.height() * scale)), image);
    }
    if (m_hasSelection) {
        QRectF r(origin.x() + m_x1 * scale, origin.y() + m_y1 * scale, (m_x2 - m_x1) * scale,
                 (m_y2 - m_y1) * scale);
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r);
        // Hollow grips, halfSize pixels either side of their point.
        painter.setPen(QPen(m_gripColor, 1));
        std::vector<QPointF> points = {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()};
        if (m_sideGrips) {
            points.push_back({r.center().x(), r.top()});
            points.push_back({r.center().x(), r.bottom()});
            points.push_back({r.left(), r.center().y()});
            points.push_back({r.right(), r.center().y()});
        }
        for (const QPointF& p : points)
            painter.drawRect(QRectF(p.x() - m_gripHalfSize, p.y() - m_gripHalfSize, 2 * m_gripHalfSize,
                                    2 * m_gripHalfSize));
    }
}

// Grips in the order: corners (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right), then the
// side midpoints (4 top, 5 bottom, 6 left, 7 right); -1 for none.
int TImageView::gripAt(const QPoint& p) const {
    if (!m_hasSelection)
        return -1;
    int cx = (m_x1 + m_x2) / 2, cy = (m_y1 + m_y2) / 2;
    const QPoint grips[8] = {{m_x1, m_y1}, {m_x2, m_y1}, {m_x1, m_y2}, {m_x2, m_y2},
                             {cx, m_y1},   {cx, m_y2},   {m_x1, cy},   {m_x2, cy}};
    int count = m_sideGrips ? 8 : 4;
    for (int i = 0; i < count; ++i)
        if (std::abs(grips[i].x() - p.x()) <= m_gripHalfSize &&
            std::abs(grips[i].y() - p.y()) <= m_gripHalfSize)
            return i;
    return -1;
}

void TImageView::mousePressEvent(QMouseEvent* event) {
    QPointF pp = toPicture(event->position());
    emit mousePressed(static_cast<int>(std::floor(pp.x())), static_cast<int>(std::floor(pp.y())));
    if (m_scrolling && m_mouseNavigation && !m_selectionEnabled && event->button() == Qt::LeftButton) {
        m_panning = true;
        m_panStart = event->position().toPoint();
        m_panScrollStart = {m_scrollX, m_scrollY};
        return;
    }
    if (!m_selectionEnabled || event->button() != Qt::LeftButton || m_picture.Empty())
        return;
    QPoint p = clampToPicture(pp);
    m_pressPoint = m_lastPoint = p;
    m_moved = false;
    m_startX1 = m_x1, m_startY1 = m_y1, m_startX2 = m_x2, m_startY2 = m_y2;
    m_grip = gripAt(p);
    if (m_grip >= 0)
        m_drag = Drag::Resize;
    else if (m_hasSelection && p.x() >= m_x1 && p.x() <= m_x2 && p.y() >= m_y1 && p.y() <= m_y2)
        m_drag = Drag::Move;
    else
        m_drag = Drag::New;
}

void TImageView::mouseMoveEvent(QMouseEvent* event) {
    if (m_panning) {
        const QPoint moved = event->position().toPoint() - m_panStart;
        setScrollPosition(m_panScrollStart.x() - moved.x(), m_panScrollStart.y() - moved.y());
    }
    QPointF pp = toPicture(event->position());
    if (m_drag != Drag::None) {
        QPoint p = clampToPicture(pp);
        if (p != m_pressPoint)
            m_moved = true;
        if (m_moved) {
            int dx = p.x() - m_pressPoint.x(), dy = p.y() - m_pressPoint.y();
            switch (m_drag) {
            case Drag::New:
                setSelection(m_pressPoint.x(), m_pressPoint.y(), p.x(), p.y());
                break;
            case Drag::Move: {
                int w = m_startX2 - m_startX1, h = m_startY2 - m_startY1;
                int x1 = std::clamp(m_startX1 + dx, 0, std::max(0, m_picture.Width() - 1 - w));
                int y1 = std::clamp(m_startY1 + dy, 0, std::max(0, m_picture.Height() - 1 - h));
                setSelection(x1, y1, x1 + w, y1 + h);
                break;
            }
            case Drag::Resize: {
                int x1 = m_startX1, y1 = m_startY1, x2 = m_startX2, y2 = m_startY2;
                if (m_grip == 0 || m_grip == 2 || m_grip == 6)
                    x1 = p.x();
                if (m_grip == 1 || m_grip == 3 || m_grip == 7)
                    x2 = p.x();
                if (m_grip == 0 || m_grip == 1 || m_grip == 4)
                    y1 = p.y();
                if (m_grip == 2 || m_grip == 3 || m_grip == 5)
                    y2 = p.y();
                setSelection(x1, y1, x2, y2);
                break;
            }
            case Drag::None:
                break;
            }
        }
        m_lastPoint = p;
    }
    emit mouseMoved(static_cast<int>(std::floor(pp.x())), static_cast<int>(std::floor(pp.y())));
}

void TImageView::mouseReleaseEvent(QMouseEvent* event) {
    m_panning = false;
    QPointF pp = toPicture(event->position());
    Drag drag = m_drag;
    m_drag = Drag::None;
    // The program hears of the release first; a click without dragging then removes the
    // selection.
    emit mouseReleased(static_cast<int>(std::floor(pp.x())), static_cast<int>(std::floor(pp.y())));
    if (drag != Drag::None && !m_moved)
        removeSelection();
}

} // namespace kelvara
