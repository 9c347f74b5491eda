// Small controls the forms need: a spin edit whose value is its text, and an up-down.
#pragma once

#include <QLineEdit>
#include <QWidget>

class QToolButton;

namespace kelvara {

// A spin edit: the value is the text read as an integer and clamped to the range (a range whose
// ends are equal does not clamp); a text that is no integer reads as the minimum. Setting the value that the
// edit already shows changes no text and so raises no change event (textChanged). A typed value is brought
// into range when the focus leaves.
class SpinEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit SpinEdit(QWidget* parent = nullptr);

    int value() const;
    void setValue(int value);
    int minValue() const { return m_min; }
    int maxValue() const { return m_max; }
    // Sets the range; the text is left as it is.
    void setRange(int minimum, int maximum);

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int clamp(int v) const;
    int m_min = 0;
    int m_max = 0;
};

// An up-down: a position between a minimum and a maximum, stepped by two arrow buttons. A
// maximum below the minimum is kept as it is: then the position stays at the minimum.
class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);
    int position() const { return m_position; }
    void setPosition(int position);
    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    void setMinimum(int minimum) { m_min = minimum; }
    void setMaximum(int maximum) { m_max = maximum; }
    // The edit that shows the position.
    void setBuddy(QLineEdit* edit);

signals:
    void positionChanged(int position);

private:
    void step(int delta);
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
    QLineEdit* m_buddy = nullptr;
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
};

} // namespace kelvara
