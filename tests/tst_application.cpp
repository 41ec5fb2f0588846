#include "FakeMailDesktop.h"
#include "MainInterface.h"
#include "Platform/Bundle.h"
#include "ProgressIndicator.h"
#include "support/ProgramRuns.h"
#include "ui_MainWindow.h"

#include <QMessageBox>
#include <QTest>

#include <csignal>

class TestApplication : public QObject {
    Q_OBJECT

private slots:
    void bundlePathForExecutableDir() {
        QCOMPARE(vt_bundlePathForExecutableDir(u"/usr/lib/keyloft-troubleshooting/Contents/bin/"_qs),
                 u"/usr/lib/keyloft-troubleshooting"_qs);
        QCOMPARE(vt_bundlePathForExecutableDir(u"/opt/x/bin"_qs), u"/opt/x/bin"_qs);
        QCOMPARE(vt_bundlePathForExecutableDir(QString()), u"/"_qs);
    }

    void theInterfaceIsConnected() {
        MainInterface interface;
        Ui::MainWindow& ui = interface.ui();
        // The delegate closes this window when the desktop ends the session.
        QCOMPARE(interface.delegate().window(), &interface.window());
        // Only an existing connection can be disconnected. The button needs no check here: every report
        // made through the window presses it.
        for (const auto& [action, operation] :
             {std::pair{ui.actionResetFolderPermissions, &DiagnosticsController::resetFolderPermissions},
              {ui.actionRepairExtendedAttributes, &DiagnosticsController::repairExtendedAttributes},
              {ui.actionResetLaunchServicesDb, &DiagnosticsController::resetLaunchServicesDb}})
            QVERIFY(QObject::disconnect(action, &QAction::triggered, &interface.controller(), operation));
    }

    void clickingTheReportIconOpensTheReportFolder_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::addColumn<bool>("fileManager");
        QTest::newRow("a file manager opens it") << true << true;
        QTest::newRow("no file manager: the sheet names the folder") << true << false;
        QTest::newRow("no report folder yet") << false << true;
    }
    // Real xdg-open; the fake mail client stands in for the file manager the desktop names for folders.
    void clickingTheReportIconOpensTheReportFolder() {
        QFETCH(bool, folderExists);
        QFETCH(bool, fileManager);
        FakeMailDesktop desktop;
        QVERIFY(writeFile(desktop.root() + "/config/mimeapps.list",
                          fileManager ? "[Default Applications]\ninode/directory=fakemail.desktop\n"
                                      : "[Default Applications]\n"));
        const QString folder = desktop.root() + "/data/Keyloft 4/Diagnostics";
        QVERIFY(!folderExists || QDir().mkpath(folder));
        MainInterface interface;
        interface.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&interface.window()));
        DraggableFileImageView* icon = interface.ui().draggableFileView;
        QTest::mouseClick(icon->window()->windowHandle(), Qt::LeftButton, {},
                          icon->mapTo(icon->window(), icon->rect().center()));

        QStringList opened;
        for (const FakeMailDesktop::Message& message : desktop.messages())
            opened << message.arguments;
        QCOMPARE(opened, folderExists && fileManager ? QStringList{folder} : QStringList{});
        auto* sheet = interface.window().findChild<QMessageBox*>();
        QCOMPARE(sheet != nullptr, folderExists && !fileManager);
        QVERIFY(!sheet || (sheet->isVisible() && sheet->informativeText().endsWith('\n' + folder)));
        QVERIFY(folderExists || !QFileInfo::exists(desktop.root() + "/data/Keyloft 4"));
    }

    // Kept in the layout either way, so nothing moves when it turns; drawn only while turning.
    void spinnerTurnsInItsPlace() {
        MainInterface interface;
        interface.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&interface.window()));
        ProgressIndicator* spinner = interface.controller().indicator();
        const QRect place = spinner->geometry();
        spinner->startAnimation();
        QCOMPARE(spinner->geometry(), place);
        const QImage turning = spinner->grab().toImage();
        spinner->stopAnimation();
        QVERIFY(turning != spinner->grab().toImage());
    }

    void closingTheWindowEndsTheApplication_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    // The real executable with a fresh HOME, ended the way the desktop ends it.
    void closingTheWindowEndsTheApplication() {
        QFETCH(int, signal);
        QTemporaryDir home;
        QProcessEnvironment env = freshUserEnvironment(home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(KEYLOFT_APP_EXECUTABLE, {});
        QVERIFY(app.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(catchesSignal(app.processId(), signal), 20000);
        ::kill(static_cast<pid_t>(app.processId()), signal);
        QVERIFY(app.waitForFinished(20000));
        const QByteArray errors = app.readAllStandardError();
        QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0 &&
                     !errors.contains("ERROR: AddressSanitizer") && !errors.contains("runtime error"),
                 errors.constData());
        // Starting and ending leaves the report folder alone: it belongs to the diagnostics script.
        QVERIFY(!QFileInfo::exists(home.filePath(".local/share/Keyloft 4")));
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
