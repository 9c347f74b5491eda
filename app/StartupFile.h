// The video named on the command line (kelvara [FILE]), as file managers pass it with "Open with".
#pragma once

#include <QString>
#include <QStringList>

namespace kelvara {

class TForm1;

// The file to open from the command line's positional arguments: none, a path, or a file: URL.
// More than one is refused with a message for the terminal.
struct StartupFile {
    QString path;  // empty when none was given
    QString error; // set when the arguments cannot be used
};
StartupFile startupFile(const QStringList& positionalArguments);

// Opens the file once the event loop runs, as "Open AVI" would open it; a failure shows its
// message as there.
void openAtStart(TForm1& window, const QString& path);

} // namespace kelvara
