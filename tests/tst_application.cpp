#include "AppResources.h"
#include "MainInterface.h"
#include "Platform/Bundle.h"
#include "ProgressIndicator.h"
#include "support/TestSupport.h"
#include "ui_MainWindow.h"

#include <QDesktopServices>
#include <QMenuBar>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// Stands in for the file browser: records what the desktop was asked to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class TestApplication : public QObject {
    Q_OBJECT

    // Starts the real executable with a fresh HOME and answers once it is ready for the event loop.
    static bool startApplication(QProcess& process, const QTemporaryDir& home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            env.remove(name);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setProgram(KEYLOFT_APP_EXECUTABLE);
        process.start();
        return process.waitForStarted(10000);
    }

private slots:
    void bundlePathForExecutableDir_data() {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("bundle");
        QTest::newRow("installed") << "/usr/lib/keyloft-troubleshooting/Contents/bin/"
                                   << "/usr/lib/keyloft-troubleshooting";
        QTest::newRow("only bin") << "/opt/x/bin"
                                  << "/opt/x/bin";
        QTest::newRow("root") << ""
                              << "/";
    }
    void bundlePathForExecutableDir() {
        QFETCH(QString, dir);
        QTEST(vt_bundlePathForExecutableDir(dir), "bundle");
    }

    void theInterfaceIsConnected() {
        MainInterface interface;
        DiagnosticsController& controller = interface.controller();
        Ui::MainWindow& ui = interface.ui();
        QCOMPARE(controller.window(), &interface.window());
        QCOMPARE(interface.delegate().window(), &interface.window());
        QCOMPARE(controller.indicator(), ui.indicator);
        QCOMPARE(controller.draggableFileView(), ui.draggableFileView);
        QCOMPARE(controller.diagnosticsPerformActionButton(), ui.diagnosticsPerformActionButton);
        QCOMPARE(controller.descriptionField(), ui.descriptionField);

        // The three repair commands sit in the menu bar and reach the controller.
        QStringList repairs;
        for (QAction* menu : interface.window().menuBar()->actions()) {
            if (menu->menu() == ui.repairMenu)
                for (QAction* item : menu->menu()->actions())
                    repairs.append(item->objectName());
        }
        QCOMPARE(repairs, (QStringList{"actionResetFolderPermissions", "actionRepairExtendedAttributes",
                                       "actionResetLaunchServicesDb"}));
        // Each control reaches its own operation of the controller (disconnecting proves the connection).
        QVERIFY(QObject::disconnect(ui.actionResetFolderPermissions, &QAction::triggered, &controller,
                                    &DiagnosticsController::resetFolderPermissions));
        QVERIFY(QObject::disconnect(ui.actionRepairExtendedAttributes, &QAction::triggered, &controller,
                                    &DiagnosticsController::repairExtendedAttributes));
        QVERIFY(QObject::disconnect(ui.actionResetLaunchServicesDb, &QAction::triggered, &controller,
                                    &DiagnosticsController::resetLaunchServicesDb));
        QVERIFY(QObject::disconnect(ui.diagnosticsPerformActionButton, &QPushButton::clicked, &controller,
                                    &DiagnosticsController::diagnosticsActionButtonPressed));
    }

    void clickingTheReportIconOpensTheReportFolder_data() {
        QTest::addColumn<bool>("folderExists");
        QTest::newRow("report folder present") << true;
        QTest::newRow("no report folder yet") << false;
    }
    void clickingTheReportIconOpensTheReportFolder() {
        QFETCH(bool, folderExists);
        QTemporaryDir dataHome;
        const QString folder = dataHome.path() + "/Keyloft 4/Diagnostics";
        if (folderExists)
            QVERIFY(QDir().mkpath(folder));
        ScopedEnv dataEnv("XDG_DATA_HOME", dataHome.path().toUtf8());
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler("file", &recorder, "open");
        MainInterface interface;
        interface.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&interface.window()));
        DraggableFileImageView* icon = interface.ui().draggableFileView;
        QTest::mouseClick(icon->window()->windowHandle(), Qt::LeftButton, {},
                          icon->mapTo(icon->window(), icon->rect().center()));
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(recorder.opened, folderExists ? QList<QUrl>{QUrl::fromLocalFile(folder)} : QList<QUrl>{});
        QVERIFY(folderExists || !QFileInfo::exists(dataHome.filePath("Keyloft 4")));
    }

    void spinnerTurnsInItsPlace() {
        MainInterface interface;
        interface.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&interface.window()));
        ProgressIndicator* spinner = interface.controller().indicator();
        // Kept in the layout either way, so nothing moves when it turns; drawn only while turning.
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
    void closingTheWindowEndsTheApplication() {
        QFETCH(int, signal);
        QTemporaryDir home;
        QProcess app;
        QVERIFY(startApplication(app, home));
        QTRY_VERIFY_WITH_TIMEOUT(catchesSignal(app.processId(), signal), 20000);
        ::kill(static_cast<pid_t>(app.processId()), signal);
        QVERIFY(app.waitForFinished(20000));
        const QByteArray errors = app.readAllStandardError();
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QVERIFY2(app.exitCode() == 0, errors.constData());
        QVERIFY2(!errors.contains("ERROR: AddressSanitizer") && !errors.contains("runtime error"),
                 errors.constData());
        // Starting and ending leaves the report folder alone: it belongs to the diagnostics script.
        QVERIFY(!QFileInfo::exists(home.filePath(".local/share/Keyloft 4")));
    }
};

QTEST_MAIN(TestApplication)
#include "tst_application.moc"
