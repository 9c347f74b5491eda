// Small controls the forms share: a spin edit whose value is its text, an up-down, a colour
// swatch and a label that elides what does not fit.
#pragma once

#include "raster/Bitmap.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

class QToolButton;

namespace kelvara {

// A spin edit: the value is the text read as an integer and clamped to the range (a range whose
// ends are equal does not clamp); a text that is no integer reads as the minimum. Setting the
// value that the edit already shows changes no text and so raises no change event.
//
// Two signals tell the program's handlers what changed. valueChanged comes with every change of
// the text that the user is not typing: a value set by the program, an arrow-key step. While the
// user types, nothing is reported until the typing is finished (Enter, or the focus leaves); then
// the typed value is brought into range and valueTyped comes once.
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
    // Whether the user has typed into the edit since the last value was committed.
    bool typing() const { return m_typing; }

signals:
    void valueChanged();
    void valueTyped();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int clamp(int v) const;
    void commitTyping();
    int m_min = 0;
    int m_max = 0;
    bool m_typing = false;
};

// An up-down: a position between a minimum and a maximum, stepped by two arrow buttons or typed
// into its buddy edit. A maximum below the minimum is kept as it is: then the position stays at
// the minimum. A number typed into the edit is the position at once (clamped to the range), so
// that a handler reading the position sees what the edit shows; a text that is no number leaves
// the position as it was. When the typing is finished the edit shows the position again.
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

private:
    int clamp(int position) const;
    void step(int delta);
    void takeTyped();
    void showPosition();
    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
    QLineEdit* m_buddy = nullptr;
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
};

// A colour swatch: a sunken panel of one colour. A click reports clicked, a double click
// doubleClicked; Space or Enter while it has the focus (a caption label's mnemonic gives it the
// focus) reports both, as a keyboard has no double click.
class ColorSwatch : public QFrame {
    Q_OBJECT
public:
    explicit ColorSwatch(QWidget* parent = nullptr);
    Color color() const { return m_color; }
    void setColor(Color color);
    QSize sizeHint() const override;

signals:
    void clicked();
    void doubleClicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Color m_color = ColorBlack;
};

// A label of one line that never widens its window: text that does not fit is drawn elided in
// the middle, and then its tool tip shows the whole text. text() stays the whole text.
class ElidingLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidingLabel(QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    // Whether the text is drawn shortened.
    bool elided() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
};

// A font's width of text, for sizing an edit to the longest text it shows: the advance of sample
// plus the edit's frame and margins.
int editWidthFor(const QLineEdit* edit, const QString& sample);

} // namespace kelvara
