// The mail service against the real xdg-email, with a fake mail client registered as the desktop's
// mailto handler.

#include "FakeMailDesktop.h"
#include "Platform/MailService.h"

#include <QtTest>

namespace {

const QString kName = QStringLiteral("Vantle Support Jedi");
const QString kAddress = QStringLiteral("support@keyloft.example.com");

VTMailMessage message(const QString& subject, const QString& body, const std::optional<QString>& path) {
    return VTMailMessage{kName, kAddress, subject, body, path};
}

} // namespace

class TestMailService : public QObject {
    Q_OBJECT
private slots:
    // Every kind of line break goes out as CRLF; the rest of the encoding is checked at the client.
    void lineBreaksOfEveryKindBecomeCrlf() {
        QCOMPARE(vt_mailtoURI(VTMailMessage{"", kAddress, "s", "a\r\nb\rc\n", std::nullopt}),
                 "mailto:" + kAddress + "?subject=s&body=a%0D%0Ab%0D%0Ac%0D%0A");
    }

    void clientReceivesTheMessage_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("attachment"); // relative to the temporary root; empty: none
        const QString body =
            QStringLiteral("Attached is the report. Please include a short description.\n\n");
        const auto row = [&body](const char* name, const char* subject, const char* attachment,
                                 const char* otherBody = nullptr) {
            QTest::newRow(name) << QString::fromUtf8(subject)
                                << (otherBody ? QString::fromUtf8(otherBody) : body)
                                << QString::fromUtf8(attachment);
        };
        row("quote, apostrophe, shell and URI characters",
            "Keyloft 4 Diagnostics Report for Jo \"Q\" O'Brien, R&D = 100% + #1? $(id) `id` \\n ; | *",
            "Diagnostics/report.zip");
        row("non-ASCII name", "Keyloft 4 Diagnostics Report for Zoë Ångström 李", "Diagnostics/report.zip");
        row("path with spaces, quotes and non-ASCII", "Report", "Dia gnostics/O'Brien \"Zoë\" 日本 & co.zip");
        row("no report", "Report", "");
        row("body lines and trailing blank lines", "Report", "r.zip", "one\ntwo\n\n\n");
    }

    void clientReceivesTheMessage() {
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QString, attachment);
        FakeMailDesktop desktop;
        const std::optional<QString> path =
            attachment.isEmpty() ? std::nullopt : std::optional<QString>(desktop.makeFile(attachment));
        const VTMailError error = vt_composeMail(message(subject, body, path));
        QVERIFY2(!error, qPrintable(error.value_or(QString())));

        const QList<FakeMailDesktop::Message> received = desktop.messages();
        QCOMPARE(received.size(), 1);
        const FakeMailDesktop::Message& mail = received.first();
        QCOMPARE(mail.arguments.size(), 1); // the URI alone: nothing split it into several words
        QCOMPARE(mail.to, kName + " <" + kAddress + ">");
        QCOMPARE(mail.fields.value("subject"), subject);
        QCOMPARE(mail.fields.value("body"), body.replace("\n", "\r\n"));
        QCOMPARE(mail.fields.value("attach"), path.value_or(QString()));
        QCOMPARE(mail.fields.contains("attach"), path.has_value());
    }

    // xdg-email rewrites the URI into Thunderbird's own -compose syntax; the encoded values must pass intact.
    void thunderbirdGetsTheSameValues() {
        FakeMailDesktop desktop;
        desktop.setClientProgramName("thunderbird");
        const QString path = desktop.makeFile("Dia gnostics/report 1.zip");
        const VTMailError error = vt_composeMail(message("Jo \"Q\" O'Brien, R&D", "Hi,\n\n", path));
        QVERIFY2(!error, qPrintable(error.value_or(QString())));
        const QList<FakeMailDesktop::Message> received = desktop.messages();
        QCOMPARE(received.size(), 1);
        QCOMPARE(received[0].arguments,
                 QStringList({"-compose", "to='" + kName + " <" + kAddress +
                                              ">,',subject=Jo%20%22Q%22%20O%27Brien%2C%20R%26D,"
                                              "body=Hi%2C%0D%0A%0D%0A,attachment='" +
                                              path + "'"}));
    }

    void failuresAreReported_data() {
        QTest::addColumn<int>("clientExit");
        QTest::addColumn<QString>("clientSays");
        QTest::addColumn<bool>("display");
        QTest::addColumn<bool>("reportExists");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, int exit, const char* says, bool display, bool report,
                            const char* expected) {
            QTest::newRow(name) << exit << QString::fromUtf8(says) << display << report
                                << QString::fromUtf8(expected);
        };
        row("client fails and says why", 1, "fakemail: profile is locked", true, true,
            "The mail client failed (xdg-email exit status 4): fakemail: profile is locked");
        row("client succeeds but complains", 0, "Gtk-WARNING: no theme", true, true, "");
        row("no display", 0, "", false, true,
            "No mail client could be found (no desktop session, or no mail client is set up) (xdg-email exit "
            "status 3): xdg-email: no method available for opening 'mailto:");
        row("report vanished", 0, "", true, false,
            "The report file to attach does not exist (xdg-email exit status 2)");
    }

    void failuresAreReported() {
        QFETCH(int, clientExit);
        QFETCH(QString, clientSays);
        QFETCH(bool, display);
        QFETCH(bool, reportExists);
        QFETCH(QString, expected);
        FakeMailDesktop desktop;
        desktop.setClientExit(clientExit);
        desktop.set("FAKEMAIL_STDERR", clientSays);
        if (!display)
            desktop.set("DISPLAY", std::nullopt);
        const QString path = reportExists ? desktop.makeFile("report.zip") : desktop.root() + "/gone.zip";

        const VTMailError error = vt_composeMail(message("s", "b\n\n", path));

        // Only the exit status decides; error output merely explains a failure.
        QVERIFY2(expected.isEmpty() ? !error : error && error->startsWith(expected),
                 qPrintable(error.value_or("no error")));
        QCOMPARE(desktop.messages().size(), display && reportExists ? 1 : 0); // the client started or not
    }
};

QTEST_MAIN(TestMailService)
#include "tst_mailservice.moc"
