#pragma once

// Brings the desktop's mail client to the front after a new message was handed to it.
//
// X11 only: the mail client is the default handler of mailto links (`xdg-mime query default
// x-scheme-handler/mailto`); its windows are found in the window manager's _NET_CLIENT_LIST by WM_CLASS or
// by the program behind _NET_WM_PID, and the last of them (the most recently mapped, normally the new
// message) is activated with a _NET_ACTIVE_WINDOW request as a pager would (source 2), so focus-stealing
// prevention lets it through. On Wayland, or on X11 without a window manager (no client list), nothing is
// done: the compositor decides, and a new message window normally comes up focused anyway.

#include "Platform/MailHandler.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// One top-level window as the window manager lists it.
struct VTClientWindow {
    uint32_t window = 0;
    QString instanceName; // first WM_CLASS string
    QString className;    // second WM_CLASS string
    QString processName;  // file name of the program behind _NET_WM_PID; empty when unknown
};

// True when the window belongs to the handler: its WM_CLASS names the handler (StartupWMClass, the
// desktop id without ".desktop" or its last dot-separated part, or the program's name; case ignored) or
// its process runs the handler's program.
[[nodiscard]] bool vt_windowBelongsToHandler(const VTClientWindow& window, const VTMailHandler& handler);

// The last window of the list that belongs to the handler; absent when none does.
[[nodiscard]] std::optional<uint32_t> vt_mailClientWindowToActivate(const QList<VTClientWindow>& windows,
                                                                    const VTMailHandler& handler);

// Activates the mail client's last window as described above. Answers whether a request was sent.
// Call on the main thread of a QGuiApplication.
bool vt_activateMailClient();
