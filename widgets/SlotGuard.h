// Handlers connected to Qt's signals through a guard, so that no exception leaves a slot: what a
// handler throws is shown to the user and the handler's remaining steps are skipped.
#pragma once

#include <QString>

#include <exception>
#include <functional>

namespace kelvara {

// Shows the message of a handler's failure. The default is a message box with the application's
// name as its caption; tests replace it to see the message.
using FailureReporter = std::function<void(const QString& message)>;

// Replaces the reporter and gives back the one it replaces.
FailureReporter setFailureReporter(FailureReporter reporter);

// Shows a failure's message with the current reporter.
void reportFailure(const QString& message);

// The text shown for an exception: its message, and for a video that cannot be opened, a second
// line with the file's name and the reason.
QString failureText(const std::exception& e);

// Runs handler; an exception it throws is reported and goes no further.
void runGuarded(const std::function<void()>& handler);

// A slot for connect() that runs a member function through the guard:
//   connect(Button5, &QPushButton::clicked, this, guarded(this, &AviToGifTab::Button5Click));
template <typename Object, typename... Args> auto guarded(Object* object, void (Object::*handler)(Args...)) {
    return [object, handler](Args... args) { runGuarded([&] { (object->*handler)(args...); }); };
}

// The same for a callable that takes no arguments; the signal's arguments are dropped.
template <typename Function> auto guarded(Function function) {
    return [function]() { runGuarded(function); };
}

} // namespace kelvara
