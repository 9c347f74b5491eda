// The owner-drawn rows of the extracted-frame list (lbAVIDrawItem).
#include "convert/qt/FrameListDelegate.h"

#include "convert/FrameExtraction.h"
#include "preview/qt/ImageView.h"

#include <QApplication>
#include <QPainter>

namespace kelvara {

FrameListDelegate::FrameListDelegate(FrameTable& table, QObject* parent)
    : QStyledItemDelegate(parent), m_table(table) {}

QSize FrameListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width(), 74};
}

void FrameListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const QRect r = option.rect;
    const int L = r.left(), T = r.top(), R = r.left() + r.width(), B = r.top() + r.height();
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->save();
    // The text area takes the list's current background; the picture area is left alone.
    painter->fillRect(QRect(QPoint(L + 155, T + 2), QPoint(R - 2 - 1, B - 2 - 1)),
                      selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base));
    // A raised one-pixel frame round the whole item.
    painter->setPen(palette.color(QPalette::Light));
    painter->drawLine(L, T, R - 1, T);
    painter->drawLine(L, T, L, B - 1);
    painter->setPen(palette.color(QPalette::Dark));
    painter->drawLine(L, B - 1, R - 1, B - 1);
    painter->drawLine(R - 1, T, R - 1, B - 1);

    const int entry = index.data(Qt::UserRole).toInt();
    if (entry >= 1 && entry <= m_table.size()) {
        const Bitmap& picture = m_table.entry(entry);
        if (!picture.Empty()) {
            ThumbnailPlacement place = thumbnailPlacement({L, T, R, B}, picture.Width(), picture.Height());
            QImage image = toQImage(picture);
            QRect target(place.rect.left, place.rect.top, place.rect.width(), place.rect.height());
            painter->drawImage(target, image);
        }
    }
    // The text, beside the picture area and centred in the row.
    const int innerTop = T + 1, h = (B - 1) - innerTop;
    QFontMetrics metrics(option.font);
    painter->setFont(option.font);
    painter->setPen(selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text));
    painter->drawText(L + 1 + 160, innerTop + (h - metrics.height()) / 2 + 1 + metrics.ascent(),
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

} // namespace kelvara
