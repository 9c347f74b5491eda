// The help window.
#include "app/HelpWindow.h"

#include "widgets/WindowFit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvara {

HelpWindow::HelpWindow(QWidget* mainWindow) : QWidget(mainWindow, Qt::Window), m_mainWindow(mainWindow) {
    setObjectName("HelpWindow");
    setWindowTitle("Kelvara 5.2 Help");
    m_browser = new QTextBrowser(this);
    m_browser->setObjectName("HelpBrowser");
    // Links out of the page go to the desktop's handler; the page's own links stay here.
    m_browser->setOpenExternalLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
}

#ifndef KELVARA_HELP_FROM_PROGRAM
#define KELVARA_HELP_FROM_PROGRAM "../share/doc/kelvara"
#endif

QString HelpWindow::helpPage(const QString& programFolder) {
    // Beside the program in the build tree; in the documentation folder once installed.
    const QDir folder(programFolder);
    for (const QString& page : {folder.filePath("KELVARA.html"),
                                folder.filePath(QStringLiteral(KELVARA_HELP_FROM_PROGRAM "/KELVARA.html"))})
        if (QFileInfo::exists(page))
            return QDir::cleanPath(page);
    return ":/KELVARA.html";
}

QString HelpWindow::helpPage() {
    return helpPage(QCoreApplication::applicationDirPath());
}

void HelpWindow::showHelp() {
    const QString page = helpPage();
    m_browser->setSource(page.startsWith(':') ? QUrl("qrc" + page) : QUrl::fromLocalFile(page));
    if (!m_placed) {
        const QSize fontBased(m_browser->fontMetrics().averageCharWidth() * 90,
                              m_browser->fontMetrics().height() * 36);
        resize(fontBased.boundedTo(largestClientSize(this)));
        placeBeside(this, m_mainWindow);
        m_placed = true;
    }
    show();
    raise();
    activateWindow();
}

} // namespace kelvara
