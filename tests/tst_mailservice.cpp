// The mail service against the real xdg-email and xdg-mime, with fake mail programs registered as the
// desktop's mailto handler: each known program must read the report from its own command line, an
// unknown one gets it through xdg-email.

#include "FakeMailDesktop.h"
#include "Platform/DesktopCommand.h"
#include "Platform/MailService.h"

#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

const QString kName = QStringLiteral("Vantle Support Jedi");
const QString kAddress = QStringLiteral("support@keyloft.example.com");

VTMailMessage message(const QString& subject, const QString& body, const std::optional<QString>& path) {
    return VTMailMessage{kName, kAddress, subject, body, path};
}

QString localFile(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    return parsed.isLocalFile() ? parsed.toLocalFile() : u"<not a file URL: "_qs + url + u'>';
}

// What a mail program makes of its arguments, read the way its documentation describes: an xdg-email
// mailto URI with attach=<path>; Thunderbird's -compose "to='…',subject=…,body=…,attachment='URL'" (fields
// split at commas outside single quotes); kmail --attach URL mailto; sylpheed --compose mailto --attach
// FILE; mutt -a FILE -- mailto. Answers recipient, subject, body and attachments, one to a line.
QStringList readArguments(const QString& syntax, const FakeMailDesktop::Message& start) {
    const QStringList& a = start.arguments;
    QStringList read{start.to, start.fields.value("subject"), start.fields.value("body")};
    if (syntax == "xdg-email" && a.size() == 1)
        return read << start.fields.value("attach");
    if (syntax == "kmail" && a.size() == 3 && a[0] == "--attach")
        return read << localFile(a[1]);
    if (syntax == "sylpheed" && a.size() >= 4 && a[0] == "--compose" && a[2] == "--attach")
        return read + a.mid(3);
    if (syntax == "mutt" && a.size() >= 4 && a[0] == "-a" && a.indexOf("--") > 1)
        return read + a.mid(1, a.indexOf("--") - 1);
    if (syntax != "thunderbird" || a.size() != 2 || a[0] != "-compose")
        return {u"<not read: "_qs + a.join(u' ') + u'>'};
    static const QRegularExpression field(u"(\\w+)=('[^']*'|[^,]*)"_qs);
    QMap<QString, QString> values;
    for (const QRegularExpressionMatch& match : field.globalMatch(a[1]))
        values.insert(match.captured(1), match.captured(2).remove(u'\''));
    read = QStringList{values.value("to"), FakeMailDesktop::percentDecoded(values.value("subject")),
                       FakeMailDesktop::percentDecoded(values.value("body"))};
    for (const QString& url : values.value("attachment").split(',', Qt::SkipEmptyParts))
        read << localFile(url);
    return read;
}

} // namespace

class TestMailService : public QObject {
    Q_OBJECT
private slots:
    // Each known mail program, registered under its usual program name, reads the same message and the
    // report from its own command line, whatever the texts and the report's folder hold; an unknown one
    // gets them through xdg-email. Every kind of line break goes out as CRLF.
    void clientReadsTheMessageInItsOwnSyntax_data() {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<QString>("syntax");
        QTest::addColumn<QString>("clientName");
        QTest::addColumn<bool>("attachmentTaken");
        const auto row = [](const char* program, bool terminal, const char* syntax, const char* client,
                            bool attachmentTaken) {
            QTest::newRow(program) << QByteArray(program) << terminal << QString(syntax) << QString(client)
                                   << attachmentTaken;
        };
        row("thunderbird", false, "thunderbird", "Thunderbird", true);
        row("kmail", false, "kmail", "KMail", true);
        row("sylpheed", false, "sylpheed", "Sylpheed", true);
        row("geary", false, "xdg-email", "Geary", false);
        row("neomutt", true, "mutt", "NeoMutt", true); // in a terminal
        row("fakemail", false, "xdg-email", "", true); // unknown
    }
    void clientReadsTheMessageInItsOwnSyntax() {
        QFETCH(QByteArray, program);
        QFETCH(bool, terminal);
        QFETCH(QString, syntax);
        FakeMailDesktop desktop;
        desktop.setClient(program, program + ".desktop", terminal);
        const QString path = desktop.makeFile("Smith, Jo/O'Brien \"Zoë\" Ærø 日本/Keyloft 4 Diagnostics.zip");
        const QString subject =
            QStringLiteral("Report for Jo \"Q\" O'Brien, Zoë 李 R&D = 100% + #1? $(id) `id` \\n ; | *");

        const VTMailResult result = vt_composeMail(message(subject, "one\r\ntwo\rthree\n\n", path));

        QVERIFY2(!result.failure, qPrintable(result.reason));
        QTEST(result.clientName, "clientName");
        QTEST(result.attachmentTaken, "attachmentTaken");
        QList<FakeMailDesktop::Message> starts = desktop.messages();
        if (terminal) { // the terminal emulator runs the client with its arguments
            QVERIFY(!starts.isEmpty());
            QCOMPARE(starts.takeFirst().arguments.mid(0, 2),
                     QStringList({"-e", desktop.root() + "/bin/" + program}));
        }
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts[0].program, QString::fromLatin1(program));
        QCOMPARE(readArguments(syntax, starts[0]),
                 QStringList({kName + " <" + kAddress + ">", subject, "one\r\ntwo\r\nthree\r\n\r\n", path}));
    }

    // What failed is told in the user's terms; the reason for the log says why without repeating the
    // message. Only the exit status decides; error output merely explains a failure.
    void failuresAreReported_data() {
        QTest::addColumn<QByteArray>("program"); // the default mail program; a known one is started directly
        QTest::addColumn<int>("clientExit");
        QTest::addColumn<QString>("clientSays");
        QTest::addColumn<bool>("display");
        QTest::addColumn<bool>("reportExists");
        QTest::addColumn<bool>("childrenIgnored"); // SIGCHLD ignored: the kernel reaps every child itself
        QTest::addColumn<std::optional<VTMailFailure>>("failure");
        QTest::addColumn<QString>("reason");
        using F = std::optional<VTMailFailure>;
        const auto row = [](const char* name, const char* program, int exit, const char* says, bool display,
                            bool report, bool ignored, F failure, const char* reason) {
            QTest::newRow(name) << QByteArray(program) << exit << QString::fromUtf8(says) << display << report
                                << ignored << failure << QString::fromUtf8(reason);
        };
        row("client fails and says why", "fakemail", 1, "fakemail: profile is locked", true, true, false,
            VTMailFailure::NotStarted,
            "the mail program failed (xdg-email exit status 4): fakemail: profile is locked");
        row("known client fails", "sylpheed", 3, "sylpheed: cannot lock", true, true, false,
            VTMailFailure::NotStarted, "Sylpheed (");
        row("client succeeds but complains", "fakemail", 0, "Gtk-WARNING: no theme", true, true, false, F(),
            "");
        row("no display", "fakemail", 0, "", false, true, false, VTMailFailure::NoMailProgram,
            "no mail program could be found (no desktop session, or none is set up) (xdg-email exit "
            "status 3): xdg-email: no method available for opening 'mailto:…'");
        row("report vanished", "fakemail", 0, "", true, false, false, VTMailFailure::ReportUnreadable,
            "the report file to attach does not exist (xdg-email exit status 2)");
        row("exit status reaped by the kernel", "fakemail", 1, "", true, true, true,
            VTMailFailure::NotStarted, "xdg-email ended, but its exit status could not be collected");
    }
    void failuresAreReported() {
        QFETCH(QByteArray, program);
        QFETCH(int, clientExit);
        QFETCH(QString, clientSays);
        QFETCH(bool, display);
        QFETCH(bool, reportExists);
        QFETCH(bool, childrenIgnored);
        QFETCH(QString, reason);
        FakeMailDesktop desktop;
        desktop.setClient(program, program + ".desktop");
        desktop.setClientExit(clientExit);
        desktop.set("FAKEMAIL_STDERR", clientSays);
        desktop.set("DISPLAY", display ? std::optional(qEnvironmentVariable("DISPLAY")) : std::nullopt);
        const QString path = reportExists ? desktop.makeFile("report.zip") : desktop.root() + "/gone.zip";

        struct sigaction ignore {
        }, previous{};
        ignore.sa_handler = childrenIgnored ? SIG_IGN : SIG_DFL;
        ::sigaction(SIGCHLD, &ignore, &previous);
        const VTMailResult result = vt_composeMail(message("s", "b\n\n", path));
        ::sigaction(SIGCHLD, &previous, nullptr);

        QTEST(result.failure, "failure");
        QVERIFY2(reason.isEmpty() ? result.reason.isEmpty() : result.reason.startsWith(reason),
                 qPrintable(result.reason));
        QVERIFY2(!result.reason.contains("subject="), qPrintable(result.reason));
        QCOMPARE(desktop.messages().size(), display && reportExists ? 1 : 0); // the client started or not
    }

    // A client that stays open and keeps writing to the output it inherited from xdg-email must not make
    // that output grow: it lives in memory for as long as the client runs.
    void chattyClientCannotGrowMemory() {
        FakeMailDesktop desktop;
        desktop.setClientSleep(60);
        desktop.set("FAKEMAIL_FLOOD", QStringLiteral("16"));

        const VTMailResult result =
            vt_composeMail(message("s", "b", desktop.makeFile("report.zip")), std::chrono::milliseconds(500));

        QVERIFY2(!result.failure, qPrintable(result.reason));
        QTRY_COMPARE(desktop.messages().size(), 1);
        const qint64 client = desktop.messages()[0].pid;
        QTRY_VERIFY_WITH_TIMEOUT(desktop.floodedBytes(client).has_value(), 20000);
        QVERIFY(*desktop.floodedBytes(client) <= 2 * kVTDesktopCommandOutputLimit);
        for (const int fd : {1, 2}) {
            struct stat file {};
            QCOMPARE(::stat(qPrintable(QStringLiteral("/proc/%1/fd/%2").arg(client).arg(fd)), &file), 0);
            QVERIFY2(file.st_blocks * 512 <= kVTDesktopCommandOutputLimit + 4096,
                     qPrintable(QString::number(file.st_blocks * 512)));
        }
        // This process keeps none of the client's output open.
        for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            QVERIFY2(!fd.symLinkTarget().contains("keyloft-desktop-command"), qPrintable(fd.symLinkTarget()));
    }
};

QTEST_MAIN(TestMailService)
#include "tst_mailservice.moc"
