// The report run in-process: the real window, the real Ruby, and bundles laid out in temporary folders
// (the shipped script, or small scripts that fail, record what reached them, or wait for a go-ahead).

#include "MainInterface.h"
#include "ProgressIndicator.h"
#include "VTScriptUtils.h"
#include "VantleString.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QString kMailTitle = QStringLiteral("Create New Mail Message...");

// A stand-in diagnostics script: records its own path and arguments in <data home>/run-<tag>.json,
// optionally waits until <data home>/go exists, then leaves a report and exits 0.
QByteArray recordingScript(const char* tag, bool waitForGo = false) {
    QByteArray script = "require 'json'\nrequire 'fileutils'\ndata = ENV.fetch('XDG_DATA_HOME')\n";
    script += "File.write(File.join(data, 'run-" + QByteArray(tag) +
              ".json'), JSON.generate('script' => $0.dup.force_encoding('UTF-8'), "
              "'argv' => ARGV.map { |a| a.dup.force_encoding('UTF-8') }))\n";
    if (waitForGo)
        script += "sleep 0.02 until File.exist?(File.join(data, 'go'))\n";
    script += "folder = File.join(data, 'Keyloft 4', 'Diagnostics')\nFileUtils.mkdir_p(folder)\n"
              "File.write(File.join(folder, 'Keyloft 4 Diagnostics test.zip'), 'PK' * 700)\n";
    return script;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString scriptInBundle(const QString& bundle) {
    return bundle + QStringLiteral("/Contents/Resources/Scripts/vantletools.rb");
}

QStringList reportFolderEntries(const QString& dataHome) {
    return QDir(dataHome + QStringLiteral("/Keyloft 4/Diagnostics"))
        .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QJsonObject readJson(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// What the failure alert showed, read while it was up.
struct Alert {
    QString title;
    QString message;
    Qt::TextFormat messageFormat = Qt::AutoText;
    bool windowVisible = false;
};

// Watches for the application-modal alert, notes what it shows and dismisses it, as the user would.
class AlertCatcher : public QObject {
public:
    explicit AlertCatcher(QWidget* window) : window_(window) {
        connect(&timer_, &QTimer::timeout, this, &AlertCatcher::look);
        timer_.start(20);
    }
    QList<Alert> alerts;

private:
    void look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        Alert alert;
        alert.title = box->text();
        alert.message = box->informativeText();
        for (auto* label : box->findChildren<QLabel*>())
            if (label->text() == alert.message)
                alert.messageFormat = label->textFormat();
        alert.windowVisible = window_->isVisible();
        alerts.append(alert);
        box->button(QMessageBox::Ok)->click();
    }
    QWidget* window_;
    QTimer timer_;
};

} // namespace

class TestReportGeneration : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dataHome_;
    std::optional<QTemporaryDir> bundles_;

    [[nodiscard]] QString dataHome() const { return dataHome_->path(); }

    // A bundle at <temporary folder>/<name> holding script as its diagnostics script.
    QString makeBundle(const QString& name, const QByteArray& script) {
        const QString bundle = bundles_->path() + QLatin1Char('/') + name;
        if (!writeFile(scriptInBundle(bundle), script))
            return {};
        return bundle;
    }

    // Shows the window, presses the action button, and waits for the worker to finish.
    static void pressAndWait(MainInterface& app) {
        QTest::mouseClick(app.controller().diagnosticsPerformActionButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!app.controller().isGeneratingDiagnostics(), 120000);
    }

    static void showWindow(MainInterface& app) {
        app.controller().awakeFromNib();
        app.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&app.window()));
    }

private slots:
    void init() {
        dataHome_.emplace();
        bundles_.emplace();
        QVERIFY(dataHome_->isValid() && bundles_->isValid());
        qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    }

    void cleanup() {
        DiagnosticsController::setBundlePathForTesting(std::nullopt);
        setRubyFixedLocationsForTesting({});
        qunsetenv("XDG_DATA_HOME");
        dataHome_.reset();
        bundles_.reset();
    }

    // The shipped script from a bundle whose folder name holds spaces, quotes, parentheses, an apostrophe
    // and a colon: the report is made, the window offers it, and the script saw the bundle path exactly.
    void theShippedScriptMakesTheReport() {
        QFile shipped(QStringLiteral(KEYLOFT_SOURCE_DIR "/KeyloftTroubleshooting/Scripts/vantletools.rb"));
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        const QString bundle =
            makeBundle(QStringLiteral("Support \"Files\" (Jo's copy): 2/keyloft"), shipped.readAll());
        QVERIFY(!bundle.isEmpty());
        DiagnosticsController::setBundlePathForTesting(bundle);
        MainInterface app;
        showWindow(app);
        DiagnosticsController& controller = app.controller();
        const QString firstDescription = controller.descriptionField()->text();
        pressAndWait(app);

        const QStringList reports = reportFolderEntries(dataHome());
        QCOMPARE(reports.size(), 1);
        const QString report = dataHome() + QStringLiteral("/Keyloft 4/Diagnostics/") + reports.first();
        QVERIFY(report.endsWith(QLatin1String(".zip")));
        QTRY_VERIFY(controller.diagnosticsPerformActionButton()->isEnabled());
        QCOMPARE(controller.diagnosticsPerformActionButton()->text(), kMailTitle);
        QVERIFY(controller.descriptionField()->text() != firstDescription);
        QVERIFY(
            controller.descriptionField()->text().startsWith(QLatin1String("The report has been created.")));
        QVERIFY(controller.diagsLoaded());
        QVERIFY(!controller.indicator()->isAnimating());
        QCOMPARE(controller.draggableFileView()->fileName(), reports.first());
        QVERIFY(!controller.draggableFileView()->shownImage().isNull());
        QCOMPARE(controller.fileDataForDraggableFileImageView(controller.draggableFileView())->size(),
                 QFileInfo(report).size());
        QCOMPARE(controller.reportFileField()->text(),
                 reports.first() + QLatin1Char('\n') +
                     vt_humanReadableSizeStringForBytes(static_cast<uint64_t>(QFileInfo(report).size())));

        // A standard unzip accepts the archive, and the script was told the bundle's path exactly.
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), report});
        QVERIFY(unzip.waitForFinished(30000));
        QVERIFY2(unzip.exitCode() == 0, unzip.readAll().constData());
        QProcess manifest;
        manifest.start(QStringLiteral("unzip"),
                       {QStringLiteral("-p"), report, QStringLiteral("manifest.json")});
        QVERIFY(manifest.waitForFinished(30000));
        QCOMPARE(QJsonDocument::fromJson(manifest.readAllStandardOutput())
                     .object()
                     .value("bundle_path")
                     .toString(),
                 bundle);

        // The next press goes to mail (kept from reaching any real mail client); it never runs the script
        // again.
        ScopedEnv noDisplay("DISPLAY", std::nullopt);
        ScopedEnv noWayland("WAYLAND_DISPLAY", std::nullopt);
        QTest::mouseClick(controller.diagnosticsPerformActionButton(), Qt::LeftButton);
        QTest::qWait(300);
        QVERIFY(!controller.isGeneratingDiagnostics());
        QCOMPARE(reportFolderEntries(dataHome()), reports);
    }

    // While the script runs the button stays disabled and the spinner turns; the button comes back last,
    // when everything else about the new state is already in place.
    void theButtonComesBackLast() {
        const QString bundle = makeBundle(QStringLiteral("gated"), recordingScript("gated", true));
        DiagnosticsController::setBundlePathForTesting(bundle);
        MainInterface app;
        showWindow(app);
        DiagnosticsController& controller = app.controller();
        QPushButton* button = controller.diagnosticsPerformActionButton();
        const QString firstTitle = button->text();
        const QString firstDescription = controller.descriptionField()->text();

        struct AtEnable {
            bool seen = false, spinning = true, loaded = false, iconSet = false;
            QString title, description, fileLine;
        } atEnable;
        class EnableWatcher : public QObject {
        public:
            std::function<void()> onEnable;
            bool eventFilter(QObject* watched, QEvent* event) override {
                if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled())
                    onEnable();
                return false;
            }
        } watcher;
        watcher.onEnable = [&] {
            atEnable.seen = true;
            atEnable.spinning = controller.indicator()->isAnimating();
            atEnable.loaded = controller.diagsLoaded();
            atEnable.iconSet = !controller.draggableFileView()->fileName().isEmpty();
            atEnable.title = button->text();
            atEnable.description = controller.descriptionField()->text();
            atEnable.fileLine = controller.reportFileField()->text();
        };
        button->installEventFilter(&watcher);

        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!button->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dataHome() + QStringLiteral("/run-gated.json")), 60000);
        QTRY_VERIFY(controller.indicator()->isAnimating());
        QTest::qWait(100);
        QVERIFY(!button->isEnabled());
        QCOMPARE(button->text(), firstTitle);
        QCOMPARE(controller.descriptionField()->text(), firstDescription);
        QVERIFY(!controller.diagsLoaded());
        QVERIFY(controller.reportFileField()->text().isEmpty());

        QVERIFY(writeFile(dataHome() + QStringLiteral("/go"), "go"));
        QTRY_VERIFY_WITH_TIMEOUT(atEnable.seen, 60000);
        QTRY_VERIFY(!controller.isGeneratingDiagnostics());
        QVERIFY(!atEnable.spinning);
        QVERIFY(atEnable.loaded);
        QVERIFY(atEnable.iconSet);
        QCOMPARE(atEnable.title, kMailTitle);
        QVERIFY(atEnable.description != firstDescription);
        QCOMPARE(atEnable.fileLine, QStringLiteral("Keyloft 4 Diagnostics test.zip\n1 KB"));
    }

    // The script path and its argument reach the script as single, exact words, whatever the bundle's
    // folder is called.
    void theBundlePathReachesTheScriptExactly_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "keyloft-troubleshooting";
        QTest::newRow("spaces") << "Keyloft Troubleshooting copy";
        QTest::newRow("quotes and parentheses") << "Key \"loft\" (old)";
        QTest::newRow("colon") << "Backup: 2026-12-06";
        QTest::newRow("apostrophe") << "Jo's tools";
        QTest::newRow("dollar, backtick, semicolon, ampersand") << "a$HOME`id`;b&c";
        QTest::newRow("glob, tilde, hash, bang") << "~x #1 *?[ab]!";
        QTest::newRow("backslash and pipe") << "a\\b|c";
        QTest::newRow("braces and angle brackets") << "{x}<y>";
        QTest::newRow("line feed and tab") << "two\nlines\tand tab";
        QTest::newRow("non-ASCII") << "Schlüssel Überprüfung ✓";
    }
    void theBundlePathReachesTheScriptExactly() {
        QFETCH(QString, name);
        const QString bundle = makeBundle(name, recordingScript("exact"));
        QVERIFY(!bundle.isEmpty());
        DiagnosticsController::setBundlePathForTesting(bundle);
        MainInterface app;
        showWindow(app);
        AlertCatcher catcher(&app.window());
        pressAndWait(app);

        QVERIFY(catcher.alerts.isEmpty());
        const QJsonObject run = readJson(dataHome() + QStringLiteral("/run-exact.json"));
        QCOMPARE(run.value("script").toString(), scriptInBundle(bundle));
        QCOMPARE(run.value("argv").toArray(), QJsonArray{QStringLiteral("BUNDLE_PATH=") + bundle});
        QTRY_VERIFY(app.controller().diagnosticsPerformActionButton()->isEnabled());
    }

    // A bundle path ending in "/tmp/build/Debug/" (final slash included) runs the developer's working
    // copy in the home folder instead of the bundled script.
    void aDevelopmentBuildRunsTheWorkingCopy_data() {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("development build folder") << "/tmp/build/Debug/"
                                                  << "development";
        QTest::newRow("no final slash") << "/tmp/build/Debug"
                                        << "bundle";
        QTest::newRow("other case") << "/tmp/build/debug/"
                                    << "bundle";
    }
    void aDevelopmentBuildRunsTheWorkingCopy() {
        QFETCH(QString, suffix);
        QFETCH(QString, expected);
        const QString home = bundles_->path() + QStringLiteral("/home of Jo");
        const QString working =
            home + QStringLiteral("/Projects/keyloft-troubleshooting/scripts/diagnostics-v3.rb");
        QVERIFY(writeFile(working, recordingScript("development")));
        const QString bundle = bundles_->path() + QStringLiteral("/work") + suffix;
        QVERIFY(writeFile(scriptInBundle(QDir::cleanPath(bundle)), recordingScript("bundle")));
        ScopedEnv homeEnv("HOME", home.toUtf8());
        DiagnosticsController::setBundlePathForTesting(bundle);
        MainInterface app;
        showWindow(app);
        pressAndWait(app);

        const QJsonObject run =
            readJson(dataHome() + QStringLiteral("/run-") + expected + QStringLiteral(".json"));
        QCOMPARE(run.value("script").toString(),
                 expected == QLatin1String("development") ? working : scriptInBundle(bundle));
        QCOMPARE(run.value("argv").toArray(), QJsonArray{QStringLiteral("BUNDLE_PATH=") + bundle});
        QTRY_VERIFY(app.controller().diagnosticsPerformActionButton()->isEnabled());
    }

    // Every run that leaves no new report shows the alert with the script's own words (or a fixed
    // explanation), then closes the window; the button never turns into the mail button.
    void aRunWithoutANewReportEndsWithTheAlert_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("oldReport");
        QTest::addColumn<bool>("noInterpreter");
        QTest::addColumn<QString>("message");
        const QByteArray writeReport =
            "require 'fileutils'\nf = File.join(ENV['XDG_DATA_HOME'], 'Keyloft 4', "
            "'Diagnostics')\nFileUtils.mkdir_p(f)\nFile.write(File.join(f, 'r.zip'), 'PK')\n";
        QTest::newRow("exit 1, error text with percent signs")
            << QByteArray("$stderr.write(\"100% broken: %@ %s %d %n %%\\n\")\nexit 1\n") << false << false
            << "100% broken: %@ %s %d %n %%\n";
        QTest::newRow("exit 1, markup in the error text")
            << QByteArray("$stderr.write('<b>no</b> &amp; <a href=\"x\">link</a>')\nexit 1\n") << false
            << false << "<b>no</b> &amp; <a href=\"x\">link</a>";
        QTest::newRow("exit 1, silent")
            << QByteArray("exit 1\n") << false << false
            << "The diagnostics script stopped before it could create the report.";
        QTest::newRow("exit 3 after writing a report")
            << writeReport + "$stderr.write('late failure')\nexit 3\n"
            << false << false << "late failure";
        QTest::newRow("killed by a signal")
            << QByteArray("Process.kill('KILL', Process.pid)\n") << false << false
            << "The diagnostics script stopped before it could create the report.";
        QTest::newRow("exit 0, nothing written")
            << QByteArray("exit 0\n") << false << false
            << "The diagnostics script finished, but no report was written to the report folder.";
        QTest::newRow("exit 0, only an old report there")
            << QByteArray("exit 0\n") << true << false
            << "The diagnostics script finished, but no report was written to the report folder.";
        QTest::newRow("exit 0 with a warning, nothing written")
            << QByteArray("warn 'disk full'\n") << false << false << "disk full\n";
        QTest::newRow("no interpreter") << QByteArray("exit 0\n") << false << true << "";
    }
    void aRunWithoutANewReportEndsWithTheAlert() {
        QFETCH(QByteArray, script);
        QFETCH(bool, oldReport);
        QFETCH(bool, noInterpreter);
        QFETCH(QString, message);
        const QString bundle = makeBundle(QStringLiteral("failing"), script);
        DiagnosticsController::setBundlePathForTesting(bundle);
        const QString old = dataHome() + QStringLiteral("/Keyloft 4/Diagnostics/older.zip");
        if (oldReport)
            QVERIFY(writeFile(old, "PK old"));
        std::optional<ScopedEnv> path;
        if (noInterpreter) {
            path.emplace("PATH", QByteArray("/nonexistent"));
            setRubyFixedLocationsForTesting({QStringLiteral("/nonexistent/ruby")});
            message =
                runRubyScriptWaitForResponse(QStringLiteral("x.rb"), std::nullopt).value("err").toString();
            QVERIFY(message.contains(QLatin1String("Ruby cannot be found")));
        }
        MainInterface app;
        showWindow(app);
        DiagnosticsController& controller = app.controller();
        AlertCatcher catcher(&app.window());
        pressAndWait(app);

        QTRY_VERIFY(!app.window().isVisible());
        QCOMPARE(catcher.alerts.size(), 1);
        const Alert& alert = catcher.alerts.first();
        QCOMPARE(alert.title, QStringLiteral("Diagnostic script failed."));
        QCOMPARE(alert.message, message);
        QCOMPARE(alert.messageFormat, Qt::PlainText);
        QVERIFY(alert.windowVisible);
        QVERIFY(!controller.diagsLoaded());
        QVERIFY(controller.diagnosticsPerformActionButton()->text() != kMailTitle);
        QVERIFY(!controller.diagnosticsPerformActionButton()->isEnabled());
        QVERIFY(controller.draggableFileView()->fileName().isEmpty());
        // The report folder is the script's: an old report stays as it was.
        QCOMPARE(QFileInfo::exists(old), oldReport);
    }
};

QTEST_MAIN(TestReportGeneration)
#include "tst_reportgeneration.moc"
