// The application and its default exception handler.
#include "app/Application.h"

#include <QMessageBox>

#include <exception>

namespace kelvara {

KelvaraApplication::KelvaraApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(ApplicationTitle);
    setApplicationDisplayName(ApplicationTitle);
}

void showException(const std::exception& e) {
    QMessageBox::critical(QApplication::activeWindow(), ApplicationTitle, QString::fromUtf8(e.what()));
}

bool KelvaraApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showException(e);
    } catch (...) {
        QMessageBox::critical(QApplication::activeWindow(), ApplicationTitle, "Unknown error");
    }
    return false;
}

} // namespace kelvara
