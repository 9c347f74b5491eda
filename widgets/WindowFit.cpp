// Window sizes and places within the screen.
#include "widgets/WindowFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace kelvara {

namespace {

// Margin between a window and the one it opens beside.
constexpr int Gap = 8;
// The least height a window is made shorter to, to keep clear of another window's controls.
constexpr int MinimumHeight = 120;

QRect screenArea(const QWidget* window) {
    QScreen* screen = window ? window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

AvailableAreaSource& currentSource() {
    static AvailableAreaSource source = screenArea;
    return source;
}

QRect frameRect(const QWidget* window) {
    return window->geometry().marginsAdded(windowFrame(window));
}

} // namespace

AvailableAreaSource setAvailableAreaSource(AvailableAreaSource source) {
    AvailableAreaSource previous = std::move(currentSource());
    currentSource() = source ? std::move(source) : AvailableAreaSource(screenArea);
    return previous;
}

QRect availableArea(const QWidget* window) {
    return currentSource()(window);
}

QMargins windowFrame(const QWidget* window) {
    if (window->isVisible()) {
        const QRect frame = window->frameGeometry(), client = window->geometry();
        if (frame != client)
            return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom()};
    }
    return {2, 28, 2, 2};
}

QSize largestClientSize(const QWidget* window) {
    const QMargins frame = windowFrame(window);
    const QSize area = availableArea(window).size();
    return {std::max(1, area.width() - frame.left() - frame.right()),
            std::max(1, area.height() - frame.top() - frame.bottom())};
}

void keepOnScreen(QWidget* window) {
    const QRect area = availableArea(window);
    const QRect frame = frameRect(window);
    QRect outer = frame;
    if (outer.right() > area.right())
        outer.moveRight(area.right());
    if (outer.bottom() > area.bottom())
        outer.moveBottom(area.bottom());
    if (outer.left() < area.left())
        outer.moveLeft(area.left());
    if (outer.top() < area.top())
        outer.moveTop(area.top());
    // Moved by as much as the frame must move; a window's position is that of its frame.
    window->move(window->pos() + (outer.topLeft() - frame.topLeft()));
}

void placeBeside(QWidget* window, const QWidget* other, const QRect& keepClear) {
    const QRect area = availableArea(window);
    const QMargins frame = windowFrame(window);
    QSize outer = window->size().grownBy(frame);
    const QRect beside = frameRect(other);
    QPoint at;
    if (beside.right() + Gap + outer.width() <= area.right()) {
        at = {beside.right() + Gap, beside.top()};
    } else if (beside.left() - Gap - outer.width() >= area.left()) {
        at = {beside.left() - Gap - outer.width(), beside.top()};
    } else {
        at = {area.right() - outer.width(), area.bottom() - outer.height()};
        if (area.right() - beside.right() < beside.left() - area.left())
            at.setX(area.left());
        // Over the other window, but not over its controls: below them, made shorter where the
        // screen has not the room (the window's view scrolls).
        const int below = keepClear.isNull() ? area.bottom() : keepClear.bottom() + Gap;
        if (QRect(at, outer).intersects(keepClear) && area.bottom() - below >= MinimumHeight) {
            outer.setHeight(std::min(outer.height(), area.bottom() - below));
            window->resize(outer.shrunkBy(frame));
            at.setY(area.bottom() - outer.height());
        }
    }
    at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - outer.height())));
    window->move(at);
    keepOnScreen(window);
}

QSize openingSize(const QWidget* window, QSize design) {
    return design.expandedTo(window->minimumSizeHint()).boundedTo(largestClientSize(window));
}

void fixAtOpeningSize(QWidget* window, QSize design) {
    window->setFixedSize(openingSize(window, design));
}

void centreOnScreen(QWidget* window) {
    const QRect area = availableArea(window);
    const QSize outer = window->size().grownBy(windowFrame(window));
    window->move(area.center() - QPoint(outer.width() / 2, outer.height() / 2));
}

} // namespace kelvara
