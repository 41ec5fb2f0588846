// keyloft-askpass: the password program sudo runs for the repairs (SUDO_ASKPASS).
// argv[1] is the prompt text to show. Prints the password and a line feed and exits 0, or exits 1 when
// the person cancels.

#include "AskpassDialog.h"
#include "Platform/Localization.h"

#include <QApplication>

#include <unistd.h>

int main(int argc, char* argv[]) {
    // Taken before Qt sees the arguments: a prompt that looks like a Qt option must still be shown.
    const QString prompt = argc > 1 ? QString::fromUtf8(argv[1]) : QString();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("Keyloft Troubleshooting"));
    // The prompt arrives in the person's language already; the title and the buttons follow it here.
    vt_installTranslations(app);
    return runAskpass(prompt, STDOUT_FILENO);
}
