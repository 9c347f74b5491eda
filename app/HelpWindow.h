// The help window: the program's help page, shown by the program itself, so that "Help" works
// whether or not the desktop has a browser set up.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace kelvara {

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* mainWindow);

    // The help page: the one beside the program (the build tree), else the one in the installed
    // documentation folder, else the copy built into the program.
    static QString helpPage();
    static QString helpPage(const QString& programFolder);
    // Shows the page, beside the main window the first time, and brings the window forward.
    void showHelp();
    QTextBrowser* browser() const { return m_browser; }

private:
    QWidget* m_mainWindow;
    QTextBrowser* m_browser = nullptr;
    bool m_placed = false;
};

} // namespace kelvara
