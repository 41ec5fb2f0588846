#pragma once

// Brings the desktop's mail client to the front after a new message was handed to it.
//
// X11 only: the mail client is the default handler of mailto links (`xdg-mime query default
// x-scheme-handler/mailto`); its windows are found in the window manager's _NET_CLIENT_LIST by WM_CLASS or
// by the program behind _NET_WM_PID, and the last of them (the most recently mapped, normally the new
// message) is activated with a _NET_ACTIVE_WINDOW request as a pager would (source 2), so focus-stealing
// prevention lets it through. On Wayland, or on X11 without a window manager (no client list), nothing is
// done: the compositor decides, and a new message window normally comes up focused anyway.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// One top-level window as the window manager lists it.
struct VTClientWindow {
    uint32_t window = 0;
    QString instanceName; // first WM_CLASS string
    QString className;    // second WM_CLASS string
    QString processName;  // file name of the program behind _NET_WM_PID; empty when unknown
};

// The desktop's mail handler as its desktop entry describes it: what identifies its windows and how it is
// started.
struct VTMailHandler {
    QString desktopId;      // "thunderbird.desktop"
    QString startupWMClass; // the entry's StartupWMClass; empty when it has none
    QString executableName; // file name of the program the entry's Exec line starts
    // The Exec line's words up to and including that program, as written ("env", "LANG=C",
    // "/usr/bin/evolution"); the entry's own arguments and field codes are left out.
    QStringList launchWords = {};
    bool terminal = false; // Terminal=true: the program runs inside a terminal emulator
};

// The handler described by a desktop entry's text; absent when the text has no [Desktop Entry] group.
[[nodiscard]] std::optional<VTMailHandler> vt_mailHandlerFromDesktopEntry(const QString& desktopId,
                                                                          const QByteArray& contents);

// Where a desktop entry may live, in lookup order: XDG_DATA_HOME (else ~/.local/share), then each
// XDG_DATA_DIRS entry (else /usr/local/share and /usr/share), "applications/" + the id, and the
// vendor-prefixed form with its first "-" as a folder ("kde-kmail.desktop" → "kde/kmail.desktop").
[[nodiscard]] QStringList vt_desktopEntryCandidates(const QString& desktopId);

// True when the window belongs to the handler: its WM_CLASS names the handler (StartupWMClass, the
// desktop id without ".desktop" or its last dot-separated part, or the program's name; case ignored) or
// its process runs the handler's program.
[[nodiscard]] bool vt_windowBelongsToHandler(const VTClientWindow& window, const VTMailHandler& handler);

// The last window of the list that belongs to the handler; absent when none does.
[[nodiscard]] std::optional<uint32_t> vt_mailClientWindowToActivate(const QList<VTClientWindow>& windows,
                                                                    const VTMailHandler& handler);

// The desktop's default mail handler, asking xdg-mime (waits up to two seconds, keeping the window
// painted); absent when none is set or its entry cannot be read.
[[nodiscard]] std::optional<VTMailHandler> vt_defaultMailHandler();

// Activates the mail client's last window as described above. Answers whether a request was sent.
// Call on the main thread of a QGuiApplication.
bool vt_activateMailClient();
