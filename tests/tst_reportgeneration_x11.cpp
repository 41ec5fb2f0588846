// The report run of the real executable under a real X server: xdotool presses the action button.
// Runs when the test environment names a private X server (KEYLOFT_TEST_DISPLAY); skipped otherwise.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

class TestReportGenerationX11 : public QObject {
    Q_OBJECT

    // Runs a helper program on the X server to its end; its standard output, absent when it failed.
    static std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments) {
        QProcess tool;
        tool.start(program, arguments);
        if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
            return std::nullopt;
        return tool.readAllStandardOutput();
    }

    // The ids of app's visible windows (with sync, once there is one).
    static QStringList visibleWindows(const QProcess& app, bool sync = false) {
        QStringList arguments{"search", "--onlyvisible", "--pid", QString::number(app.processId())};
        if (sync)
            arguments.insert(1, "--sync");
        return QString::fromLatin1(runTool("xdotool", arguments).value_or(QByteArray()))
            .split(u'\n', Qt::SkipEmptyParts);
    }

    // Starts executable with a fresh HOME on the private X server and answers its visible window's id.
    static QString startApplication(QProcess& app, const QString& executable, const QTemporaryDir& home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR",
                                 "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("KEYLOFT_REPORT_MAIL_BUTTON"), QStringLiteral("1"));
        app.setProcessEnvironment(env);
        app.start(executable, {});
        if (!app.waitForStarted(20000))
            return {};
        return visibleWindows(app, true).value(0);
    }

    // Clicks the action button in the window's bottom-right corner, inside the layout's margins (20
    // pixels on the right, 16 below).
    static bool pressActionButton(const QString& window) {
        const QByteArray geometry =
            runTool("xdotool", {"getwindowgeometry", "--shell", window}).value_or(QByteArray());
        const auto value = [&](const QByteArray& key) {
            return geometry.mid(geometry.indexOf(key + '=') + key.size() + 1).split('\n').value(0).toInt();
        };
        const int width = value("WIDTH");
        const int height = value("HEIGHT");
        if (width < 100 || height < 100) {
            qWarning("unexpected window geometry for %s: %s", qPrintable(window), geometry.constData());
            return false;
        }
        return runTool("xdotool", {"mousemove", "--window", window, QString::number(width - 32),
                                   QString::number(height - 26), "click", "1"})
            .has_value();
    }

private slots:
    void initTestCase() {
        const QByteArray display = qgetenv("KEYLOFT_TEST_DISPLAY");
        if (display.isEmpty())
            QSKIP("needs the private X server of the test run (KEYLOFT_TEST_DISPLAY)");
        qputenv("DISPLAY", display); // for xdotool and the tool alike
        if (QStandardPaths::findExecutable("xdotool").isEmpty() ||
            QStandardPaths::findExecutable("unzip").isEmpty())
            QSKIP("needs xdotool and unzip");
    }

    // A click on the button: the built tool leaves a valid report and the mail button; a copy whose
    // script fails shows the alert, and confirming it ends the application cleanly.
    void aClickEndsInAReportOrTheAlert_data() {
        QTest::addColumn<bool>("failing");
        QTest::newRow("report") << false;
        QTest::newRow("failing script") << true;
    }
    void aClickEndsInAReportOrTheAlert() {
        QFETCH(bool, failing);
        QTemporaryDir home;
        QTemporaryDir place;
        QString executable = QStringLiteral(KEYLOFT_APP_EXECUTABLE);
        if (failing) {
            const QString bundle = place.filePath(QStringLiteral("Keyloft (copy): \"failing\""));
            executable = bundle + QStringLiteral("/Contents/bin/keyloft-troubleshooting");
            const QString script = bundle + QStringLiteral("/Contents/Resources/Scripts/vantletools.rb");
            QVERIFY(QDir().mkpath(QFileInfo(executable).path()) && QDir().mkpath(QFileInfo(script).path()));
            QVERIFY(QFile::copy(QStringLiteral(KEYLOFT_APP_EXECUTABLE), executable));
            QFile file(script);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("$stderr.puts('The report folder is full (100%).')\nexit 2\n");
        }
        QProcess app;
        const QString window = startApplication(app, executable, home);
        QVERIFY2(!window.isEmpty(), "the window did not appear");
        QVERIFY(pressActionButton(window));

        if (failing) {
            // The alert is the tool's second visible window; the person at the keyboard confirms it.
            QString alert;
            const auto findAlert = [&] {
                QStringList ids = visibleWindows(app);
                ids.removeAll(window);
                alert = ids.value(0);
                return !alert.isEmpty();
            };
            QTRY_VERIFY_WITH_TIMEOUT(findAlert(), 60000);
            QVERIFY(app.state() == QProcess::Running);
            QVERIFY(runTool("xdotool", {"windowfocus", "--sync", alert, "key", "Return"}));
            QVERIFY(app.waitForFinished(30000));
            QVERIFY(!app.readAllStandardOutput().contains("mail-button "));
        } else {
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
            const QStringList entries =
                QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
            QCOMPARE(entries.size(), 1);
            QVERIFY(runTool("unzip", {"-t", folder + QLatin1Char('/') + entries.first()}));
            app.terminate();
            QVERIFY(app.waitForFinished(30000));
        }
        // Sanitizer findings end the tool with a non-zero status (they never recover here).
        QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0,
                 app.readAllStandardError().constData());
    }
};

QTEST_GUILESS_MAIN(TestReportGenerationX11)
#include "tst_reportgeneration_x11.moc"
