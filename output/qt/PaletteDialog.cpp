// The palette picker.
#include "output/qt/PaletteDialog.h"

#include <QGridLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace kelvara {

TPaletteDialog::TPaletteDialog(const std::vector<Color>& colors, QWidget* parent) : QDialog(parent) {
    setObjectName("PaletteDialog");
    setWindowTitle("Palette");
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setSpacing(1);
    for (size_t i = 0; i < colors.size(); ++i) {
        auto* cell = new QToolButton(this);
        cell->setObjectName(QString("Color%1").arg(i));
        cell->setFixedSize(16, 16);
        cell->setAutoRaise(false);
        const Color c = colors[i];
        cell->setToolTip(QString("%1: %2, %3, %4").arg(i).arg(redOf(c)).arg(greenOf(c)).arg(blueOf(c)));
        cell->setStyleSheet(QString("background-color: rgb(%1, %2, %3); border: 1px solid gray;")
                                .arg(redOf(c))
                                .arg(greenOf(c))
                                .arg(blueOf(c)));
        connect(cell, &QToolButton::clicked, this, [this, i] {
            m_picked = static_cast<int>(i);
            accept();
        });
        grid->addWidget(cell, static_cast<int>(i / 16), static_cast<int>(i % 16));
    }
    layout->addLayout(grid);
    CancelButton = new QPushButton("Cancel", this);
    CancelButton->setObjectName("CancelButton");
    layout->addWidget(CancelButton, 0, Qt::AlignRight);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<Color> TPaletteDialog::pickColor(const std::vector<Color>& colors, QWidget* parent) {
    TPaletteDialog dialog(colors, parent);
    if (dialog.exec() != QDialog::Accepted || !dialog.picked())
        return std::nullopt;
    return colors[static_cast<size_t>(*dialog.picked())];
}

} // namespace kelvara
