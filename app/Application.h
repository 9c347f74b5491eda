// The application: its title, and the default handler that shows a handler's exception.
#pragma once

#include <QApplication>

namespace kelvara {

inline constexpr const char* ApplicationTitle = "Kelvara 5.2";

class KelvaraApplication : public QApplication {
public:
    KelvaraApplication(int& argc, char** argv);
    // Delivers an event. The last resort for an exception out of an event handler: it is shown
    // as a handler's failure is (SlotGuard.h); handlers connected to signals never get here.
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace kelvara
