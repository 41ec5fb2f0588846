// The command line of the built tool, with no display: --report makes a real report and prints its path;
// the exit status and the one line on standard error for a failing script, a missing interpreter (this
// program run again as the tool, with the interpreter lookup pointed at nothing) and wrong arguments;
// and Ctrl+C during a run stops the script with everything it started and leaves no file behind.

#include "CommandLine.h"
#include "DiagnosticsController.h"
#include "KeyloftVersion.h"
#include "VTScriptUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

constexpr const char* kAsTool = "--as-tool";
const QString kReportFolder = QStringLiteral(".local/share/Keyloft 4/Diagnostics");

struct Run {
    int status = -1; // the exit code, or -1 when a signal ended the process
    QByteArray out, err;
};

// A user with a fresh HOME, nothing of the caller's XDG folders, no display, English messages.
QProcessEnvironment userEnvironment(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "LANGUAGE",
                             "LC_ALL", "LC_MESSAGES", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    return env;
}

Run run(const QString& program, const QStringList& arguments, const QString& home) {
    QProcess process;
    process.setProcessEnvironment(userEnvironment(home));
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return {};
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               process.readAllStandardOutput(), process.readAllStandardError()};
}

// Everything in the report folder, hidden files included.
QStringList reportFolderEntries(const QString& home) {
    return QDir(home + QLatin1Char('/') + kReportFolder)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The fields of /proc/<pid>/stat after the command name: state, parent, ...; empty when there is none.
QList<QByteArray> processStat(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return line.isEmpty() ? QList<QByteArray>() : line.mid(line.lastIndexOf(')') + 2).split(' ');
}

// Alive and not merely a zombie waiting to be collected.
bool processRuns(pid_t pid) {
    return !processStat(pid).isEmpty() && processStat(pid).first() != "Z";
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir bundles_;

private slots:
    void reportWithoutADisplayPrintsItsPath() {
        QTemporaryDir home;
        const Run result = run(QStringLiteral(KEYLOFT_APP_EXECUTABLE), {"--report"}, home.path());
        QVERIFY2(result.status == 0 && result.err.isEmpty(), result.err.constData());
        const QStringList entries = reportFolderEntries(home.path());
        QCOMPARE(entries.size(), 1);
        const QString report = home.filePath(kReportFolder + QLatin1Char('/') + entries.first());
        QCOMPARE(result.out, QFile::encodeName(report) + '\n');
        QCOMPARE(QProcess::execute(QStringLiteral("unzip"), {"-tq", report}), 0);
    }

    void failuresAndArguments_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        const QString tool = QStringLiteral(KEYLOFT_APP_EXECUTABLE);
        // A copy of the tool whose script fails, as the window's alert test has it.
        const QString bundle = bundles_.filePath(QStringLiteral("failing"));
        const QString copy = bundle + QStringLiteral("/Contents/bin/keyloft-troubleshooting");
        QDir().mkpath(QFileInfo(copy).path());
        QDir().mkpath(bundle + QStringLiteral("/Contents/Resources/Scripts"));
        QFile::copy(tool, copy);
        QFile script(bundle + QStringLiteral("/Contents/Resources/Scripts/vantletools.rb"));
        if (script.open(QIODevice::WriteOnly))
            script.write("$stderr.puts('The report folder is full (100%).', '  Free some space.')\nexit 2\n");

        QTest::newRow("failing script")
            << copy << QStringList{"--report"} << 1 << QByteArray()
            << QByteArray("Diagnostic script failed. The report folder is full (100%). Free some space.\n");
        QTest::newRow("no interpreter")
            << QCoreApplication::applicationFilePath() << QStringList{kAsTool, "--report"} << 127
            << QByteArray() << QByteArray("Diagnostic script failed. A Ruby interpreter is required…");
        QTest::newRow("unknown option") << tool << QStringList{"--bogus"} << 2 << QByteArray()
                                        << QByteArray("Unknown option 'bogus'.\n\nUsage: …");
        QTest::newRow("an argument") << tool << QStringList{"report.zip"} << 2 << QByteArray()
                                     << QByteArray("Unexpected argument: report.zip\n\nUsage: …");
        QTest::newRow("help, also after a window option") << tool << QStringList{"-style", "Fusion", "--help"}
                                                          << 0 << QByteArray("Usage: …") << QByteArray();
        QTest::newRow("version") << tool << QStringList{"-v"} << 0
                                 << QByteArray("keyloft-troubleshooting " KEYLOFT_BUILD_VERSION "\n")
                                 << QByteArray();
    }
    // Standard output and error are compared whole, or from their start when the expected text ends in
    // "…" (the rest follows).
    void failuresAndArguments() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QTemporaryDir home;
        const Run result = run(program, arguments, home.path());
        QTEST(result.status, "status");
        for (const auto& [actual, expected] : {std::pair{result.out, out}, std::pair{result.err, err}}) {
            const QByteArray start = expected.chopped(expected.endsWith("…") ? 3 : 0);
            QVERIFY2(expected.endsWith("…") ? actual.startsWith(start) : actual == expected,
                     actual.constData());
        }
        QCOMPARE(reportFolderEntries(home.path()), QStringList());
    }

    // A terminal's Ctrl+C reaches the tool's process group while the script waits for a slow system
    // program (a stand-in for df that notes its pid): the tool ends by SIGINT, the program is gone, and
    // the report folder holds nothing, not even a hidden temporary file.
    void ctrlCStopsTheScriptAndLeavesNothing() {
        QTemporaryDir home;
        const QString bin = home.filePath(QStringLiteral("bin"));
        const QString pidFile = home.filePath(QStringLiteral("df.pid"));
        QVERIFY(QDir().mkpath(bin));
        QFile df(bin + QStringLiteral("/df"));
        QVERIFY(df.open(QIODevice::WriteOnly) &&
                df.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        df.write("#!/bin/sh\necho $$ > '" + QFile::encodeName(pidFile) + "'\nexec sleep 60\n");
        df.close();

        QProcess tool;
        QProcessEnvironment env = userEnvironment(home.path());
        env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        tool.setProcessEnvironment(env);
        tool.setChildProcessModifier([] { ::setpgid(0, 0); }); // a terminal's foreground group of its own
        tool.start(QStringLiteral(KEYLOFT_APP_EXECUTABLE), {"--report"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pidFile).size() > 0, 60000);
        QFile pidText(pidFile);
        const pid_t slow = pidText.open(QIODevice::ReadOnly) ? pidText.readAll().trimmed().toInt() : 0;
        const pid_t script = processStat(slow).value(1).toInt();
        QVERIFY(slow > 0 && processRuns(slow) && script > 0 && processRuns(script));

        // All of it ends sooner than the script's own five-second limit for a program would end it.
        QCOMPARE(::kill(-static_cast<pid_t>(tool.processId()), SIGINT), 0);
        QVERIFY(tool.waitForFinished(4000));
        QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
        QCOMPARE(tool.readAllStandardOutput(), QByteArray());
        QTRY_VERIFY_WITH_TIMEOUT(!processRuns(slow) && !processRuns(script), 1000);
        QCOMPARE(reportFolderEntries(home.path()), QStringList());
    }
};

int main(int argc, char* argv[]) {
    // The tool's command line in this program, where the interpreter lookup can be pointed at nothing.
    if (argc > 1 && qstrcmp(argv[1], kAsTool) == 0) {
        setRubyFixedLocationsForTesting({QStringLiteral("/nonexistent/bin/ruby")});
        DiagnosticsController::setBundlePathForTesting(QStringLiteral(KEYLOFT_BUNDLE_DIR));
        qputenv("PATH", "/nonexistent/bin");
        argv[1] = argv[0];
        return vt_runCommandLine(--argc, ++argv).value_or(3);
    }
    QCoreApplication app(argc, argv);
    TestCommandLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commandline.moc"
