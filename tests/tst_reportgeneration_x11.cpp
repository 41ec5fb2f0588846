// The report run of the real executable under a real X server: xdotool presses the action button.
// Runs when the test environment names a private X server (KEYLOFT_TEST_DISPLAY); skipped otherwise.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

namespace {

// Runs a short helper program on the X server to its end and answers its standard output; absent when
// it failed.
std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments,
                                  const QByteArray& display) {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(display));
    tool.setProcessEnvironment(env);
    tool.start(program, arguments);
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

} // namespace

class TestReportGenerationX11 : public QObject {
    Q_OBJECT

    QByteArray display_;

    // Starts executable with a fresh HOME on the private X server and answers its visible window's id.
    QByteArray startApplication(QProcess& app, const QString& executable, const QTemporaryDir& home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR",
                                 "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(display_));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("KEYLOFT_REPORT_MAIL_BUTTON"), QStringLiteral("1"));
        app.setProcessEnvironment(env);
        app.start(executable, {});
        if (!app.waitForStarted(20000))
            return {};
        const std::optional<QByteArray> found = runTool(
            QStringLiteral("xdotool"),
            {"search", "--sync", "--onlyvisible", "--pid", QString::number(app.processId())}, display_);
        return found.value_or(QByteArray()).split('\n').value(0).trimmed();
    }

    // Clicks the action button: it sits in the window's bottom-right corner, inside the layout's margins
    // (20 pixels on the right, 16 below).
    bool pressActionButton(const QByteArray& window) {
        const QByteArray geometry =
            runTool(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", QString::fromLatin1(window)},
                    display_)
                .value_or(QByteArray());
        int width = 0;
        int height = 0;
        for (const QByteArray& line : geometry.split('\n')) {
            if (line.startsWith("WIDTH="))
                width = line.mid(6).toInt();
            if (line.startsWith("HEIGHT="))
                height = line.mid(7).toInt();
        }
        if (width < 100 || height < 100) {
            qWarning("unexpected window geometry for %s: %s", window.constData(), geometry.constData());
            return false;
        }
        return runTool(QStringLiteral("xdotool"),
                       {"mousemove", "--window", QString::fromLatin1(window),
                        QString::number(width - 20 - 12), QString::number(height - 16 - 10), "click", "1"},
                       display_)
            .has_value();
    }

    // A visible window of app other than window, or empty.
    QByteArray otherVisibleWindow(const QProcess& app, const QByteArray& window) {
        const QByteArray found =
            runTool(QStringLiteral("xdotool"),
                    {"search", "--onlyvisible", "--pid", QString::number(app.processId())}, display_)
                .value_or(QByteArray());
        for (const QByteArray& line : found.split('\n')) {
            const QByteArray id = line.trimmed();
            if (!id.isEmpty() && id != window)
                return id;
        }
        return {};
    }

    // Ends the application the way the desktop does and checks it went cleanly.
    static void endApplication(QProcess& app) {
        app.terminate();
        QVERIFY(app.waitForFinished(30000));
        const QByteArray errors = app.readAllStandardError();
        QVERIFY2(!errors.contains("ERROR: AddressSanitizer") && !errors.contains("runtime error"),
                 errors.constData());
        QCOMPARE(app.exitCode(), 0);
    }

private slots:
    void initTestCase() {
        display_ = qgetenv("KEYLOFT_TEST_DISPLAY");
        if (display_.isEmpty())
            QSKIP("needs the private X server of the test run (KEYLOFT_TEST_DISPLAY)");
        if (QStandardPaths::findExecutable("xdotool").isEmpty() ||
            QStandardPaths::findExecutable("unzip").isEmpty())
            QSKIP("needs xdotool and unzip");
    }

    void aClickLeavesAValidReportAndTheMailButton() {
        QTemporaryDir home;
        QProcess app;
        const QByteArray window = startApplication(app, QStringLiteral(KEYLOFT_APP_EXECUTABLE), home);
        QVERIFY2(!window.isEmpty(), "the window did not appear");
        QVERIFY(pressActionButton(window));

        // The tool's own log lines share standard output; the line that matters names the button.
        QByteArray mailButton;
        const auto readMailButton = [&] {
            while (app.canReadLine()) {
                const QByteArray line = app.readLine().trimmed();
                if (line.startsWith("mail-button "))
                    mailButton = line;
            }
            return !mailButton.isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(readMailButton(), 120000);
        QCOMPARE(mailButton.split(' ').mid(2).join(' '), QByteArray("1 Create New Mail Message..."));

        const QString folder = home.filePath(QStringLiteral(".local/share/Keyloft 4/Diagnostics"));
        const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(entries.size(), 1);
        QVERIFY(entries.first().endsWith(QLatin1String(".zip")));
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"),
                    {QStringLiteral("-t"), folder + QLatin1Char('/') + entries.first()});
        QVERIFY(unzip.waitForFinished(30000));
        QVERIFY2(unzip.exitCode() == 0, unzip.readAll().constData());
        endApplication(app);
    }

    // A copy of the tool whose script fails: the alert shows, and dismissing it ends the application.
    void aFailedRunEndsTheApplicationAfterTheAlert() {
        QTemporaryDir home;
        QTemporaryDir place;
        const QString bundle = place.filePath(QStringLiteral("Keyloft (copy): \"failing\""));
        const QString executable = bundle + QStringLiteral("/Contents/bin/keyloft-troubleshooting");
        const QString script = bundle + QStringLiteral("/Contents/Resources/Scripts/vantletools.rb");
        QVERIFY(QDir().mkpath(QFileInfo(executable).path()) && QDir().mkpath(QFileInfo(script).path()));
        QVERIFY(QFile::copy(QStringLiteral(KEYLOFT_APP_EXECUTABLE), executable));
        QFile failing(script);
        QVERIFY(failing.open(QIODevice::WriteOnly));
        failing.write("$stderr.puts('The report folder is full (100%).')\nexit 2\n");
        failing.close();

        QProcess app;
        const QByteArray window = startApplication(app, executable, home);
        QVERIFY2(!window.isEmpty(), "the window did not appear");
        QVERIFY(pressActionButton(window));

        // The alert is the tool's second visible window; the person at the keyboard confirms it.
        QByteArray alert;
        QTRY_VERIFY_WITH_TIMEOUT(!(alert = otherVisibleWindow(app, window)).isEmpty(), 60000);
        QVERIFY(app.state() == QProcess::Running);
        QVERIFY(runTool(QStringLiteral("xdotool"),
                        {"windowfocus", "--sync", QString::fromLatin1(alert), "key", "Return"}, display_)
                    .has_value());
        QVERIFY(app.waitForFinished(30000));
        const QByteArray errors = app.readAllStandardError();
        QVERIFY2(!errors.contains("ERROR: AddressSanitizer") && !errors.contains("runtime error"),
                 errors.constData());
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(!app.readAllStandardOutput().contains("mail-button "));
    }
};

QTEST_GUILESS_MAIN(TestReportGenerationX11)
#include "tst_reportgeneration_x11.moc"
