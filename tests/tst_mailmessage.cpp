// The message to support: the user's full name, and the date for fixed moments in several zones and
// languages. Sending it is tested through the mail button (tst_diagnosticscontrollermail).

#include "MailMessage.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <ctime>

Q_DECLARE_METATYPE(std::optional<QByteArray>)

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

QTEST_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
