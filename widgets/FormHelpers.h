// Helpers for building forms: named controls, the small "W" and "H" size icons, and edits sized
// to the longest text they show.
#pragma once

#include <QLabel>
#include <QString>
#include <QStyle>

#include <functional>

class QHBoxLayout;
class QMimeData;
class QLineEdit;
class QToolButton;
class QWidget;

namespace kelvara {

// Gives a control its name, the one the handlers and the tests know it by.
template <typename T> T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

// A tool button showing one of the style's icons, its hint saying what it does.
QToolButton* toolButton(QWidget* parent, const char* name, const QString& hint, QStyle::StandardPixmap icon);

// A size icon: a small letter ("W", "H") whose hint says what the box beside it holds.
QLabel* sizeIcon(QWidget* parent, const QString& letter, const QString& hint);

// A width and a height in a row, each after its size icon: W [width] H [height].
QHBoxLayout* sizeRow(QWidget* parent, QWidget* width, QWidget* height);

// Runs fit now and again whenever the widget's font or style changes (a larger desktop font, a
// style sheet), so that sizes worked out from the font follow it.
void followFont(QWidget* widget, std::function<void()> fit);

// Fixes an edit's width to what the sample text needs in the edit's font.
void fitEditTo(QLineEdit* edit, const QString& sample);

// The one local file a drag carries, or an empty string (no file, several, or not local).
QString droppedLocalFile(const QMimeData* mime);

// Gives a widget the minimum width that the sample text, plus extra pixels, needs in its font.
void minimumWidthFor(QWidget* widget, const QString& sample, int extra = 0);

// Tightens a layout of a tab page or a group box to the program's margins and spacing, so that
// the tabs keep the compact size of the main window's design.
template <typename Layout> Layout* compact(Layout* layout) {
    layout->setContentsMargins(6, 4, 6, 6);
    layout->setSpacing(4);
    return layout;
}

} // namespace kelvara
