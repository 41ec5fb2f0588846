#include "CommandLine.h"

#include "DiagnosticsController.h"
#include "KeyloftVersion.h"
#include "Platform/Localization.h"
#include "VTScriptUtils.h"
#include "VantleFormat.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdio>

namespace {

const char* const kDescription = QT_TRANSLATE_NOOP(
    "Localizable", "Makes a diagnostics report for Keyloft support. Without options, opens the window.");
const char* const kReportDescription =
    QT_TRANSLATE_NOOP("Localizable", "Make a report without a window and print its path.");
const char* const kHelpDescription = QT_TRANSLATE_NOOP("Localizable", "Show this help and exit.");
const char* const kVersionDescription = QT_TRANSLATE_NOOP("Localizable", "Show the version and exit.");
const char* const kUnexpectedArgument = QT_TRANSLATE_NOOP("Localizable", "Unexpected argument: %@");

constexpr const char* kProgramName = "keyloft-troubleshooting";
constexpr const char* kReportOption = "report";

// Qt's own options for the window (QGuiApplication, QApplication and the X11 platform), which QApplication
// reads and removes: they still open the window, as they always did.
constexpr const char* kWindowOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin",       "qmljsdebugger", "qwindowgeometry",
    "geometry", "qwindowicon",        "icon",          "qwindowtitle", "title",         "session",
    "style",    "stylesheet",         "display",       "name"};
constexpr const char* kWindowFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

// The signal that asked a report run to stop; 0 while none did.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signalNumber) {
    stopSignal = signalNumber;
    vt_stopRunningScripts();
}

// Qt's own single-dash words ("-platform xcb") read as long options, like QApplication reads them.
void addOptions(QCommandLineParser& parser, bool describe) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (describe)
        parser.setApplicationDescription(vt_localized(kDescription));
    const auto text = [describe](const char* english) {
        return describe ? vt_localized(english) : QString();
    };
    parser.addOption(
        QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, text(kHelpDescription)));
    parser.addOption(
        QCommandLineOption({QStringLiteral("v"), QStringLiteral("version")}, text(kVersionDescription)));
    parser.addOption(QCommandLineOption(QLatin1String(kReportOption), text(kReportDescription)));
    for (const char* name : kWindowOptionsWithValue) {
        QCommandLineOption option(QLatin1String(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kWindowFlags) {
        QCommandLineOption option{QLatin1String(name)};
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

// True when the arguments open the window: nothing of the command line's own, nothing unknown.
[[nodiscard]] bool opensWindow(const QStringList& arguments) {
    QCommandLineParser parser;
    addOptions(parser, false);
    return parser.parse(arguments) && parser.positionalArguments().isEmpty() &&
           !parser.isSet(QStringLiteral("help")) && !parser.isSet(QStringLiteral("version")) &&
           !parser.isSet(QLatin1String(kReportOption));
}

void printLine(std::FILE* stream, const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// The alert's title and message on one line: line breaks become spaces, and control characters (which
// could steer a terminal) are left out.
[[nodiscard]] QString oneLine(const QString& title, const QString& message) {
    QString text = title + QLatin1Char(' ') + message;
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return text.simplified();
}

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
}

// Ends the process by the signal that stopped it, so that a calling shell sees the interruption.
[[noreturn]] void endBy(int signalNumber) {
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
    std::_Exit(128 + signalNumber);
}

int makeReport() {
    catchStopSignals();
    const DiagnosticsController::ReportOutcome outcome = DiagnosticsController::makeReport(QByteArray());
    if (const int signalNumber = stopSignal) {
        // Finished just before the stop: nobody was told its path, so it is not left behind either.
        if (outcome.reportPath)
            QFile::remove(*outcome.reportPath);
        endBy(signalNumber);
    }
    if (outcome.reportPath) {
        printLine(stdout, QFile::encodeName(*outcome.reportPath));
        return 0;
    }
    printLine(stderr, oneLine(DiagnosticsController::reportFailureTitle(), outcome.failure).toLocal8Bit());
    return outcome.interpreterMissing ? 127 : 1;
}

int runCommand() {
    QCommandLineParser parser;
    addOptions(parser, true);
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parsed && parser.isSet(QStringLiteral("help"))) {
        printLine(stdout, parser.helpText().trimmed().toLocal8Bit());
        return 0;
    }
    if (parsed && parser.isSet(QStringLiteral("version"))) {
        printLine(stdout, vt_format("%s %s", kProgramName, KEYLOFT_BUILD_VERSION).toLocal8Bit());
        return 0;
    }
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString problem =
            parsed ? vt_format(vt_localized(kUnexpectedArgument), parser.positionalArguments().constFirst())
                   : parser.errorText();
        printLine(stderr, (problem + QStringLiteral("\n\n") + parser.helpText().trimmed()).toLocal8Bit());
        return 2;
    }
    return makeReport();
}

} // namespace

std::optional<int> vt_runCommandLine(int& argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (opensWindow(arguments))
        return std::nullopt;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kProgramName));
    QCoreApplication::setApplicationVersion(QStringLiteral(KEYLOFT_BUILD_VERSION));
    vt_installTranslations(app);
    return runCommand();
}
