// The message to support: its texts, the date for fixed moments in several zones and languages, sending
// through the real xdg-email to a fake client, the logged error and the failure sheet.

#include "FakeMailDesktop.h"
#include "MailMessage.h"
#include "support/TestSupport.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include <ctime>

Q_DECLARE_METATYPE(std::optional<QByteArray>)
Q_DECLARE_METATYPE(std::optional<QUrl>)

namespace {

// Switches the process's time zone for the scope.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const QByteArray& zone) : env_("TZ", zone) { tzset(); }
    ~ScopedTimeZone() { tzset(); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    ScopedEnv env_;
};

QDateTime utc(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toLocalTime();
}

const QString kExpectedBody = QStringLiteral(
    "Attached is the Keyloft 4 Diagnostics Report generated at December 6, 2026 at 6:47 PM. Please include a "
    "short description of the problem so we can ensure we're looking for the correct issue.\n\n");

} // namespace

class TestMailMessage : public QObject {
    Q_OBJECT
private slots:
    void fullName_data();
    void fullName();
    void dateInSeveralZones_data();
    void dateInSeveralZones();
    void bodyIsEnglishWhateverTheLanguage_data();
    void bodyIsEnglishWhateverTheLanguage();
    void subjectNamesTheUser();
    void attachmentFromTheReportURL_data();
    void attachmentFromTheReportURL();
    void sendReachesTheClient();
    void sendFailureIsDescribedAndLogged_data();
    void sendFailureIsDescribedAndLogged();
    void failureSheet();
};

void TestMailMessage::fullName_data() {
    QTest::addColumn<std::optional<QByteArray>>("gecos");
    QTest::addColumn<QString>("expected");
    using G = std::optional<QByteArray>;
    QTest::newRow("name and office") << G("Jo \"Q\" O'Brien,Room 1,,") << "Jo \"Q\" O'Brien";
    QTest::newRow("name only") << G("Zoë Müller") << "Zoë Müller";
    QTest::newRow("Latin-1 bytes") << G("Zo\xeb,") << "Zoë";
    QTest::newRow("empty name before comma") << G(",Room 1") << "jo";
    QTest::newRow("empty field") << G("") << "jo";
    QTest::newRow("no field") << G() << "jo";
}

void TestMailMessage::fullName() {
    QFETCH(std::optional<QByteArray>, gecos);
    QFETCH(QString, expected);
    QCOMPARE(fullNameFromPasswordEntry(gecos, "jo"), expected);
}

void TestMailMessage::dateInSeveralZones_data() {
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("moment");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Los Angeles, winter") << QByteArray("America/Los_Angeles") << "2026-12-07T02:47:00Z"
                                         << "December 6, 2026 at 6:47 PM";
    QTest::newRow("Los Angeles, summer time") << QByteArray("America/Los_Angeles") << "2026-07-04T16:05:00Z"
                                              << "July 4, 2026 at 9:05 AM";
    QTest::newRow("Berlin, next day") << QByteArray("Europe/Berlin") << "2026-12-07T02:47:00Z"
                                      << "December 7, 2026 at 3:47 AM";
    QTest::newRow("Kolkata, half hour") << QByteArray("Asia/Kolkata") << "2026-12-07T02:47:00Z"
                                        << "December 7, 2026 at 8:17 AM";
    QTest::newRow("midnight") << QByteArray("UTC") << "2027-01-01T00:05:00Z"
                              << "January 1, 2027 at 12:05 AM";
    QTest::newRow("noon") << QByteArray("UTC") << "2026-03-09T12:00:00Z"
                          << "March 9, 2026 at 12:00 PM";
}

void TestMailMessage::dateInSeveralZones() {
    QFETCH(QByteArray, zone);
    QFETCH(QString, moment);
    QFETCH(QString, expected);
    ScopedTimeZone scope(zone);
    QCOMPARE(mailDateText(utc(moment.toLatin1().constData())), expected);
}

void TestMailMessage::bodyIsEnglishWhateverTheLanguage_data() {
    QTest::addColumn<QByteArray>("locale");
    QTest::newRow("German") << QByteArray("de_DE.UTF-8");
    QTest::newRow("Japanese") << QByteArray("ja_JP.UTF-8");
    QTest::newRow("Arabic") << QByteArray("ar_EG.UTF-8");
}

void TestMailMessage::bodyIsEnglishWhateverTheLanguage() {
    QFETCH(QByteArray, locale);
    ScopedTimeZone zone("America/Los_Angeles");
    ScopedEnv lang("LANG", locale);
    ScopedEnv all("LC_ALL", locale);
    ScopedLocale scope(locale.constData());
    QVERIFY2(scope.active(), locale.constData());
    QCOMPARE(diagnosticsMailBody(utc("2026-12-07T02:47:00Z")), kExpectedBody);
}

void TestMailMessage::subjectNamesTheUser() {
    QCOMPARE(diagnosticsMailSubject("Jo \"Q\" O'Brien %@ %s"),
             "Keyloft 4 Diagnostics Report for Jo \"Q\" O'Brien %@ %s");
}

void TestMailMessage::attachmentFromTheReportURL_data() {
    QTest::addColumn<std::optional<QUrl>>("url");
    QTest::addColumn<std::optional<QString>>("path");
    QTest::newRow("report") << std::optional<QUrl>(
                                   QUrl::fromLocalFile("/h/Keyloft 4/Diagnostics/r \"1\".zip"))
                            << std::optional<QString>("/h/Keyloft 4/Diagnostics/r \"1\".zip");
    QTest::newRow("no report") << std::optional<QUrl>() << std::optional<QString>();
    QTest::newRow("empty URL") << std::optional<QUrl>(QUrl()) << std::optional<QString>();
    QTest::newRow("not a file") << std::optional<QUrl>(QUrl("https://example.com/r.zip"))
                                << std::optional<QString>();
}

void TestMailMessage::attachmentFromTheReportURL() {
    QFETCH(std::optional<QUrl>, url);
    QFETCH(std::optional<QString>, path);
    const VTMailMessage message = supportMailMessage("s", "b", url);
    QCOMPARE(message.attachmentPath, path);
    QCOMPARE(message.recipientName, "Vantle Support Jedi");
    QCOMPARE(message.recipientAddress, kSupportAddress);
}

void TestMailMessage::sendReachesTheClient() {
    FakeMailDesktop desktop;
    SystemLogCapture log;
    const QString report = desktop.makeFile("Keyloft 4/Diagnostics/report.zip");
    const QString subject = diagnosticsMailSubject("Jo \"Q\" O'Brien");
    const std::optional<QString> error = sendSupportMail(subject, kExpectedBody, QUrl::fromLocalFile(report));
    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    QCOMPARE(log.messages(), QStringList());
    const QList<FakeMailDesktop::Message> received = desktop.messages();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].to, QString("Vantle Support Jedi <%1>").arg(kSupportAddress));
    QCOMPARE(received[0].fields.value("subject"), subject);
    QCOMPARE(received[0].fields.value("body"), QString(kExpectedBody).replace("\n", "\r\n"));
    QCOMPARE(received[0].fields.value("attach"), report);
}

void TestMailMessage::sendFailureIsDescribedAndLogged_data() {
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("expected");
    QTest::newRow("client fails")
        << "client"
        << "Error emailing Diagnostics Report: The mail client failed (xdg-email exit "
           "status 4)";
    QTest::newRow("no display")
        << "display"
        << "Error emailing Diagnostics Report: No mail client could be found (no desktop "
           "session, or no mail client is set up) (xdg-email exit status 3)";
    QTest::newRow("no xdg-email")
        << "install"
        << "Error emailing Diagnostics Report: xdg-email is not installed (it comes "
           "with the xdg-utils package)";
}

void TestMailMessage::sendFailureIsDescribedAndLogged() {
    QFETCH(QString, failure);
    QFETCH(QString, expected);
    FakeMailDesktop desktop;
    if (failure == "client")
        desktop.setClientExit(1);
    if (failure == "display")
        desktop.set("DISPLAY", std::nullopt);
    if (failure == "install")
        desktop.set("PATH", desktop.root() + "/bin"); // only the fake client lives there
    SystemLogCapture log;

    const std::optional<QString> error = sendSupportMail("s", "b", std::nullopt);

    QVERIFY(error);
    QVERIFY2(error->startsWith(expected), qPrintable(*error));
    QCOMPARE(log.messages(), QStringList{*error});
}

void TestMailMessage::failureSheet() {
    QWidget window;
    window.show();
    const QString error =
        errorTextualForm(kMailErrorDomain, kMailErrorCode, "Error emailing Diagnostics Report: x");
    QCOMPARE(error, "Error Domain=KLTroubleshooting Code=100 \"Error emailing Diagnostics Report: x\"");

    QPointer<QMessageBox> box = showMailFailureSheet(&window, error);

    QVERIFY(box);
    QVERIFY(box->isVisible());
    QCOMPARE(box->parentWidget(), &window);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->text(), "Error Creating Email");
    QCOMPARE(
        box->informativeText(),
        QString("Unable to automatically create a Mail message. Please drag and drop the report icon into "
                "Mail and send it to %1.\n\nError: %2")
            .arg(kSupportAddress, error));
    const QList<QAbstractButton*> buttons = box->buttons();
    QCOMPARE(buttons.size(), 1);
    QCOMPARE(buttons[0]->text(), "OK");
    buttons[0]->click();
    QTRY_VERIFY(box.isNull()); // dismissed and gone: a later press starts afresh
}

QTEST_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
