#pragma once

// The desktop's mail handler: the program that takes mailto links, as its desktop entry describes it.
//
// The handler is the default handler of mailto links (`xdg-mime query default x-scheme-handler/mailto`);
// its desktop entry says how it is started and what names its windows carry.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

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

// The desktop's default mail handler, asking xdg-mime (waits up to two seconds, keeping the window
// painted); absent when none is set or its entry cannot be read.
[[nodiscard]] std::optional<VTMailHandler> vt_defaultMailHandler();
