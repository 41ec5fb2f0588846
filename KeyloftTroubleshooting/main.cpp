#include "DRLogger.h"
#include "Platform/Localization.h"

#include <QApplication>
#include <QLabel>

#include <csignal>

int main(int argc, char* argv[]) {
    // A child that stops reading its input must not end the tool.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Keyloft Troubleshooting"));
    vt_installTranslations(app);

    QLabel window(QStringLiteral("Keyloft Troubleshooting"));
    window.setWindowTitle(QStringLiteral("Keyloft Troubleshooting"));
    window.setMargin(40);
    window.show();
    return QApplication::exec();
}
