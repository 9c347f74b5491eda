// Small controls the forms share: spin edit, up-down, colour swatch, eliding label.
#include "widgets/Controls.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvara {

// ---- spin edit ----

SpinEdit::SpinEdit(QWidget* parent) : QLineEdit(parent) {
    setText("0");
    connect(this, &QLineEdit::textEdited, this, [this] { m_typing = true; });
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!m_typing)
            emit valueChanged();
    });
}

// A range whose minimum equals its maximum (0..0 before a video is open) does not limit.
int SpinEdit::clamp(int v) const {
    if (m_max == m_min)
        return v;
    return m_max > m_min ? std::clamp(v, m_min, m_max) : m_min;
}

int SpinEdit::value() const {
    bool ok = false;
    int v = text().trimmed().toInt(&ok);
    return ok ? clamp(v) : m_min;
}

void SpinEdit::setValue(int value) {
    QString t = QString::number(clamp(value));
    if (t != text())
        setText(t);
}

void SpinEdit::setRange(int minimum, int maximum) {
    m_min = minimum;
    m_max = maximum;
}

// The typed text is brought into range without a valueChanged; valueTyped then reports the
// value once.
void SpinEdit::commitTyping() {
    if (!m_typing)
        return;
    setValue(value());
    m_typing = false;
    emit valueTyped();
}

void SpinEdit::focusOutEvent(QFocusEvent* event) {
    if (m_typing)
        commitTyping();
    else
        setValue(value());
    QLineEdit::focusOutEvent(event);
}

void SpinEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
        // A step counts from what the edit shows, typed or not, and is the program's change.
        const int next = value() + (event->key() == Qt::Key_Up ? 1 : -1);
        m_typing = false;
        setValue(next);
        return;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
        commitTyping();
        break;
    default:
        break;
    }
    QLineEdit::keyPressEvent(event);
}

// ---- up-down ----

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up = new QToolButton(this);
    m_up->setAccessibleName("Increase");
    m_up->setArrowType(Qt::UpArrow);
    m_down = new QToolButton(this);
    m_down->setAccessibleName("Decrease");
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {m_up, m_down}) {
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        b->setFixedWidth(16);
        b->setIconSize(QSize(8, 8));
        layout->addWidget(b);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    connect(m_up, &QToolButton::clicked, this, [this] { step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(-1); });
}

int UpDown::clamp(int position) const {
    return m_max >= m_min ? std::clamp(position, m_min, m_max) : m_min;
}

void UpDown::setPosition(int position) {
    int p = clamp(position);
    m_position = p;
    if (m_buddy)
        m_buddy->setText(QString::number(p));
}

void UpDown::step(int delta) {
    setPosition(m_position + delta);
}

void UpDown::takeTyped() {
    bool ok = false;
    const int typed = m_buddy->text().trimmed().toInt(&ok);
    if (ok)
        m_position = clamp(typed);
}

void UpDown::showPosition() {
    if (m_buddy->text() != QString::number(m_position))
        setPosition(m_position);
}

void UpDown::setBuddy(QLineEdit* edit) {
    if (m_buddy)
        disconnect(m_buddy, nullptr, this, nullptr);
    m_buddy = edit;
    if (!m_buddy)
        return;
    m_buddy->setText(QString::number(m_position));
    connect(m_buddy, &QLineEdit::textEdited, this, &UpDown::takeTyped);
    connect(m_buddy, &QLineEdit::editingFinished, this, &UpDown::showPosition);
}

// ---- colour swatch ----

ColorSwatch::ColorSwatch(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setColor(ColorBlack);
}

QSize ColorSwatch::sizeHint() const {
    const int h = fontMetrics().height() + 6;
    return {2 * h, h};
}

void ColorSwatch::setColor(Color color) {
    m_color = color;
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(redOf(color), greenOf(color), blueOf(color)));
    setPalette(p);
}

void ColorSwatch::mouseReleaseEvent(QMouseEvent* event) {
    QFrame::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void ColorSwatch::mouseDoubleClickEvent(QMouseEvent* event) {
    QFrame::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}

void ColorSwatch::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit clicked();
        emit doubleClicked();
        return;
    }
    QFrame::keyPressEvent(event);
}

// ---- eliding label ----

ElidingLabel::ElidingLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidingLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

QSize ElidingLabel::sizeHint() const {
    return {0, QLabel::sizeHint().height()};
}

bool ElidingLabel::elided() const {
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

void ElidingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width());
    style()->drawItemText(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), shown, foregroundRole());
}

bool ElidingLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (elided())
            QToolTip::showText(help->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

int editWidthFor(const QLineEdit* edit, const QString& sample) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth =
        edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    const QMargins text = edit->textMargins();
    const QSize content(edit->fontMetrics().horizontalAdvance(sample) + text.left() + text.right() + 4,
                        edit->fontMetrics().height());
    return edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, content, edit).width();
}

} // namespace kelvara
