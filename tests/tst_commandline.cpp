// The command line of the built tool, run with no display as a fresh user: its failures, its arguments and
// Ctrl+C. That --report prints the path of the report it made the installed program's test proves.

#include "CommandLine.h"
#include "DiagnosticsController.h"
#include "KeyloftVersion.h"
#include "VTScriptUtils.h"
#include "support/ProgramRuns.h"

#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

constexpr const char* kAsTool = "--as-tool";
const QString kReportFolder = QStringLiteral(".local/share/Keyloft 4/Diagnostics");

QStringList reportFolderEntries(const QString& home) {
    return QDir(home + QLatin1Char('/') + kReportFolder)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The fields of /proc/<pid>/stat after the command name: state, parent, ...; empty when there is none.
QList<QByteArray> processStat(pid_t pid) {
    const QByteArray line = readFile(QStringLiteral("/proc/%1/stat").arg(pid), {});
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
        writeFile(copy, readFile(tool), QFile::ReadOwner | QFile::ExeOwner);
        writeFile(bundle + QStringLiteral("/Contents/Resources/Scripts/vantletools.rb"),
                  "$stderr.puts('The report folder is full (100%).\x1b[2J', '  Free some space.')\nexit 2\n");

        QTest::newRow("failing script, on one line that cannot clear the terminal")
            << copy << QStringList{"--report"} << 1 << QByteArray()
            << QByteArray(
                   "Diagnostic script failed. The report folder is full (100%). [2J Free some space.\n");
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
    // An expected text ending in "…" is compared with the start of the output only.
    void failuresAndArguments() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QTemporaryDir home;
        const Run result = run(program, arguments, freshUserEnvironment(home.path()));
        QTEST(result.status, "status");
        for (const auto& [actual, expected] : {std::pair{result.out, out}, std::pair{result.err, err}}) {
            const QByteArray start = expected.chopped(expected.endsWith("…") ? 3 : 0);
            QVERIFY2(expected.endsWith("…") ? actual.startsWith(start) : actual == expected,
                     actual.constData());
        }
        QCOMPARE(reportFolderEntries(home.path()), QStringList());
    }

    // A terminal's Ctrl+C while the script waits for a slow system program (a df that notes its pid).
    void ctrlCStopsTheScriptAndLeavesNothing() {
        QTemporaryDir home;
        const QString bin = home.filePath(QStringLiteral("bin"));
        const QString pidFile = home.filePath(QStringLiteral("df.pid"));
        QVERIFY(writeFile(bin + QStringLiteral("/df"),
                          "#!/bin/sh\necho $$ > '" + QFile::encodeName(pidFile) + "'\nexec sleep 60\n",
                          QFile::ReadOwner | QFile::ExeOwner));

        QProcess tool;
        QProcessEnvironment env = freshUserEnvironment(home.path());
        env.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        tool.setProcessEnvironment(env);
        tool.setChildProcessModifier([] { ::setpgid(0, 0); }); // a terminal's foreground group of its own
        tool.start(QStringLiteral(KEYLOFT_APP_EXECUTABLE), {"--report"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pidFile).size() > 0, 60000);
        const pid_t slow = readFile(pidFile).trimmed().toInt();
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
