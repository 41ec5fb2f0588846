// The mail service against the real xdg-email and xdg-mime, with fake mail programs registered as the
// desktop's mailto handler; then finding and activating the mail client's window.

#include "FakeMailDesktop.h"
#include "MailMessage.h"
#include "Platform/DesktopCommand.h"
#include "Platform/MailClientActivation.h"
#include "Platform/MailService.h"
#include "support/TestSupport.h"

#include <QtTest>
#include <QtWidgets>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const QString kName = QStringLiteral("Vantle Support Jedi");
const QString kAddress = QStringLiteral("support@keyloft.example.com");

QString localFile(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    return parsed.isLocalFile() ? parsed.toLocalFile() : u"<not a file URL: "_qs + url + u'>';
}

// What a mail program makes of its arguments, as its documentation describes: xdg-email's mailto URI with
// attach=<path>; Thunderbird's -compose "to='…',subject=…,body=…,attachment='URL'" (split at commas outside
// quotes); kmail --attach URL mailto; sylpheed --compose mailto --attach FILE; mutt -a FILE -- mailto.
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

// The private X server's display; DISPLAY itself is changed by the fake desktop.
QByteArray testDisplay;

// The test's own connection to the X server, acting as the window manager.
class FakeWindowManager {
public:
    FakeWindowManager() : connection_(xcb_connect(testDisplay.constData(), nullptr)) {
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
        xcb_change_window_attributes(connection_, screen_->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~FakeWindowManager() {
        xcb_delete_property(connection_, screen_->root, atom("_NET_CLIENT_LIST"));
        xcb_disconnect(connection_);
    }
    Q_DISABLE_COPY(FakeWindowManager)

    xcb_atom_t atom(const char* name) {
        const auto cookie = xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name);
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection_, cookie, nullptr), &std::free);
        return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    }

    xcb_window_t addWindow(const QByteArray& instance, const QByteArray& className, uint32_t pid = 0) {
        const xcb_window_t id = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, id, screen_->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, 0, nullptr);
        const QByteArray wmClass = instance + '\0' + className + '\0';
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<uint32_t>(wmClass.size()), wmClass.constData());
        if (pid)
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, atom("_NET_WM_PID"),
                                XCB_ATOM_CARDINAL, 32, 1, &pid);
        clients_.append(id);
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, screen_->root, atom("_NET_CLIENT_LIST"),
                            XCB_ATOM_WINDOW, 32, static_cast<uint32_t>(clients_.size()),
                            clients_.constData());
        xcb_flush(connection_);
        return id;
    }

    // The window of the first _NET_ACTIVE_WINDOW request from a pager that arrives within the time.
    std::optional<xcb_window_t> activationRequest(int milliseconds) {
        const xcb_atom_t active = atom("_NET_ACTIVE_WINDOW");
        std::optional<xcb_window_t> requested;
        (void)QTest::qWaitFor(
            [&] {
                for (xcb_generic_event_t* event; !requested && (event = xcb_poll_for_event(connection_));
                     std::free(event)) {
                    const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
                    if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == active &&
                        message->data.data32[0] == 2)
                        requested = message->window;
                }
                return requested.has_value();
            },
            milliseconds);
        return requested;
    }

private:
    xcb_connection_t* connection_;
    xcb_screen_t* screen_ = nullptr;
    QList<xcb_window_t> clients_;
};

} // namespace

class TestMailService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { testDisplay = qgetenv("DISPLAY"); }

    // Each known mail program, under its usual name, reads the message and report from its command line,
    // whatever the texts and folder hold, every line break as CRLF; an unknown one gets them by xdg-email.
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

        const VTMailResult result = vt_composeMail({kName, kAddress, subject, "one\r\ntwo\rthree\n\n", path});

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

    // What failed is told in the user's terms, and the reason for the log says why. Only the exit status
    // decides; error output merely explains a failure.
    void failuresAreReported_data() {
        QTest::addColumn<QByteArray>("program"); // the default mail program; a known one is started directly
        QTest::addColumn<int>("clientExit");
        QTest::addColumn<QString>("clientSays");
        QTest::addColumn<bool>("reportExists");
        QTest::addColumn<bool>("childrenIgnored"); // SIGCHLD ignored: the kernel reaps every child itself
        QTest::addColumn<std::optional<VTMailFailure>>("failure");
        QTest::addColumn<QString>("reason");
        using F = std::optional<VTMailFailure>;
        const auto row = [](const char* name, const char* program, int exit, const char* says, bool report,
                            bool ignored, F failure, const char* reason) {
            QTest::newRow(name) << QByteArray(program) << exit << QString::fromUtf8(says) << report << ignored
                                << failure << QString::fromUtf8(reason);
        };
        row("client fails and says why", "fakemail", 1, "fakemail: profile is locked", true, false,
            VTMailFailure::NotStarted,
            "the mail program failed (xdg-email exit status 4): fakemail: profile is locked");
        row("known client fails", "sylpheed", 3, "sylpheed: cannot lock", true, false,
            VTMailFailure::NotStarted, "Sylpheed (");
        row("client succeeds but complains", "fakemail", 0, "Gtk-WARNING: no theme", true, false, F(), "");
        row("report vanished", "fakemail", 0, "", false, false, VTMailFailure::ReportUnreadable,
            "the report file to attach does not exist (xdg-email exit status 2)");
        row("exit status reaped by the kernel", "fakemail", 1, "", true, true, VTMailFailure::NotStarted,
            "xdg-email ended, but its exit status could not be collected");
    }
    void failuresAreReported() {
        QFETCH(QByteArray, program);
        QFETCH(int, clientExit);
        QFETCH(QString, clientSays);
        QFETCH(bool, reportExists);
        QFETCH(bool, childrenIgnored);
        QFETCH(QString, reason);
        FakeMailDesktop desktop;
        desktop.setClient(program, program + ".desktop");
        desktop.setClientExit(clientExit);
        desktop.set("FAKEMAIL_STDERR", clientSays);
        const QString path = reportExists ? desktop.makeFile("report.zip") : desktop.root() + "/gone.zip";

        struct sigaction ignore = {}, previous = {};
        ignore.sa_handler = childrenIgnored ? SIG_IGN : SIG_DFL;
        ::sigaction(SIGCHLD, &ignore, &previous);
        const VTMailResult result = vt_composeMail({kName, kAddress, "s", "b\n\n", path});
        ::sigaction(SIGCHLD, &previous, nullptr);

        QTEST(result.failure, "failure");
        QVERIFY2(reason.isEmpty() ? result.reason.isEmpty() : result.reason.startsWith(reason),
                 qPrintable(result.reason));
        QCOMPARE(desktop.messages().size(), reportExists ? 1 : 0); // the client started or not
    }

    // A client that stays open and keeps writing to the output it inherited from xdg-email must not make
    // that output grow: it lives in memory for as long as the client runs.
    void chattyClientCannotGrowMemory() {
        FakeMailDesktop desktop;
        desktop.setClientSleep(60);
        desktop.set("FAKEMAIL_FLOOD", QStringLiteral("16"));

        const VTMailResult result = vt_composeMail(
            {kName, kAddress, "s", "b", desktop.makeFile("report.zip")}, std::chrono::milliseconds(500));

        QVERIFY2(!result.failure, qPrintable(result.reason));
        QTRY_COMPARE(desktop.messages().size(), 1);
        const qint64 client = desktop.messages()[0].pid;
        QTRY_VERIFY_WITH_TIMEOUT(desktop.floodedBytes(client).has_value(), 20000);
        QVERIFY(*desktop.floodedBytes(client) <= 2 * kVTDesktopCommandOutputLimit);
        // This process keeps none of the client's output open.
        for (const QFileInfo& fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            QVERIFY2(!fd.symLinkTarget().contains("keyloft-desktop-command"), qPrintable(fd.symLinkTarget()));
    }

    void windowMatching_data() {
        QTest::addColumn<VTMailHandler>("handler");
        QTest::addColumn<QList<VTClientWindow>>("windows");
        QTest::addColumn<std::optional<uint32_t>>("expected");
        const auto row = [](const char* name, const VTMailHandler& handler,
                            const QList<VTClientWindow>& windows, std::optional<uint32_t> expected) {
            QTest::newRow(name) << handler << windows << expected;
        };
        row("reverse-DNS desktop id, started through flatpak", {"org.gnome.Evolution.desktop", "", "flatpak"},
            {{9, "evolution", "Evolution", ""}, {10, "gedit", "Gedit", ""}}, 9);
        row("by process, name cut by the kernel", {"x.desktop", "", "a-very-long-mailer-name"},
            {{13, "w", "W", "a-very-long-mai"}, {14, "w", "W", "a-very-long-ma"}}, 13);
        row("empty handler fields never match empty classes", {"", "", ""}, {{1, "", "", ""}}, std::nullopt);
    }

    void windowMatching() {
        QFETCH(VTMailHandler, handler);
        QFETCH(QList<VTClientWindow>, windows);
        QTEST(vt_mailClientWindowToActivate(windows, handler), "expected");
    }

    // An entry read as the words that start the program (joined by "|"), its name, StartupWMClass and
    // whether it runs in a terminal; nothing without an entry group.
    void desktopEntry_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QStringList>("handler");
        QTest::newRow("path and escaped class, other groups ignored")
            << QByteArray("[Desktop Action New]\nExec=wrong\nTerminal=true\n[Desktop Entry]\nName=M\n"
                          "Exec=/usr/bin/right %u\nStartupWMClass=My\\sMail\n"
                          "[Desktop Action Compose]\nExec=also-wrong\nStartupWMClass=no\n")
            << QStringList{"/usr/bin/right", "right", "My Mail", ""};
        QTest::newRow("env prefix, quoted path")
            << QByteArray("[Desktop Entry]\nExec=env GDK_BACKEND=x11 \"/opt/My Mail/my-mail\" --compose "
                          "%U\nTerminal=true\n")
            << QStringList{"env|GDK_BACKEND=x11|/opt/My Mail/my-mail", "my-mail", "", "terminal"};
        QTest::newRow("no entry group") << QByteArray("Exec=x\n") << QStringList();
    }
    void desktopEntry() {
        QFETCH(QByteArray, contents);
        const std::optional<VTMailHandler> read = vt_mailHandlerFromDesktopEntry("m.desktop", contents);
        const QStringList fields = read ? QStringList{read->launchWords.join(u'|'), read->executableName,
                                                      read->startupWMClass, read->terminal ? "terminal" : ""}
                                        : QStringList();
        QTEST(fields, "handler");
    }

    // Nothing without a window manager or a matching window. Then the client's window, found by its process
    // though a later window is listed after it; and, from the event loop a fifth of a second after the call
    // returns, the last of its windows: the one its desktop entry's StartupWMClass names (without case).
    void theMailClientsWindowIsActivated() {
        FakeMailDesktop desktop;
        QVERIFY(!vt_activateMailClient());
        FakeWindowManager manager;
        manager.addWindow("xterm", "XTerm");
        QVERIFY(!vt_activateMailClient());
        desktop.setClientSleep(30);
        QProcess client; // killed when it goes out of scope
        client.start(QStringLiteral(KEYLOFT_HELPERS_DIR "/fakemail"));
        QVERIFY(client.waitForStarted());
        const xcb_window_t window = manager.addWindow("unnamed", "Unnamed", uint32_t(client.processId()));
        manager.addWindow("other", "Other", uint32_t(QCoreApplication::applicationPid()));
        QVERIFY(vt_activateMailClient());
        QCOMPARE(manager.activationRequest(2000), std::optional<xcb_window_t>(window));

        const xcb_window_t compose = manager.addWindow("compose", "FakeMailWindow");
        manager.addWindow("xterm", "XTerm");
        QElapsedTimer clock;
        clock.start();
        scheduleMailClientActivation();
        QVERIFY(clock.elapsed() < 200);
        QCOMPARE(manager.activationRequest(3000), std::optional<xcb_window_t>(compose));
        QVERIFY(clock.elapsed() >= 200);
    }
};

// The X11 cases play the window manager: on a display of their own, where no other program's windows wait.
KEYLOFT_TEST_MAIN_ON_PRIVATE_X_SERVER(TestMailService)

#include "tst_mailservice.moc"
