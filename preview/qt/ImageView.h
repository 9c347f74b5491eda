// The image view: shows its own Bitmap at 1:1 over a background colour, offers a rectangular
// mouse selection with grips, and zooms about its centre.
#pragma once

#include "raster/Bitmap.h"

#include <QColor>
#include <QImage>
#include <QWidget>

namespace kelvara {

// The picture as a QImage (a copy).
QImage toQImage(const Bitmap& bitmap);

class TImageView : public QWidget {
    Q_OBJECT
public:
    explicit TImageView(QWidget* parent = nullptr);

    Bitmap& picture() { return m_picture; }
    const Bitmap& picture() const { return m_picture; }
    void setBackgroundColor(const QColor& color);
    QColor backgroundColor() const { return m_background; }
    // Empties the picture, so that only the background shows, and repaints.
    void clear();

    // Rectangle selection by mouse.
    void setSelectionEnabled(bool on) { m_selectionEnabled = on; }
    bool selectionEnabled() const { return m_selectionEnabled; }
    bool hasSelection() const { return m_hasSelection; }
    // The selection's corners, first and last column and row, inclusive, in picture pixels.
    int X1() const { return m_x1; }
    int Y1() const { return m_y1; }
    int X2() const { return m_x2; }
    int Y2() const { return m_y2; }
    void setSelection(int x1, int y1, int x2, int y2);
    void removeSelection();
    // Grip drawing: outline colour, half-size in pixels, grips at the side midpoints too.
    void setGrips(const QColor& outline, int halfSize, bool sideGrips);
    int gripHalfSize() const { return m_gripHalfSize; }

    // Zoom in percent; the picture is drawn scaled about the view's centre.
    double zoom() const { return m_zoom; }
    void setZoom(double percent);
    // The picture point shown at the view's centre.
    QPointF viewCenter() const { return m_center; }
    void setViewCenter(const QPointF& point);
    bool centered() const { return m_centered; }
    // Draw the picture centred in the view instead of at the top-left corner.
    void setCentered(bool on) { m_centered = on; }

signals:
    // The program's mouse handlers; mouseReleased comes before a click removes the selection.
    void mouseMoved(int x, int y);
    void mouseReleased(int x, int y);
    void mousePressed(int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Drag { None, New, Move, Resize };
    QPointF toPicture(const QPointF& widgetPoint) const;
    QPointF pictureOrigin() const;
    int gripAt(const QPoint& pictureOffset) const;
    QPoint clampToPicture(const QPointF& p) const;

    Bitmap m_picture;
    QColor m_background = Qt::white;
    bool m_selectionEnabled = false;
    bool m_hasSelection = false;
    int m_x1 = 0, m_y1 = 0, m_x2 = 0, m_y2 = 0;
    QColor m_gripColor = Qt::black;
    int m_gripHalfSize = 3;
    bool m_sideGrips = true;
    double m_zoom = 100;
    QPointF m_center;
    bool m_centered = false;

    Drag m_drag = Drag::None;
    int m_grip = -1;
    QPoint m_pressPoint;
    QPoint m_lastPoint;
    bool m_moved = false;
    int m_startX1 = 0, m_startY1 = 0, m_startX2 = 0, m_startY2 = 0;
};

} // namespace kelvara
