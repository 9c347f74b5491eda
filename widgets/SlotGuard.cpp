// The guard between Qt's signals and the program's handlers.
#include "widgets/SlotGuard.h"

#include "video/FrameSource.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace kelvara {

namespace {

void showMessageBox(const QString& message) {
    QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(), message);
}

FailureReporter& currentReporter() {
    static FailureReporter reporter = showMessageBox;
    return reporter;
}

} // namespace

FailureReporter setFailureReporter(FailureReporter reporter) {
    FailureReporter previous = std::move(currentReporter());
    currentReporter() = reporter ? std::move(reporter) : FailureReporter(showMessageBox);
    return previous;
}

void reportFailure(const QString& message) {
    currentReporter()(message);
}

QString failureText(const std::exception& e) {
    QString text = QString::fromUtf8(e.what());
    const auto* source = dynamic_cast<const FrameSourceError*>(&e);
    if (source && !source->reason().empty())
        text += "\n" + QFileInfo(QString::fromStdString(source->file())).fileName() + ": " +
                QString::fromStdString(source->reason());
    return text;
}

void runGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        reportFailure(failureText(e));
    } catch (...) {
        reportFailure("Unknown error");
    }
}

} // namespace kelvara
