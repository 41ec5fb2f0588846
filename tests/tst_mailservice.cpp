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
const QString kRecipient = kName + " <" + kAddress + ">";

VTMailMessage message(const QString& subject, const QString& body, const std::optional<QString>& path) {
    return VTMailMessage{kName, kAddress, subject, body, path};
}

// How each kind of mail program reads its command line, written from its documentation.
enum class Syntax {
    XdgEmail,    // one mailto URI with attach=<percent-encoded path>
    Thunderbird, // -compose "to='…',subject=…,body=…,attachment='URL[,URL…]'"
    KMail,       // --attach URL mailto
    Sylpheed,    // --compose mailto --attach FILE…
    Mutt,        // -a FILE… -- mailto
};

// What a mail program makes of its arguments.
struct Read {
    QString to;
    QString subject;
    QString body;
    QStringList attachments;
};

QString decoded(const QString& text) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toLatin1()));
}

QString localFile(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    return parsed.isLocalFile() ? parsed.toLocalFile() : QStringLiteral("<not a file URL: %1>").arg(url);
}

// Thunderbird's field list: key=value pairs split at commas outside single quotes; the attachment value is
// itself a comma-separated list of URLs.
Read readThunderbird(const QString& fields) {
    QMap<QString, QString> values;
    QString current;
    bool quoted = false;
    for (const QChar c : fields + QLatin1Char(',')) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(',') && !quoted) {
            values.insert(current.section('=', 0, 0), current.section('=', 1));
            current.clear();
        } else {
            current += c;
        }
    }
    Read read{values.value("to"), decoded(values.value("subject")), decoded(values.value("body")), {}};
    for (const QString& url : values.value("attachment").split(',', Qt::SkipEmptyParts))
        read.attachments << localFile(url);
    return read;
}

Read readArguments(Syntax syntax, const FakeMailDesktop::Message& start) {
    const QStringList& a = start.arguments;
    Read read{start.to, start.fields.value("subject"), start.fields.value("body"), {}};
    switch (syntax) {
    case Syntax::XdgEmail:
        if (a.size() == 1)
            read.attachments << start.fields.value("attach");
        break;
    case Syntax::Thunderbird:
        return a.size() == 2 && a[0] == "-compose" ? readThunderbird(a[1]) : Read{};
    case Syntax::KMail:
        if (a.size() == 3 && a[0] == "--attach")
            read.attachments << localFile(a[1]);
        break;
    case Syntax::Sylpheed:
        if (a.size() >= 4 && a[0] == "--compose" && a[2] == "--attach")
            read.attachments = a.mid(3);
        break;
    case Syntax::Mutt:
        if (a.size() >= 4 && a[0] == "-a" && a.indexOf("--") > 1)
            read.attachments = a.mid(1, a.indexOf("--") - 1);
        break;
    }
    return read;
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

    // Each known mail program, registered under its usual program name, reads the same message and the
    // report from its own command line, whatever the texts and the report's folder hold; an unknown one
    // gets them through xdg-email.
    void clientReadsTheMessageInItsOwnSyntax_data() {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QByteArray>("desktopId");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<Syntax>("syntax");
        QTest::addColumn<QString>("clientName");
        QTest::addColumn<bool>("attachmentTaken");
        const auto row = [](const char* program, const char* desktopId, bool terminal, Syntax syntax,
                            const char* name, bool taken = true) {
            QTest::newRow(name) << QByteArray(program) << QByteArray(desktopId) << terminal << syntax
                                << QString::fromUtf8(name) << taken;
        };
        row("thunderbird", "thunderbird.desktop", false, Syntax::Thunderbird, "Thunderbird");
        row("evolution", "org.gnome.Evolution.desktop", false, Syntax::XdgEmail, "Evolution");
        row("kmail", "org.kde.kmail2.desktop", false, Syntax::KMail, "KMail");
        row("claws-mail", "claws-mail.desktop", false, Syntax::XdgEmail, "Claws Mail");
        row("sylpheed", "sylpheed.desktop", false, Syntax::Sylpheed, "Sylpheed");
        row("geary", "org.gnome.Geary.desktop", false, Syntax::XdgEmail, "Geary", false);
        row("mutt", "mutt.desktop", true, Syntax::Mutt, "Mutt");
        row("neomutt", "neomutt.desktop", true, Syntax::Mutt, "NeoMutt");
        row("fakemail", "fakemail.desktop", false, Syntax::XdgEmail, "");
    }

    void clientReadsTheMessageInItsOwnSyntax() {
        QFETCH(QByteArray, program);
        QFETCH(QByteArray, desktopId);
        QFETCH(bool, terminal);
        QFETCH(Syntax, syntax);
        QFETCH(QString, clientName);
        QFETCH(bool, attachmentTaken);
        FakeMailDesktop desktop;
        desktop.setClient(program, desktopId, terminal);
        const QString path = desktop.makeFile("Smith, Jo/O'Brien \"Zoë\" Ærø 日本/Keyloft 4 Diagnostics.zip");
        const QString subject = QStringLiteral("Keyloft 4 Diagnostics Report for Jo \"Q\" O'Brien, Zoë 李 "
                                               "R&D = 100% + #1? $(id) `id` \\n ; | *");
        const QString body = QStringLiteral("Attached is the report.\none\ntwo\n\n\n");

        const VTMailResult result = vt_composeMail(message(subject, body, path));

        QVERIFY2(!result.failure, qPrintable(result.reason));
        QCOMPARE(result.clientName, clientName);
        QCOMPARE(result.attachmentTaken, attachmentTaken);
        QList<FakeMailDesktop::Message> starts = desktop.messages();
        if (terminal) { // the terminal emulator runs the client with its arguments
            QVERIFY(!starts.isEmpty());
            const FakeMailDesktop::Message emulator = starts.takeFirst();
            QCOMPARE(emulator.program, "x-terminal-emulator");
            QCOMPARE(emulator.arguments.mid(0, 2),
                     QStringList({"-e", desktop.root() + "/bin/" + QString::fromLatin1(program)}));
        }
        QCOMPARE(starts.size(), 1);
        QCOMPARE(starts[0].program, QString::fromLatin1(program));
        const Read read = readArguments(syntax, starts[0]);
        QCOMPARE(read.to, kRecipient);
        QCOMPARE(read.subject, subject);
        QCOMPARE(read.body, QString(body).replace("\n", "\r\n"));
        QCOMPARE(read.attachments, QStringList{path});
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
        QFETCH(std::optional<VTMailFailure>, failure);
        QFETCH(QString, reason);
        FakeMailDesktop desktop;
        desktop.setClient(program, program + ".desktop");
        desktop.setClientExit(clientExit);
        desktop.set("FAKEMAIL_STDERR", clientSays);
        if (!display)
            desktop.set("DISPLAY", std::nullopt);
        const QString path = reportExists ? desktop.makeFile("report.zip") : desktop.root() + "/gone.zip";

        struct sigaction previous {};
        if (childrenIgnored) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            ::sigaction(SIGCHLD, &ignore, &previous);
        }
        const VTMailResult result = vt_composeMail(message("s", "b\n\n", path));
        if (childrenIgnored)
            ::sigaction(SIGCHLD, &previous, nullptr);

        QCOMPARE(result.failure, failure);
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
        const QString path = desktop.makeFile("report.zip");

        const VTMailResult result = vt_composeMail(message("s", "b", path), std::chrono::milliseconds(500));

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
        QVERIFY(QFileInfo::exists(QStringLiteral("/proc/%1").arg(client))); // still running
        // This process keeps none of the client's output open.
        for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            QVERIFY2(!fd.symLinkTarget().contains("keyloft-desktop-command"), qPrintable(fd.symLinkTarget()));
    }
};

QTEST_MAIN(TestMailService)
#include "tst_mailservice.moc"
