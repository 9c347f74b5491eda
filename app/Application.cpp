// The application and its default exception handler.
#include "app/Application.h"

#include "video/FrameSource.h"

#include <QFileInfo>
#include <QMessageBox>

#include <exception>

namespace kelvara {

KelvaraApplication::KelvaraApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(ApplicationTitle);
    setApplicationDisplayName(ApplicationTitle);
}

QString exceptionText(const std::exception& e) {
    QString text = QString::fromUtf8(e.what());
    // A video the frame source cannot open: its name and the reason, under the message.
    const auto* source = dynamic_cast<const FrameSourceError*>(&e);
    if (source && !source->reason().empty())
        text += "\n" + QFileInfo(QString::fromStdString(source->file())).fileName() + ": " +
                QString::fromStdString(source->reason());
    return text;
}

void showException(const std::exception& e) {
    QMessageBox::critical(QApplication::activeWindow(), ApplicationTitle, exceptionText(e));
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
