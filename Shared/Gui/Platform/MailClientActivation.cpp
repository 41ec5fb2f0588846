#include "MailClientActivation.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The kernel keeps only this many characters of a process name in /proc/PID/comm.
constexpr qsizetype kCommLength = 15;
// More windows than any desktop shows at once; the list is read in one request.
constexpr uint32_t kMaxClientWindows = 4096;

QString stem(const QString& desktopId) {
    return desktopId.endsWith(QLatin1String(".desktop")) ? desktopId.chopped(8) : desktopId;
}

QSet<QString> classNamesOf(const VTMailHandler& handler) {
    const QString id = stem(handler.desktopId);
    QSet<QString> names{handler.startupWMClass.toLower(), id.toLower(),
                        id.section(QLatin1Char('.'), -1).toLower(), handler.executableName.toLower()};
    names.remove(QString());
    return names;
}

bool sameProgram(const QString& processName, const QString& executable) {
    if (processName.isEmpty() || executable.isEmpty())
        return false;
    return processName == executable ||
           (processName.size() == kCommLength && executable.startsWith(processName));
}

// ---- X11 ----

template <class T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name);
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

XcbReply<xcb_get_property_reply_t> property(xcb_connection_t* connection, xcb_window_t window,
                                            xcb_atom_t name, xcb_atom_t type, uint32_t longs) {
    const xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, window, name, type, 0, longs);
    return {xcb_get_property_reply(connection, cookie, nullptr), &std::free};
}

QList<xcb_window_t> clientList(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t listAtom) {
    QList<xcb_window_t> windows;
    if (listAtom == XCB_ATOM_NONE)
        return windows;
    const auto reply = property(connection, root, listAtom, XCB_ATOM_WINDOW, kMaxClientWindows);
    if (!reply || reply->format != 32)
        return windows;
    const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < count; ++i)
        windows.append(ids[i]);
    return windows;
}

// The file name of the program a local process runs: its executable, else its kernel name.
QString programOfProcess(uint32_t pid) {
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    const QString executable = QFileInfo(proc + QStringLiteral("exe")).symLinkTarget();
    if (!executable.isEmpty())
        return QFileInfo(executable).fileName();
    QFile comm(proc + QStringLiteral("comm"));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

VTClientWindow describeWindow(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t pidAtom) {
    VTClientWindow described;
    described.window = window;
    if (const auto wmClass = property(connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 256)) {
        const QByteArray bytes(static_cast<const char*>(xcb_get_property_value(wmClass.get())),
                               xcb_get_property_value_length(wmClass.get()));
        const QList<QByteArray> parts = bytes.split('\0');
        described.instanceName = QString::fromLocal8Bit(parts.value(0));
        described.className = QString::fromLocal8Bit(parts.value(1));
    }
    if (pidAtom == XCB_ATOM_NONE)
        return described;
    const auto pid = property(connection, window, pidAtom, XCB_ATOM_CARDINAL, 1);
    if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) == 4)
        described.processName =
            programOfProcess(*static_cast<const uint32_t*>(xcb_get_property_value(pid.get())));
    return described;
}

void requestActivation(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t activeAtom,
                       xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = activeAtom;
    event.data.data32[0] = 2; // source: a pager, i.e. on the user's behalf
    event.data.data32[1] = XCB_CURRENT_TIME;
    event.data.data32[2] = XCB_WINDOW_NONE;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

xcb_connection_t* x11Connection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    const auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

} // namespace

bool vt_windowBelongsToHandler(const VTClientWindow& window, const VTMailHandler& handler) {
    const QSet<QString> names = classNamesOf(handler);
    return names.contains(window.className.toLower()) || names.contains(window.instanceName.toLower()) ||
           sameProgram(window.processName, handler.executableName);
}

std::optional<uint32_t> vt_mailClientWindowToActivate(const QList<VTClientWindow>& windows,
                                                      const VTMailHandler& handler) {
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        if (vt_windowBelongsToHandler(*it, handler))
            return it->window;
    }
    return std::nullopt;
}

bool vt_activateMailClient() {
    xcb_connection_t* connection = x11Connection();
    if (!connection || xcb_connection_has_error(connection))
        return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return false;
    const QList<xcb_window_t> ids =
        clientList(connection, screen->root, internAtom(connection, "_NET_CLIENT_LIST"));
    if (ids.isEmpty())
        return false;
    const std::optional<VTMailHandler> handler = vt_defaultMailHandler();
    if (!handler)
        return false;
    const xcb_atom_t pidAtom = internAtom(connection, "_NET_WM_PID");
    QList<VTClientWindow> windows;
    for (const xcb_window_t id : ids)
        windows.append(describeWindow(connection, id, pidAtom));
    const std::optional<uint32_t> target = vt_mailClientWindowToActivate(windows, *handler);
    const xcb_atom_t activeAtom = internAtom(connection, "_NET_ACTIVE_WINDOW");
    if (!target || activeAtom == XCB_ATOM_NONE)
        return false;
    requestActivation(connection, screen->root, activeAtom, *target);
    return true;
}
