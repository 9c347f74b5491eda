// The application and its last-resort exception handler.
#include "app/Application.h"

#include "widgets/SlotGuard.h"

namespace kelvara {

KelvaraApplication::KelvaraApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The title message boxes take as their caption. It is not set as the display name, which
    // the desktop would append to every window's caption.
    setApplicationName(ApplicationTitle);
}

bool KelvaraApplication::notify(QObject* receiver, QEvent* event) {
    // The handlers are connected through a guard that stops their exceptions; this catches what
    // would still come out of an event handler.
    bool delivered = false;
    runGuarded([&] { delivered = QApplication::notify(receiver, event); });
    return delivered;
}

} // namespace kelvara
