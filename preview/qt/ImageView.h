// The image view: shows its own Bitmap at 1:1 over a background colour, offers a rectangular
// mouse selection with grips, zooms about its centre and, in its scrolling layout, scrolls.
#pragma once

#include "raster/Bitmap.h"

#include <QColor>
#include <QImage>
#include <QWidget>

class QScrollBar;

namespace kelvara {

// The picture as a QImage (a copy).
QImage toQImage(const Bitmap& bitmap);

// Whether a scrolling view shows its two scroll bars.
enum class ScrollBars { None, Both };

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

    // The scrolling layout: the zoomed picture is drawn from a scroll position; a picture smaller
    // than the view sits at its top-left corner, or in its middle when centred. There, a new zoom
    // keeps the picture point under the centre of the client area under it.
    void setScrolling(ScrollBars bars);
    bool scrolling() const { return m_scrolling; }
    // Where the picture is drawn: the view less its scroll bars.
    QRect clientRect() const;
    int scrollX() const { return m_scrollX; }
    int scrollY() const { return m_scrollY; }
    int maxScrollX() const { return maxScrollFor(m_zoom).x(); }
    int maxScrollY() const { return maxScrollFor(m_zoom).y(); }
    // Scrolls, clamped to 0 .. the largest scroll position.
    void setScrollPosition(int x, int y);
    // Takes a zoom and a scroll position as they are, as a view that follows another does.
    void setZoomAndScroll(double percent, int x, int y);
    // The user zooms with Ctrl and the wheel (halving and doubling within 25 .. 1600 %) and
    // scrolls with the wheel or by dragging the picture.
    void setMouseNavigation(bool on) { m_mouseNavigation = on; }

signals:
    // The program's mouse handlers; mouseReleased comes before a click removes the selection.
    void mouseMoved(int x, int y);
    void mouseReleased(int x, int y);
    void mousePressed(int x, int y);
    // The zoom or the scroll position changed.
    void viewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class Drag { None, New, Move, Resize };
    QPointF toPicture(const QPointF& widgetPoint) const;
    QPointF pictureOrigin() const;
    int gripAt(const QPoint& pictureOffset) const;
    QPoint clampToPicture(const QPointF& p) const;
    QSize scaledSize(double percent) const;
    QPoint maxScrollFor(double percent) const;
    // Horizontal and vertical drawing offset of a picture smaller than the client area.
    QPoint drawingOffset(double percent) const;
    void updateScrollBars();

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
    bool m_scrolling = false;
    bool m_mouseNavigation = false;
    int m_scrollX = 0;
    int m_scrollY = 0;
    QScrollBar* m_horizontalBar = nullptr;
    QScrollBar* m_verticalBar = nullptr;
    bool m_panning = false;
    QPoint m_panStart;
    QPoint m_panScrollStart;

    Drag m_drag = Drag::None;
    int m_grip = -1;
    QPoint m_pressPoint;
    QPoint m_lastPoint;
    bool m_moved = false;
    int m_startX1 = 0, m_startY1 = 0, m_startX2 = 0, m_startY2 = 0;
};

} // namespace kelvara
