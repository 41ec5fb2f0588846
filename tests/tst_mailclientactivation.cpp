// Finding and activating the mail client's window: the matching on its own, the default handler through
// the real xdg-mime, and the X11 request on a real X server (Xvfb) where this test plays the window manager.

#include "FakeMailDesktop.h"
#include "MailMessage.h"
#include "Platform/MailClientActivation.h"
#include "support/TestSupport.h"

#include <QtTest>
#include <QtWidgets>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const VTMailHandler kThunderbird{"thunderbird.desktop", "", "thunderbird"};

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
    FakeWindowManager(const FakeWindowManager&) = delete;
    FakeWindowManager& operator=(const FakeWindowManager&) = delete;

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

class TestMailClientActivation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { testDisplay = qgetenv("DISPLAY"); }

    void windowMatching_data() {
        QTest::addColumn<VTMailHandler>("handler");
        QTest::addColumn<QList<VTClientWindow>>("windows");
        QTest::addColumn<std::optional<uint32_t>>("expected");
        const auto row = [](const char* name, const VTMailHandler& handler,
                            const QList<VTClientWindow>& windows, std::optional<uint32_t> expected) {
            QTest::newRow(name) << handler << windows << expected;
        };
        row("last of several, class case ignored", kThunderbird,
            {{1, "Mail", "thunderbird", ""}, {3, "Msgcompose", "Thunderbird", ""}, {4, "xterm", "XTerm", ""}},
            3);
        row("StartupWMClass", {"claws.desktop", "Claws-mail", "claws-mail"}, {{5, "main", "Claws-Mail", ""}},
            5);
        row("reverse-DNS desktop id", {"org.gnome.Evolution.desktop", "", "evolution"},
            {{9, "evolution", "Evolution", ""}, {10, "gedit", "Gedit", ""}}, 9);
        row("by process, name cut by the kernel", {"x.desktop", "", "a-very-long-mailer-name"},
            {{13, "w", "W", "a-very-long-mai"}, {14, "w", "W", "a-very-long-ma"}}, 13);
        row("empty handler fields never match empty classes", {"", "", ""}, {{1, "", "", ""}}, std::nullopt);
    }

    void windowMatching() {
        QFETCH(VTMailHandler, handler);
        QFETCH(QList<VTClientWindow>, windows);
        QFETCH(std::optional<uint32_t>, expected);
        QCOMPARE(vt_mailClientWindowToActivate(windows, handler), expected);
    }

    // An entry read as the words that start the program (joined by "|"), its name, StartupWMClass and
    // whether it runs in a terminal; nothing without an entry group.
    void desktopEntry_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QStringList>("handler");
        QTest::newRow("path and escaped class")
            << QByteArray("[Desktop Entry]\nExec=/usr/bin/thunderbird %u\nStartupWMClass=My\\sMail\n")
            << QStringList{"/usr/bin/thunderbird", "thunderbird", "My Mail", ""};
        QTest::newRow("env prefix, quoted path")
            << QByteArray("[Desktop Entry]\nExec=env GDK_BACKEND=x11 \"/opt/My Mail/my-mail\" --compose "
                          "%U\nTerminal=true\n")
            << QStringList{"env|GDK_BACKEND=x11|/opt/My Mail/my-mail", "my-mail", "", "terminal"};
        QTest::newRow("other groups ignored")
            << QByteArray(
                   "[Desktop Action New]\nExec=wrong\nTerminal=true\n[Desktop Entry]\nName=M\nExec=right\n"
                   "[Desktop Action Compose]\nExec=also-wrong\nStartupWMClass=no\n")
            << QStringList{"right", "right", "", ""};
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

    // Nothing without a window manager or without a matching window. Then the client's window, found by its
    // process although a later window is listed after it; and, from the event loop a fifth of a second
    // after the call returns, the last window of the client named by its desktop entry's StartupWMClass.
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
KEYLOFT_TEST_MAIN_ON_PRIVATE_X_SERVER(TestMailClientActivation)

#include "tst_mailclientactivation.moc"
