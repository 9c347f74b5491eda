// The image view: picture at 1:1 (or zoomed), rectangle selection with grips.
#include "preview/qt/ImageView.h"

#include <QMouseEvent>
#include <QPainter>

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
    m_zoom = percent;
    update();
}

void TImageView::setViewCenter(const QPointF& point) {
    m_center = point;
    update();
}

QPointF TImageView::pictureOrigin() const {
    const double scale = m_zoom / 100.0;
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
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
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
