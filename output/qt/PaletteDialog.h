// The palette picker: shows the entries of a colour map as swatches and lets the user pick one.
#pragma once

#include "raster/Bitmap.h"

#include <QDialog>
#include <QPushButton>

#include <optional>
#include <vector>

namespace kelvara {

class TPaletteDialog : public QDialog {
    Q_OBJECT
public:
    // Shows the colours, sixteen to a row.
    explicit TPaletteDialog(const std::vector<Color>& colors, QWidget* parent = nullptr);

    QPushButton* CancelButton = nullptr;
    // The entry the user clicked; none when cancelled.
    std::optional<int> picked() const { return m_picked; }

    // Runs the picker modally; the colour of the entry picked, none when cancelled.
    static std::optional<Color> pickColor(const std::vector<Color>& colors, QWidget* parent);

private:
    std::optional<int> m_picked;
};

} // namespace kelvara
