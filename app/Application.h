// The application: its title, and the default handler that shows a handler's exception.
#pragma once

#include <QApplication>

namespace kelvara {

inline constexpr const char* ApplicationTitle = "Kelvara 5.2";

class KelvaraApplication : public QApplication {
public:
    KelvaraApplication(int& argc, char** argv);
    // Delivers an event; an exception out of a handler is shown in a message box with the
    // application title and the exception's message, and the handler's remaining steps are skipped.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The text the default handler shows for an exception: its message, and for a video that cannot
// be opened, a second line with the file's name and the reason.
QString exceptionText(const std::exception& e);

// Shows an exception's message as the default handler does.
void showException(const std::exception& e);

} // namespace kelvara
