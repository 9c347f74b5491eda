// A tab page that scrolls when the window cannot give it the room its controls need.
#pragma once

#include <QScrollArea>
#include <QSize>

namespace kelvara {

// Holds one page of a tab widget. It asks for the page's whole size, so that the window opens
// with every control at its size; only where the screen is too small for that does the window
// give it less room (setRoom), and then the page scrolls instead of squeezing its controls over
// each other.
class PageScroller : public QScrollArea {
    Q_OBJECT
public:
    explicit PageScroller(QWidget* page, QWidget* parent = nullptr);

    // The page's own smallest size, whatever room it is given.
    QSize pageMinimumSize() const;
    // The most room the window can give; an invalid size for as much as the page needs.
    void setRoom(QSize room);
    QSize room() const { return m_room; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

private:
    QSize m_room;
};

} // namespace kelvara
