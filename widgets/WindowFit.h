// Where windows open and how large they may be: within the available area of the screen (less
// its panels), and beside the main window rather than over it.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

#include <functional>

class QWidget;

namespace kelvara {

// The area of the screen a window may take. The default is the available geometry of the
// window's screen; tests replace it to stand for a screen of another size.
using AvailableAreaSource = std::function<QRect(const QWidget* window)>;

// Replaces the source and gives back the one it replaces.
AvailableAreaSource setAvailableAreaSource(AvailableAreaSource source);
QRect availableArea(const QWidget* window);

// The frame the window manager puts round a top-level window: measured once the window is
// shown, else that of a usual title bar and border.
QMargins windowFrame(const QWidget* window);

// The largest client size a window can have with its frame inside the available area.
QSize largestClientSize(const QWidget* window);

// Moves a window as little as it can so that its frame lies inside the available area.
void keepOnScreen(QWidget* window);

// Moves a window beside another: to the right of it where the screen has room, else to its left,
// else into the bottom corner of the available area on the side with more room. There it keeps
// clear of keepClear (the other window's controls, in screen coordinates), made shorter if it
// must; its content is expected to scroll.
void placeBeside(QWidget* window, const QWidget* other, const QRect& keepClear = {});

// A client size of at least design (where the window opens when its content fits) and at least
// what the content needs, but no larger than the available area allows.
QSize openingSize(const QWidget* window, QSize design);

// A window of a fixed size: fixed at its opening size.
void fixAtOpeningSize(QWidget* window, QSize design);

// Moves a window to the middle of the available area.
void centreOnScreen(QWidget* window);

} // namespace kelvara
