// The mail button of the window: a press hands a message with the current report to the desktop's mail
// program (real xdg-email, fake program) and the window says what to check; a failure shows the sheet on
// the window, in the user's terms, and leaves the button as is.

#include "DiagnosticsController.h"
#include "FakeMailDesktop.h"
#include "MailMessage.h"
#include "support/TestSupport.h"

#include <QtTest>
#include <QtWidgets>

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

} // namespace

class TestDiagnosticsControllerMail : public QObject {
    Q_OBJECT
private slots:
    void pressCreatesTheMessage_data() {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QByteArray>("client");
        QTest::addColumn<QString>("windowText");
        QTest::newRow("report name with quotes and non-ASCII")
            << "Jo \"Q\" O'Brien – Zoë.zip" << QByteArray("fakemail") << "Check that";
        QTest::newRow("no report") << "" << QByteArray("fakemail") << "Check that";
        QTest::newRow("client that drops attachments")
            << "report.zip" << QByteArray("geary") << "Your mail program (Geary) cannot take attachments";
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

        // Two presses make two messages.
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
        QTest::addColumn<std::optional<QString>>("value");
        QTest::addColumn<QString>("told");   // what the sheet says failed
        QTest::addColumn<QString>("reason"); // what the system log says
        QTest::addColumn<int>("clientStarts");
        const QString notStarted = QStringLiteral("Your mail program could not be started.");
        QTest::newRow("client fails")
            << QByteArray("FAKEMAIL_EXIT") << std::optional<QString>("1") << notStarted
            << "the mail program failed (xdg-email exit status 4)" << 1;
        QTest::newRow("no display") << QByteArray("DISPLAY") << std::optional<QString>()
                                    << "No mail program is set up for writing e-mail on this computer."
                                    << "no mail program could be found" << 0;
        QTest::newRow("no xdg-email") << QByteArray("PATH") << std::optional<QString>("/nonexistent")
                                      << notStarted << "xdg-email is not installed" << 0;
    }
    void failureShowsTheSheet() {
        QFETCH(QByteArray, variable);
        QFETCH(std::optional<QString>, value);
        QFETCH(QString, told);
        QFETCH(QString, reason);
        QFETCH(int, clientStarts);
        FakeMailDesktop desktop;
        desktop.makeFile(kReportFolder + "report.zip");
        const std::optional<QString> before = qEnvironmentVariableIsSet(variable)
                                                  ? std::optional(qEnvironmentVariable(variable))
                                                  : std::nullopt;
        desktop.set(variable, value);
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
        desktop.set(variable, before);
        QTest::mouseClick(ui.button, Qt::LeftButton);
        QVERIFY(!ui.sheet());
        QCOMPARE(desktop.messages().size(), clientStarts + 1);
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
};

QTEST_MAIN(TestDiagnosticsControllerMail)
#include "tst_diagnosticscontrollermail.moc"
