// The diagnostics controller: the report folder and its newest report, what the report icon is given, and
// the mail button, whose press hands support's message with the report to the desktop's mail program (real
// xdg-email, fake program) and says what to check; a failure shows the sheet in the user's terms instead.

#include "AppResources.h"
#include "DiagnosticsController.h"
#include "FakeMailDesktop.h"
#include "MailMessage.h"
#include "support/ProgramRuns.h"
#include "support/TestSupport.h"

#include <QtTest>
#include <QtWidgets>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

using Env = std::optional<QByteArray>;
using Url = std::optional<QUrl>;

namespace {

// A window with its action button, wired to a controller whose report exists.
struct MailWindow {
    QWidget window;
    QPushButton* button = new QPushButton(QStringLiteral("Create New Mail Message..."), &window);
    QLabel* description = new QLabel(QStringLiteral("The report has been created."), &window);
    DiagnosticsController controller;

    MailWindow() {
        controller.setWindow(&window);
        controller.setDiagnosticsPerformActionButton(button);
        controller.setDescriptionField(description);
        QObject::connect(button, &QPushButton::clicked, &controller,
                         &DiagnosticsController::diagnosticsActionButtonPressed);
        controller.awakeFromNib();
        controller.setDiagsLoaded(true);
        window.show();
    }

    QMessageBox* sheet() const { return window.findChild<QMessageBox*>(); }
};

const QString kReportFolder = QStringLiteral("data/Keyloft 4/Diagnostics/");

// Writes a file modified ageSeconds before one fixed moment, so equal ages give equal times.
void writeAged(const QString& path, const QByteArray& bytes, int ageSeconds = 0) {
    QVERIFY(writeFile(path, bytes));
    static const time_t now = ::time(nullptr);
    const struct timespec times[2] = {{now - ageSeconds, 0}, {now - ageSeconds, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

} // namespace

class TestDiagnosticsController : public QObject {
    Q_OBJECT

    QTemporaryDir dataHome;
    std::optional<ScopedEnv> xdg;

    QString reportFolder() const { return dataHome.filePath("Keyloft 4/Diagnostics"); }

private slots:
    void init() {
        QDir(reportFolder()).removeRecursively();
        xdg.emplace("XDG_DATA_HOME", dataHome.path().toUtf8());
    }

    // The folder is named, never created; before it exists there is no report.
    void folderFollowsTheDataHome_data() {
        QTest::addColumn<Env>("xdgDataHome");
        QTest::addColumn<Env>("home");
        QTest::addColumn<Url>("expected");
        QTest::newRow("data home") << Env(dataHome.path().toUtf8()) << Env("/home/someone")
                                   << Url(QUrl::fromLocalFile(reportFolder()));
        QTest::newRow("relative data home") << Env("relative/share") << Env("/home/someone") << Url();
        QTest::newRow("no data home, no HOME") << Env() << Env() << Url();
    }
    void folderFollowsTheDataHome() {
        QFETCH(Env, xdgDataHome);
        QFETCH(Env, home);
        const ScopedEnv dataEnv("XDG_DATA_HOME", xdgDataHome), homeEnv("HOME", home);
        QTEST(DiagnosticsController::outputFolderURL(), "expected");
        QCOMPARE(DiagnosticsController::generatedReportZipURL(), Url());
        QVERIFY(!QFileInfo::exists(dataHome.filePath("Keyloft 4")));
    }

    void theNewestVisibleFileIsTheReport_data() {
        QTest::addColumn<QStringList>("entries"); // "name:age seconds", a trailing "/" for a folder
        QTest::addColumn<QString>("expected");    // empty: none
        QTest::newRow("older file, and a hidden file and folder that are newer")
            << QStringList{".DS_Store:0", "sub/:0", "zz-old.zip:3600", "report.zip:60"} << "report.zip";
        QTest::newRow("equal times: greater name")
            << QStringList{"b.zip:100", "c.zip:100", "a.zip:100"} << "c.zip";
        QTest::newRow("only hidden") << QStringList{".partial.zip:0"} << "";
    }
    void theNewestVisibleFileIsTheReport() {
        QFETCH(QStringList, entries);
        QFETCH(QString, expected);
        const QDir folder(reportFolder());
        QVERIFY(folder.mkpath("."));
        for (const QString& entry : entries) {
            const QString name = entry.section(':', 0, 0);
            if (name.endsWith('/'))
                QVERIFY(folder.mkdir(name));
            else
                writeAged(folder.filePath(name), name.toUtf8(), entry.section(':', 1, 1).toInt());
        }
        QCOMPARE(DiagnosticsController::generatedReportZipURL(),
                 expected.isEmpty() ? Url() : Url(QUrl::fromLocalFile(folder.filePath(expected))));
    }

    void onlyTheOwnIconGetsTheReportOfTheMomentOfTheDrop() {
        const QDir folder(reportFolder());
        QVERIFY(folder.mkpath("."));
        writeAged(folder.filePath("first.zip"), "first report", 60);
        DiagnosticsController controller;
        DraggableFileImageView icon, other;
        QVERIFY(!controller.fileDataForDraggableFileImageView(&icon));
        controller.setDraggableFileView(&icon);
        icon.configureWithFileIcon(vt_reportArtwork(), QUrl::fromLocalFile(folder.filePath("first.zip")),
                                   &controller);
        QVERIFY(!controller.fileDataForDraggableFileImageView(&other));
        QVERIFY(!controller.fileDataForDraggableFileImageView(nullptr));
        QVERIFY(!controller.fileURLForDraggableFileImageView(&other));
        // A newer report arrived after configuration: a drop or a paste hands over that one.
        writeAged(folder.filePath("second.zip"), "second report");
        QCOMPARE(icon.handedOverFile(), Url(QUrl::fromLocalFile(folder.filePath("second.zip"))));
        QTemporaryDir dropFolder;
        const QUrl drop = QUrl::fromLocalFile(dropFolder.path());
        QVERIFY(icon.namesOfPromisedFilesDroppedAtDestination(drop));
        QCOMPARE(readFile(dropFolder.filePath("first.zip")), QByteArray("second report"));
        // Every report removed: nothing to give, and the earlier drop stays as it was.
        QVERIFY(QFile::remove(folder.filePath("first.zip")) && QFile::remove(folder.filePath("second.zip")));
        QVERIFY(!icon.namesOfPromisedFilesDroppedAtDestination(drop));
        QVERIFY(!icon.handedOverFile());
        QCOMPARE(readFile(dropFolder.filePath("first.zip")), QByteArray("second report"));
    }

    void reportArtworkRendersAtTheAskedSize_data() {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<int>("pixels");
        QTest::newRow("2x") << 2.0 << 256;
        QTest::newRow("nonsense ratio") << -1.0 << 128;
    }
    void reportArtworkRendersAtTheAskedSize() {
        QFETCH(qreal, ratio);
        QFETCH(int, pixels);
        const QImage artwork = vt_reportArtwork(128, ratio);
        QCOMPARE(artwork.size(), QSize(pixels, pixels));
        QCOMPARE(artwork.deviceIndependentSize(), QSizeF(128, 128));
        // Not blank: the page is drawn in the middle and the corners stay clear.
        QVERIFY(qAlpha(artwork.pixel(pixels / 2, pixels / 2)) == 255 && qAlpha(artwork.pixel(0, 0)) == 0);
    }

    void pressCreatesTheMessage_data() {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QByteArray>("client");
        QTest::addColumn<QString>("windowText");
        QTest::newRow("no report") << "" << QByteArray("fakemail") << "Check that";
        QTest::newRow("report name with quotes and non-ASCII, client that drops attachments")
            << "Jo \"Q\" O'Brien – Zoë.zip" << QByteArray("geary")
            << "Your mail program (Geary) cannot take attachments";
    }

    void pressCreatesTheMessage() {
        QFETCH(QString, report);
        QFETCH(QByteArray, client);
        QFETCH(QString, windowText);
        FakeMailDesktop desktop;
        desktop.setClient(client, client + ".desktop");
        SystemLogCapture log;
        const QString path = report.isEmpty() ? QString() : desktop.makeFile(kReportFolder + report);
        MailWindow ui;

        QTest::mouseClick(ui.button, Qt::LeftButton);
        QTest::mouseClick(ui.button, Qt::LeftButton);

        const QList<FakeMailDesktop::Message> received = desktop.messages();
        QCOMPARE(received.size(), 2);
        for (const FakeMailDesktop::Message& message : received) {
            QCOMPARE(message.to, QString("Vantle Support Jedi <%1>").arg(kSupportAddress));
            QCOMPARE(message.fields.value("subject"), diagnosticsMailSubject(fullUserName()));
            QVERIFY(message.fields.value("body").startsWith("Attached is the Keyloft 4 Diagnostics Report"));
            QCOMPARE(message.fields.value("attach", "<none>"), report.isEmpty() ? "<none>" : path);
        }
        QVERIFY(!ui.sheet());
        QCOMPARE(log.messages(), QStringList());
        QVERIFY2(ui.description->text().startsWith(windowText), qPrintable(ui.description->text()));
    }

    // Each row takes away one thing the message needs; once it is back, the same button creates the message.
    void failureShowsTheSheet_data() {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<Env>("value");
        QTest::addColumn<QString>("told");   // what the sheet says failed
        QTest::addColumn<QString>("reason"); // what the system log says
        QTest::newRow("no display") << QByteArray("DISPLAY") << Env()
                                    << "No mail program is set up for writing e-mail on this computer."
                                    << "no mail program could be found";
        QTest::newRow("no xdg-email")
            << QByteArray("PATH") << Env("/nonexistent") << "Your mail program could not be started."
            << "xdg-email is not installed";
    }
    void failureShowsTheSheet() {
        QFETCH(QByteArray, variable);
        QFETCH(Env, value);
        QFETCH(QString, told);
        QFETCH(QString, reason);
        FakeMailDesktop desktop;
        desktop.makeFile(kReportFolder + "report.zip");
        std::optional<ScopedEnv> taken(std::in_place, variable, value);
        SystemLogCapture log;
        MailWindow ui;

        QTest::mouseClick(ui.button, Qt::LeftButton);

        QMessageBox* sheet = ui.sheet();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QVERIFY(sheet->informativeText().startsWith(told + " Please drag and drop the report icon"));
        QVERIFY(sheet->informativeText().contains(kSupportAddress));
        QCOMPARE(sheet->buttons().size(), 1);
        QCOMPARE(log.messages().size(), 1);
        QVERIFY2(log.messages()[0].startsWith("Error emailing Diagnostics Report: " + reason),
                 qPrintable(log.messages()[0]));
        QVERIFY2(!log.messages()[0].contains("subject="), qPrintable(log.messages()[0]));
        QVERIFY(ui.button->isEnabled());
        QCOMPARE(ui.description->text(), "The report has been created.");

        sheet->buttons()[0]->click();
        QTRY_VERIFY(!ui.sheet());
        taken.reset();
        QTest::mouseClick(ui.button, Qt::LeftButton);
        QVERIFY(!ui.sheet());
        QCOMPARE(desktop.messages().size(), 1);
    }

    // A mail program that stays open does not hold up the window: the event loop runs throughout.
    void lingeringClientKeepsTheWindowAlive() {
        FakeMailDesktop desktop;
        desktop.setClientSleep(60);
        MailWindow ui;
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(50);
        QElapsedTimer clock;
        clock.start();

        QTest::mouseClick(ui.button, Qt::LeftButton);

        QVERIFY(clock.elapsed() < 10000);
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
        QCOMPARE(desktop.messages().size(), 1);
        QVERIFY(!ui.sheet());
    }

    void fullName_data() {
        QTest::addColumn<Env>("gecos");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name and office") << Env("Jo \"Q\" O'Brien,Room 1,,") << "Jo \"Q\" O'Brien";
        QTest::newRow("Latin-1 bytes") << Env("Zo\xeb,") << "Zoë";
        QTest::newRow("empty name before comma") << Env(",Room 1") << "jo";
        QTest::newRow("no field") << Env() << "jo";
    }
    void fullName() {
        QFETCH(Env, gecos);
        QTEST(fullNameFromPasswordEntry(gecos, "jo"), "expected");
    }

    // The date is United States English on the 12-hour clock, in the local time zone, whatever the
    // user's language.
    void bodyCarriesTheLocalDate() {
        const ScopedEnv timeZone("TZ", "America/Los_Angeles"), all("LC_ALL", "de_DE.UTF-8");
        ScopedLocale scope("de_DE.UTF-8");
        QVERIFY(scope.active());
        const QString body = diagnosticsMailBody(QDateTime::fromString("2026-12-07T02:47:00Z", Qt::ISODate));
        QVERIFY2(body.startsWith("Attached is the Keyloft 4 Diagnostics Report generated at "
                                 "December 6, 2026 at 6:47 PM. "),
                 qPrintable(body));
    }
};

QTEST_MAIN(TestDiagnosticsController)
#include "tst_diagnosticscontroller.moc"
