// The real executable driven from the keyboard alone (xdotool), and the report icon dragged with the real
// pointer into another application, on an X server of the test's own since keys and the clipboard are used.

#include "DraggableFileImageView.h"
#include "FakeMailDesktop.h"
#include "support/ProgramRuns.h"
#include "support/ReportSource.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <optional>

namespace {

// Runs a helper program on the X server to its end; its standard output, absent when it failed.
std::optional<QByteArray> runTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0)
        return std::nullopt;
    return tool.readAllStandardOutput();
}

// The ids of app's visible windows (with sync, once there is one).
QStringList visibleWindows(const QProcess& app, bool sync = false) {
    QStringList arguments{"search", "--onlyvisible", "--pid", QString::number(app.processId())};
    if (sync)
        arguments.insert(1, "--sync");
    return QString::fromLatin1(runTool("xdotool", arguments).value_or(QByteArray()))
        .split(u'\n', Qt::SkipEmptyParts);
}

// Gives the window the keyboard and types the keys (xdotool's names), one after the other.
bool pressKeys(const QString& window, const QStringList& keys) {
    return runTool("xdotool", QStringList{"windowfocus", "--sync", window, "key", "--delay", "150"} + keys)
        .has_value();
}

// Starts program with arguments on the X server, in this process's environment (the fake desktop's
// homes), and answers the id of its visible window. app's process id is program's.
QString startApplication(QProcess& app, const QString& program, const QStringList& arguments = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
        env.remove(QString::fromLatin1(name));
    env.insert(u"QT_QPA_PLATFORM"_qs, u"xcb"_qs);
    env.insert(u"KEYLOFT_REPORT_MAIL_BUTTON"_qs, u"1"_qs);
    app.setProcessEnvironment(env);
    app.start(program, arguments);
    return app.waitForStarted(20000) ? visibleWindows(app, true).value(0) : QString();
}

// Ctrl+Q ends it cleanly: sanitizer findings end the tool with a non-zero status (they never recover here).
void quitCleanly(QProcess& app, const QString& window) {
    QVERIFY(pressKeys(window, {"ctrl+q"}));
    QVERIFY(app.waitForFinished(30000));
    QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0,
             app.readAllStandardError().constData());
}

} // namespace

class TestReportGenerationX11 : public QObject {
    Q_OBJECT

    QString display_ = qEnvironmentVariable("DISPLAY"); // the fake desktops change DISPLAY

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("xdotool").isEmpty() ||
            QStandardPaths::findExecutable("unzip").isEmpty())
            QSKIP("needs xdotool and unzip");
    }

    // Started with SIGCHLD ignored, as some launchers start programs (bash passes its ignored signals on).
    // The clipboard hands over the report itself: mode 0600, still there afterwards.
    void theKeyboardAloneTakesTheReportToTheMail() {
        FakeMailDesktop desktop;
        desktop.set("DISPLAY", display_);
        QProcess app;
        const QString window = startApplication(app, QStringLiteral("/bin/bash"),
                                                {"-c", "trap '' CHLD; exec \"$0\"", KEYLOFT_APP_EXECUTABLE});
        QVERIFY2(!window.isEmpty(), "the window did not appear");

        QVERIFY(pressKeys(window, {"Return"}));
        // Until the button comes back (the tool's log lines share standard output; this one names the
        // button); after a failed run an alert shows instead, and the button line never comes.
        QByteArray mailButton;
        const auto buttonBack = [&] {
            while (app.canReadLine() && !mailButton.startsWith("mail-button "))
                mailButton = app.readLine().trimmed();
            return mailButton.startsWith("mail-button ");
        };
        QVERIFY(QTest::qWaitFor(buttonBack, 120000));
        QCOMPARE(visibleWindows(app), QStringList{window});
        QCOMPARE(mailButton.split(' ').mid(2).join(' '), QByteArray("1 Create New Mail Message..."));
        const QDir folder(desktop.root() + QStringLiteral("/data/Keyloft 4/Diagnostics"));
        const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(entries.size(), 1);
        const QString report = folder.filePath(entries.first());
        QVERIFY(runTool("unzip", {"-t", report}));

        QVERIFY(pressKeys(window, {"Return"}));
        QTRY_COMPARE_WITH_TIMEOUT(int(desktop.messages().size()), 1, 30000);
        QCOMPARE(desktop.messages().first().fields.value("attach"), report);

        QVERIFY(pressKeys(window, {"Tab", "ctrl+c"}));
        const auto copied = [] {
            const QMimeData* data = QGuiApplication::clipboard()->mimeData();
            return data != nullptr ? data->urls() : QList<QUrl>{};
        };
        QTRY_COMPARE_WITH_TIMEOUT(int(copied().size()), 1, 10000);
        const QString pasted = copied().first().toLocalFile();
        QCOMPARE(visibleWindows(app), QStringList{window}); // no alert, no sheet
        quitCleanly(app, window);

        QCOMPARE(QFileInfo(pasted).permissions() & 0x7777, QFileDevice::Permissions(0x6600)); // 0600
        QVERIFY(!readFile(report).isEmpty());
        QCOMPARE(readFile(pasted), readFile(report));
    }

    void quittingDuringTheReportStopsTheScript() {
        FakeMailDesktop desktop;
        desktop.set("DISPLAY", display_);
        // A copy of the tool in a bundle of its own, whose diagnostics script says its process id and waits.
        QTemporaryDir place;
        const QString bundle = place.filePath(QStringLiteral("Keyloft (copy): \"other\""));
        const QString executable = bundle + QStringLiteral("/Contents/bin/keyloft-troubleshooting");
        const QString pidFile = place.filePath(QStringLiteral("script.pid"));
        QVERIFY(writeFile(executable, readFile(KEYLOFT_APP_EXECUTABLE), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(writeFile(bundle + QStringLiteral("/Contents/Resources/Scripts/vantletools.rb"),
                          "File.write('" + pidFile.toUtf8() + "', Process.pid.to_s)\nsleep 120\n"));
        QProcess app;
        const QString window = startApplication(app, executable);
        QVERIFY2(!window.isEmpty(), "the window did not appear");
        QVERIFY(pressKeys(window, {"Return"}));
        QFile pid(pidFile);
        QTRY_VERIFY_WITH_TIMEOUT(pid.size() > 0, 60000);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        const pid_t scriptPid = pid.readAll().toInt();
        // Running: there, and not a zombie waiting for its parent.
        const auto running = [scriptPid] {
            const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(scriptPid));
            return !stat.isEmpty() && stat.split(')').last().trimmed().left(1) != "Z";
        };
        QVERIFY(running());

        quitCleanly(app, window);
        const bool scriptEnded = QTest::qWaitFor([&] { return !running(); }, 10000);
        if (!scriptEnded)
            ::kill(scriptPid, SIGKILL);
        QVERIFY(scriptEnded);
    }

    // The report icon dragged with the mouse into another application's window: helpers/droptarget.
    void theReportIconDropsIntoAnotherApplication() {
        QProcess target;
        target.start(QStringLiteral(KEYLOFT_HELPERS_DIR "/droptarget"), {"600", "100"});
        QTRY_VERIFY_WITH_TIMEOUT(target.canReadLine(), 20000);
        QCOMPARE(target.readLine(), QByteArray("ready\n"));

        ReportSource source;
        DraggableFileImageView view;
        view.setGeometry(100, 100, 128, 128);
        QImage icon(64, 64, QImage::Format_ARGB32_Premultiplied);
        icon.fill(qRgb(40, 120, 200));
        view.configureWithFileIcon(icon, QUrl::fromLocalFile("/nowhere/Diagnostics Report.zip"), &source);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        // What the source had answered when the drag entered the other window: nothing yet.
        int requestsAtEnter = -1;
        QByteArray lastLine;
        connect(&target, &QProcess::readyReadStandardOutput, this, [&] {
            while (target.canReadLine()) {
                lastLine = target.readLine().trimmed();
                if (lastLine == "enter" && requestsAtEnter < 0)
                    requestsAtEnter = source.requests;
            }
        });

        // The person at the mouse: press on the icon, move across to the other window, let go.
        QProcess hand;
        hand.start("xdotool",
                   QStringLiteral("mousemove 164 164 sleep 0.3 mousedown 1 sleep 0.3 mousemove 170 170 "
                                  "sleep 0.3 mousemove 400 200 sleep 0.3 mousemove 700 200 sleep 0.5 "
                                  "mousemove 710 210 sleep 0.5 mouseup 1")
                       .split(' '));
        QVERIFY(hand.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(target.state() == QProcess::NotRunning, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(hand.state() == QProcess::NotRunning, 10000);

        QCOMPARE(requestsAtEnter, 0);
        QCOMPARE(source.requests, 1);
        QCOMPARE(lastLine, "dropped " + source.file->toEncoded() + ' ' + source.bytes->toHex());
    }
};

KEYLOFT_TEST_MAIN_ON_PRIVATE_X_SERVER(TestReportGenerationX11)
#include "tst_reportgeneration_x11.moc"
