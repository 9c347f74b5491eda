// A tab page that scrolls when the window cannot give it the room its controls need.
#include "app/PageScroller.h"

#include <QScrollBar>

namespace kelvara {

PageScroller::PageScroller(QWidget* page, QWidget* parent) : QScrollArea(parent) {
    setObjectName(page->objectName() + "Scroller");
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setWidget(page);
    // The page's own background shows through, as it would without the scroller.
    viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
}

QSize PageScroller::pageMinimumSize() const {
    const QWidget* page = widget();
    return page ? page->minimumSizeHint().expandedTo(page->minimumSize()) : QSize(0, 0);
}

void PageScroller::setRoom(QSize room) {
    if (room == m_room)
        return;
    m_room = room;
    updateGeometry();
}

QSize PageScroller::minimumSizeHint() const {
    const QSize whole = pageMinimumSize();
    if (!m_room.isValid())
        return whole;
    // Less room than the page needs: a scroll bar takes its share of the other side.
    QSize size = whole.boundedTo(m_room);
    if (size.width() < whole.width())
        size.rheight() += horizontalScrollBar()->sizeHint().height();
    if (size.height() < whole.height())
        size.rwidth() += verticalScrollBar()->sizeHint().width();
    return size;
}

QSize PageScroller::sizeHint() const {
    const QWidget* page = widget();
    return page ? page->sizeHint().expandedTo(minimumSizeHint()) : minimumSizeHint();
}

} // namespace kelvara
