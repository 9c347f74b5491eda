// Small controls the forms need: spin edit and up-down.
#include "app/Controls.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvara {

SpinEdit::SpinEdit(QWidget* parent) : QLineEdit(parent) {
    setText("0");
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

void SpinEdit::focusOutEvent(QFocusEvent* event) {
    setValue(value());
    QLineEdit::focusOutEvent(event);
}

void SpinEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        setValue(value() + (event->key() == Qt::Key_Up ? 1 : -1));
        return;
    }
    QLineEdit::keyPressEvent(event);
}

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_up = new QToolButton(this);
    m_up->setArrowType(Qt::UpArrow);
    m_down = new QToolButton(this);
    m_down->setArrowType(Qt::DownArrow);
    layout->addWidget(m_up);
    layout->addWidget(m_down);
    connect(m_up, &QToolButton::clicked, this, [this] { step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(-1); });
}

void UpDown::setPosition(int position) {
    int p = m_max >= m_min ? std::clamp(position, m_min, m_max) : m_min;
    m_position = p;
    if (m_buddy)
        m_buddy->setText(QString::number(p));
    emit positionChanged(p);
}

void UpDown::step(int delta) {
    setPosition(m_position + delta);
}

void UpDown::setBuddy(QLineEdit* edit) {
    m_buddy = edit;
    if (m_buddy)
        m_buddy->setText(QString::number(m_position));
}

} // namespace kelvara
