// Helpers for building forms.
#include "widgets/FormHelpers.h"

#include "widgets/Controls.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QToolButton>

namespace kelvara {

namespace {

// Runs a fitting function when its widget's font or style changes.
class FontFollower : public QObject {
public:
    FontFollower(QWidget* widget, std::function<void()> fit) : QObject(widget), m_fit(std::move(fit)) {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            m_fit();
        return false;
    }

private:
    std::function<void()> m_fit;
};

} // namespace

void followFont(QWidget* widget, std::function<void()> fit) {
    fit();
    new FontFollower(widget, std::move(fit));
}

QToolButton* toolButton(QWidget* parent, const char* name, const QString& hint, QStyle::StandardPixmap icon) {
    auto* button = named(new QToolButton(parent), name);
    button->setToolTip(hint);
    // A button that shows only an icon is named by its hint for screen readers.
    button->setAccessibleName(hint);
    button->setIcon(parent->style()->standardIcon(icon));
    return button;
}

QLabel* sizeIcon(QWidget* parent, const QString& letter, const QString& hint) {
    auto* icon = new QLabel(letter, parent);
    icon->setToolTip(hint);
    QFont font = icon->font();
    font.setBold(true);
    icon->setFont(font);
    return icon;
}

QHBoxLayout* sizeRow(QWidget* parent, QWidget* width, QWidget* height) {
    auto* row = new QHBoxLayout;
    row->addWidget(sizeIcon(parent, "W", "Width"));
    row->addWidget(width);
    row->addSpacing(4);
    row->addWidget(sizeIcon(parent, "H", "Height"));
    row->addWidget(height);
    row->addStretch(1);
    return row;
}

void fitEditTo(QLineEdit* edit, const QString& sample) {
    followFont(edit, [edit, sample] { edit->setFixedWidth(editWidthFor(edit, sample)); });
}

QString droppedLocalFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1 || !mime->urls().front().isLocalFile())
        return {};
    return mime->urls().front().toLocalFile();
}

void minimumWidthFor(QWidget* widget, const QString& sample, int extra) {
    followFont(widget, [widget, sample, extra] {
        widget->setMinimumWidth(widget->fontMetrics().horizontalAdvance(sample) + extra);
    });
}

} // namespace kelvara
