// The video named on the command line.
#include "app/StartupFile.h"

#include "app/MainForm.h"
#include "widgets/SlotGuard.h"

#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace kelvara {

StartupFile startupFile(const QStringList& positionalArguments) {
    StartupFile result;
    if (positionalArguments.size() > 1) {
        result.error = "kelvara: one video at a time; " + QString::number(positionalArguments.size()) +
                       " files were given";
        return result;
    }
    if (positionalArguments.isEmpty())
        return result;
    const QString& argument = positionalArguments.front();
    // Desktop entries may pass URLs (%u); ours passes paths (%f), but a URL is taken as well.
    if (argument.startsWith("file:")) {
        result.path = QUrl(argument).toLocalFile();
        if (result.path.isEmpty())
            result.error = "kelvara: not a local file: " + argument;
        return result;
    }
    result.path = argument;
    return result;
}

void openAtStart(TForm1& window, const QString& path) {
    if (path.isEmpty())
        return;
    QPointer<TForm1> target(&window);
    QTimer::singleShot(0, &window, [target, path] {
        if (target)
            runGuarded([&] { target->openVideo(path); });
    });
}

} // namespace kelvara
