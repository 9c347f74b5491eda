// The guard between Qt's signals and the program's handlers.
#include "widgets/SlotGuard.h"

#include <QApplication>
#include <QMessageBox>

#include <exception>

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

void runGuarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        reportFailure(QString::fromUtf8(e.what()));
    } catch (...) {
        reportFailure("Unknown error");
    }
}

} // namespace kelvara
