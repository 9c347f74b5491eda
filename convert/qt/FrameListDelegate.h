// The owner-drawn rows of the extracted-frame list: 74 pixels high, a raised frame, the frame's
// thumbnail and its "Frame N" text.
#pragma once

#include "raster/FrameTable.h"

#include <QStyledItemDelegate>

namespace kelvara {

class FrameListDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // Items carry the number of their table entry in Qt::UserRole.
    FrameListDelegate(FrameTable& table, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    FrameTable& m_table;
};

} // namespace kelvara
