// Helpers for building forms.
#include "widgets/FormHelpers.h"

#include "widgets/Controls.h"

#include <QLineEdit>

namespace kelvara {

QLabel* sizeIcon(QWidget* parent, const QString& letter, const QString& hint) {
    auto* icon = new QLabel(letter, parent);
    icon->setToolTip(hint);
    QFont font = icon->font();
    font.setBold(true);
    icon->setFont(font);
    return icon;
}

void fitEditTo(QLineEdit* edit, const QString& sample) {
    edit->setFixedWidth(editWidthFor(edit, sample));
}

} // namespace kelvara
