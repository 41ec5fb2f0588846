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

QString crlf(QString text) {
    return text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
}

} // namespace

class TestMailService : public QObject {
    Q_OBJECT
private slots:
    void uriEncodesEveryValue_data();
    void uriEncodesEveryValue();
    void clientReceivesTheMessage_data();
    void clientReceivesTheMessage();
    void thunderbirdGetsTheSameValues();
    void failuresAreReported_data();
    void failuresAreReported();
};

void TestMailService::uriEncodesEveryValue_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("uri");
    QTest::newRow("plain") << kName << "Hi"
                           << "Text\n\n"
                           << "mailto:Vantle%20Support%20Jedi%20%3Csupport@keyloft.example.com%3E?subject=Hi&"
                              "body=Text%0D%0A%0D%0A";
    QTest::newRow("reserved characters")
        << ""
        << "a&b=c?d#e%f+g/h"
        << "\"x\" 'y' <z> ;,"
        << "mailto:support@keyloft.example.com?subject=a%26b%3Dc%3Fd%23e%25f%2Bg%2Fh"
           "&body=%22x%22%20%27y%27%20%3Cz%3E%20%3B%2C";
    QTest::newRow("line breaks of every kind")
        << ""
        << "s"
        << "a\r\nb\rc\n"
        << "mailto:support@keyloft.example.com?subject=s&body=a%0D%0Ab%0D%0Ac%0D%0A";
    QTest::newRow("non-ASCII as UTF-8")
        << "Zoë"
        << "日本"
        << "😀"
        << "mailto:Zo%C3%AB%20%3Csupport@keyloft.example.com%3E?subject=%E6%97%A5%E6%9C%AC"
           "&body=%F0%9F%98%80";
}

void TestMailService::uriEncodesEveryValue() {
    QFETCH(QString, name);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, uri);
    QCOMPARE(vt_mailtoURI(VTMailMessage{name, kAddress, subject, body, std::nullopt}), uri);
}

void TestMailService::clientReceivesTheMessage_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("attachment"); // relative to the temporary root; empty: none
    const QString body = QStringLiteral("Attached is the report. Please include a short description.\n\n");
    QTest::newRow("quote and apostrophe in the name")
        << "Keyloft 4 Diagnostics Report for Jo \"Q\" O'Brien" << body << "Diagnostics/report.zip";
    QTest::newRow("shell and URI characters")
        << "R&D = 100% + #1? $(id) `id` \\n ; | *" << body << "Diagnostics/report.zip";
    QTest::newRow("path with spaces, quotes and non-ASCII")
        << "Report" << body << "Dia gnostics/O'Brien \"Zoë\" 日本 & co.zip";
    QTest::newRow("non-ASCII name") << "Keyloft 4 Diagnostics Report for Zoë Ångström 李" << body
                                    << "Diagnostics/report.zip";
    QTest::newRow("no report") << "Report" << body << "";
    QTest::newRow("body lines and trailing blank lines") << "Report"
                                                         << "one\ntwo\n\n\n"
                                                         << "r.zip";
}

void TestMailService::clientReceivesTheMessage() {
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
    QCOMPARE(mail.fields.value("body"), crlf(body));
    QCOMPARE(mail.fields.value("attach"), path.value_or(QString()));
    QCOMPARE(mail.fields.contains("attach"), path.has_value());
}

// xdg-email rewrites the URI into Thunderbird's own -compose syntax; the encoded values must pass intact.
void TestMailService::thunderbirdGetsTheSameValues() {
    FakeMailDesktop desktop;
    desktop.setClientProgramName("thunderbird");
    const QString path = desktop.makeFile("Dia gnostics/report 1.zip");
    const VTMailMessage mail = message("Jo \"Q\" O'Brien, R&D", "Hi,\n\n", path);

    const VTMailError error = vt_composeMail(mail);

    QVERIFY2(!error, qPrintable(error.value_or(QString())));
    const QList<FakeMailDesktop::Message> received = desktop.messages();
    QCOMPARE(received.size(), 1);
    QCOMPARE(received[0].arguments,
             QStringList({"-compose", "to='" + kName + " <" + kAddress +
                                          ">,',subject=Jo%20%22Q%22%20O%27Brien%2C%20R%26D,"
                                          "body=Hi%2C%0D%0A%0D%0A,attachment='" +
                                          path + "'"}));
}

void TestMailService::failuresAreReported_data() {
    QTest::addColumn<int>("clientExit");
    QTest::addColumn<QString>("clientSays");
    QTest::addColumn<bool>("display");
    QTest::addColumn<bool>("reportExists");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("messages");
    QTest::newRow("client fails and says why")
        << 1 << "fakemail: profile is locked" << true << true
        << "The mail client failed (xdg-email exit status 4): fakemail: profile is locked" << 1;
    QTest::newRow("client succeeds but complains") << 0 << "Gtk-WARNING: no theme" << true << true << "" << 1;
    QTest::newRow("no display")
        << 0 << "" << false << true
        << "No mail client could be found (no desktop session, or no mail client is set "
           "up) (xdg-email exit status 3): xdg-email: no method available for opening 'mailto:"
        << 0;
    QTest::newRow("report vanished") << 0 << "" << true << false
                                     << "The report file to attach does not exist (xdg-email exit status 2)"
                                     << 0;
}

void TestMailService::failuresAreReported() {
    QFETCH(int, clientExit);
    QFETCH(QString, clientSays);
    QFETCH(bool, display);
    QFETCH(bool, reportExists);
    QFETCH(QString, expected);
    QFETCH(int, messages);
    FakeMailDesktop desktop;
    desktop.setClientExit(clientExit);
    if (!clientSays.isEmpty())
        desktop.set("FAKEMAIL_STDERR", clientSays);
    if (!display)
        desktop.set("DISPLAY", std::nullopt);
    const QString path = reportExists ? desktop.makeFile("report.zip") : desktop.root() + "/gone.zip";

    const VTMailError error = vt_composeMail(message("s", "b\n\n", path));

    // Only the exit status decides; error output merely explains a failure.
    QCOMPARE(error.has_value(), !expected.isEmpty());
    if (error)
        QVERIFY2(error->startsWith(expected), qPrintable(*error));
    QCOMPARE(desktop.messages().size(), messages);
}

QTEST_MAIN(TestMailService)
#include "tst_mailservice.moc"
