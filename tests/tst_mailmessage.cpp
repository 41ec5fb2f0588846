// The message to support: the user's full name, and the body's date for fixed moments in several zones and
// languages. Sending it is tested through the mail button (tst_diagnosticscontrollermail).

#include "MailMessage.h"
#include "support/TestSupport.h"

#include <QtTest>

class TestMailMessage : public QObject {
    Q_OBJECT
private slots:
    void fullName_data() {
        QTest::addColumn<std::optional<QByteArray>>("gecos");
        QTest::addColumn<QString>("expected");
        using G = std::optional<QByteArray>;
        QTest::newRow("name and office") << G("Jo \"Q\" O'Brien,Room 1,,") << "Jo \"Q\" O'Brien";
        QTest::newRow("Latin-1 bytes") << G("Zo\xeb,") << "Zoë";
        QTest::newRow("empty name before comma") << G(",Room 1") << "jo";
        QTest::newRow("no field") << G() << "jo";
    }
    void fullName() {
        QFETCH(std::optional<QByteArray>, gecos);
        QFETCH(QString, expected);
        QCOMPARE(fullNameFromPasswordEntry(gecos, "jo"), expected);
    }

    // The date is United States English in the local time zone, whatever the user's language.
    void bodyCarriesTheLocalDate_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QString>("moment");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const char* zone, const char* locale, const char* moment,
                            const char* expected) {
            QTest::newRow(name) << QByteArray(zone) << QByteArray(locale) << QString::fromLatin1(moment)
                                << QString::fromLatin1(expected);
        };
        row("Los Angeles, German", "America/Los_Angeles", "de_DE.UTF-8", "2026-12-07T02:47:00Z",
            "December 6, 2026 at 6:47 PM");
        row("Kolkata, half hour", "Asia/Kolkata", "C.UTF-8", "2026-12-07T02:47:00Z",
            "December 7, 2026 at 8:17 AM");
        row("midnight", "UTC", "C.UTF-8", "2027-01-01T00:05:00Z", "January 1, 2027 at 12:05 AM");
    }
    void bodyCarriesTheLocalDate() {
        QFETCH(QByteArray, zone);
        QFETCH(QByteArray, locale);
        QFETCH(QString, moment);
        QFETCH(QString, expected);
        ScopedEnv timeZone("TZ", zone);
        ScopedEnv all("LC_ALL", locale);
        ScopedLocale scope(locale.constData());
        QVERIFY2(scope.active(), locale.constData());
        const QString body = diagnosticsMailBody(QDateTime::fromString(moment, Qt::ISODate));
        QVERIFY2(
            body.startsWith("Attached is the Keyloft 4 Diagnostics Report generated at " + expected + ". "),
            qPrintable(body));
    }
};

QTEST_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
