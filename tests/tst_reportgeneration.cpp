// The report run in-process: the real window and Ruby, with bundles holding small scripts that fail, record
// what reached them or wait for a go-ahead (the shipped script runs in tst_reportgeneration_x11).

#include "MainInterface.h"
#include "ProgressIndicator.h"
#include "VTScriptUtils.h"
#include "support/ProgramRuns.h"

#include <QtTest>
#include <QtWidgets>

#include <pthread.h>

namespace {

const QString kMailTitle = QStringLiteral("Create New Mail Message...");

// A stand-in script: records its path and arguments in <data home>/run-<tag>.json, optionally waits for
// <data home>/go, then leaves a report and exits 0.
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

QString scriptInBundle(const QString& bundle) {
    return bundle + QStringLiteral("/Contents/Resources/Scripts/vantletools.rb");
}

// Notes what each application-modal alert shows ("title | message | format of the message | window")
// and dismisses it, as the user would.
class AlertCatcher : public QObject {
public:
    explicit AlertCatcher(QWidget* window) {
        connect(&timer_, &QTimer::timeout, this, [this, window] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible())
                return;
            QString format = QStringLiteral("not plain text");
            for (auto* label : box->findChildren<QLabel*>())
                if (label->text() == box->informativeText() && label->textFormat() == Qt::PlainText)
                    format = QStringLiteral("plain text");
            alerts << QStringList{box->text(), box->informativeText(), format,
                                  window->isVisible() ? "window shown" : "window hidden"}
                          .join(QStringLiteral(" | "));
            box->buttons().constFirst()->click(); // the one button: Ok, or the mail sheet's
        });
        timer_.start(20);
    }
    QStringList alerts;

private:
    QTimer timer_;
};

class EnableWatcher : public QObject {
public:
    explicit EnableWatcher(std::function<void()> onEnable) : onEnable_(std::move(onEnable)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled())
            onEnable_();
        return false;
    }

private:
    std::function<void()> onEnable_;
};

} // namespace

class TestReportGeneration : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> dataHome_;
    std::optional<QTemporaryDir> bundles_;

    [[nodiscard]] QString dataHome() const { return dataHome_->path(); }

    // A bundle at <temporary folder>/<name> holding script as its diagnostics script; empty on failure.
    QString makeBundle(const QString& name, const QByteArray& script) {
        const QString bundle = bundles_->path() + QLatin1Char('/') + name;
        return writeFile(scriptInBundle(bundle), script) ? bundle : QString();
    }

    // The tool's window, shown, running the given bundle's script; its alerts are noted and dismissed.
    struct Window {
        MainInterface app;
        AlertCatcher catcher{&app.window()};
        DiagnosticsController& controller = app.controller();
        QPushButton* button = controller.diagnosticsPerformActionButton();
    };
    static std::unique_ptr<Window> show(const QString& bundle) {
        DiagnosticsController::setBundlePathForTesting(bundle);
        auto window = std::make_unique<Window>();
        window->controller.awakeFromNib();
        window->app.window().show();
        return QTest::qWaitForWindowExposed(&window->app.window()) ? std::move(window) : nullptr;
    }

    static void pressAndWait(const Window& window) {
        QTest::mouseClick(window.button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.controller.isGeneratingDiagnostics(), 120000);
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

    // While the script runs the button is disabled and the spinner turns; the button comes back last, as
    // the mail button, once the icon, the report line, the title and the text have changed.
    void theButtonComesBackLast() {
        const auto window = show(makeBundle("gated", recordingScript("gated", true)));
        QVERIFY(window);
        DiagnosticsController& controller = window->controller;
        QPushButton* button = window->button;
        const auto state = [&] {
            const auto flag = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
            return QStringLiteral("enabled %1, spinning %2, loaded %3 | %4 | %5 | %6 | %7")
                .arg(flag(button->isEnabled()), flag(controller.indicator()->isAnimating()),
                     flag(controller.diagsLoaded()), controller.draggableFileView()->fileName(),
                     controller.reportFileField()->text(), button->text(),
                     controller.descriptionField()->text().left(28));
        };
        const QString firstTitle = button->text();
        const QString firstText = controller.descriptionField()->text().left(28);
        QStringList atEnable;
        EnableWatcher watcher([&] { atEnable << state(); });
        button->installEventFilter(&watcher);

        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dataHome() + QStringLiteral("/run-gated.json")), 60000);
        QTRY_VERIFY(controller.indicator()->isAnimating());
        QTest::qWait(100);
        QCOMPARE(state(),
                 u"enabled no, spinning yes, loaded no |  |  | %1 | %2"_qs.arg(firstTitle, firstText));

        QVERIFY(writeFile(dataHome() + QStringLiteral("/go"), "go"));
        QTRY_VERIFY_WITH_TIMEOUT(!atEnable.isEmpty(), 60000);
        QTRY_VERIFY(!controller.isGeneratingDiagnostics());
        QCOMPARE(atEnable,
                 QStringList{"enabled yes, spinning no, loaded yes | Keyloft 4 Diagnostics test.zip | "
                             "Keyloft 4 Diagnostics test.zip\n1 KB | " +
                             kMailTitle + " | The report has been created."});
    }

    // When the system has no thread to give, the press still makes the report (on the window's thread)
    // instead of ending the tool.
    void aReportComesEvenWithoutAThreadToBeHad() {
        const auto window = show(makeBundle("no thread", recordingScript("nothread")));
        QVERIFY(window);
        QPushButton* button = window->button;
        // Every thread started meanwhile is refused: the system cannot give it a stack that large.
        pthread_attr_t usual, huge;
        QVERIFY(::pthread_getattr_default_np(&usual) == 0 && ::pthread_attr_init(&huge) == 0);
        ::pthread_attr_setstacksize(&huge, size_t(1) << 46);
        ::pthread_setattr_default_np(&huge);
        QTest::mouseClick(button, Qt::LeftButton);
        ::pthread_setattr_default_np(&usual);
        QTRY_VERIFY(button->isEnabled());
        const QStringList reports =
            QDir(dataHome() + u"/Keyloft 4/Diagnostics"_qs)
                .entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
        QCOMPARE(QStringList(window->catcher.alerts) << button->text() << reports,
                 (QStringList{kMailTitle, "Keyloft 4 Diagnostics test.zip"}));
    }

    // The script path and its argument reach the script as single, exact words, whatever the bundle's
    // folder is called; a bundle path ending in "/tmp/build/Debug/" runs the developer's working copy.
    void theRightScriptGetsTheBundlePathExactly_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("development");
        // Every character the backslash escaping covers, then every one that needs single quotes.
        QTest::newRow("escaped") << "Key \"loft\" Jo's a$HOME`id`;b&c Schlüssel ✓" << false;
        QTest::newRow("single-quoted") << "Jo's (old): a\\b|c*?\tx\ny" << false;
        QTest::newRow("development build folder") << "work/tmp/build/Debug/" << true;
        QTest::newRow("no final slash") << "work/tmp/build/Debug" << false;
        QTest::newRow("other case") << "work/tmp/build/debug/" << false;
    }
    void theRightScriptGetsTheBundlePathExactly() {
        QFETCH(QString, name);
        QFETCH(bool, development);
        const QString home = bundles_->path() + QStringLiteral("/home of Jo");
        const QString working = home + u"/Projects/keyloft-troubleshooting/scripts/diagnostics-v3.rb"_qs;
        QVERIFY(writeFile(working, recordingScript("exact")));
        ScopedEnv homeEnv("HOME", home.toUtf8());
        const QString bundle = makeBundle(name, recordingScript("exact"));
        QVERIFY(!bundle.isEmpty());
        const auto window = show(bundle);
        QVERIFY(window);
        pressAndWait(*window);

        QCOMPARE(window->catcher.alerts, QStringList());
        QFile record(dataHome() + QStringLiteral("/run-exact.json"));
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(record.readAll()).object(),
                 (QJsonObject{{"script", development ? working : scriptInBundle(bundle)},
                              {"argv", QJsonArray{QStringLiteral("BUNDLE_PATH=") + bundle}}}));
        QTRY_VERIFY(window->button->isEnabled());
    }

    // Every run that leaves no new report shows the alert with the script's own words as plain text (or
    // a fixed explanation) and closes the window; the old report folder is left as it was.
    void aRunWithoutANewReportEndsWithTheAlert_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("oldReport");
        QTest::addColumn<QString>("message");
        const QString noReport = QStringLiteral(
            "The diagnostics script finished, but no report was written to the report folder.");
        QTest::newRow("exit 1, percent signs and markup")
            << QByteArray("$stderr.write('<b>100%</b> %@ %s %d %n %% &amp;')\nexit 1\n") << false
            << "<b>100%</b> %@ %s %d %n %% &amp;";
        QTest::newRow("killed by a signal")
            << QByteArray("Process.kill('KILL', Process.pid)\n") << false
            << "The diagnostics script stopped before it could create the report.";
        QTest::newRow("exit 3 after writing a report")
            << QByteArray(
                   "require 'fileutils'\nf = File.join(ENV['XDG_DATA_HOME'], 'Keyloft 4', 'Diagnostics')\n"
                   "FileUtils.mkdir_p(f)\nFile.write(File.join(f, 'r.zip'), 'PK')\n"
                   "$stderr.write('late failure')\nexit 3\n")
            << false << "late failure";
        QTest::newRow("exit 0, only an old report there") << QByteArray("exit 0\n") << true << noReport;
        QTest::newRow("exit 0 with a warning, nothing written")
            << QByteArray("warn 'disk full'\n") << false << "disk full\n";
        QTest::newRow("no interpreter") << QByteArray() << false << "";
    }
    void aRunWithoutANewReportEndsWithTheAlert() {
        QFETCH(QByteArray, script);
        QFETCH(bool, oldReport);
        QFETCH(QString, message);
        const QString bundle = makeBundle(QStringLiteral("failing"), script);
        const QString old = dataHome() + QStringLiteral("/Keyloft 4/Diagnostics/older.zip");
        if (oldReport)
            QVERIFY(writeFile(old, "PK old"));
        std::optional<ScopedEnv> path;
        if (script.isEmpty()) {
            path.emplace("PATH", QByteArray("/nonexistent"));
            setRubyFixedLocationsForTesting({QStringLiteral("/nonexistent/ruby")});
            message =
                runRubyScriptWaitForResponse(QStringLiteral("x.rb"), std::nullopt).value("err").toString();
            QVERIFY(message.contains(QLatin1String("Ruby cannot be found")));
        }
        const auto window = show(bundle);
        QVERIFY(window);
        pressAndWait(*window);

        QTRY_VERIFY(!window->app.window().isVisible());
        QCOMPARE(window->catcher.alerts,
                 QStringList{"Diagnostic script failed. | " + message + " | plain text | window shown"});
        QVERIFY(window->button->text() != kMailTitle);
        QCOMPARE(QFileInfo::exists(old), oldReport);
    }
};

QTEST_MAIN(TestReportGeneration)
#include "tst_reportgeneration.moc"
