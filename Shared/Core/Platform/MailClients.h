#pragma once

// The mail programs this tool knows, and how each one is handed a new message that carries the report.
//
// Most mail programs read the attachment that xdg-email adds to the mailto URI. Some ignore it, or
// xdg-email writes it in a form they misread (Thunderbird splits a path at a comma); those get the
// message through their own documented command line instead, each value encoded for that program's
// syntax and passed as an argument of its own, never through a shell. A program that cannot take an
// attachment from outside at all is marked, so the user can be told to add the report by hand. Programs
// not in the table, and messages without an attachment, go through xdg-email.
//
// The table is data: one row per program, found by the name of the program its desktop entry starts.
// Adding a mail program means adding a row.

#include "MailHandler.h"
#include "MailService.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct VTMailClient {
    QString name;         // as people know it: "Sylpheed"
    QStringList programs; // the program names its desktop entry may start: "sylpheed"
    // Its own command line for a message with an attachment, one entry per argument. An entry that is
    // exactly one of these placeholders stands for that value:
    //   {mailto}       the message as our mailto URI (recipient, subject and body; no attachment)
    //   {path}         the report's absolute path, as it is
    //   {file-url}     the report as a file URL with every character but letters, digits, "-._~" and
    //                  "/" percent-encoded (no comma, apostrophe or space is left to misread)
    //   {thunderbird}  Thunderbird's -compose list: to='…',subject=…,body=…,attachment='{file-url}'
    // Empty: the message goes through xdg-email.
    QStringList arguments;
    bool takesAttachment = true; // false: it drops any attachment handed to it from outside
};

// Every known mail program, in no particular order.
[[nodiscard]] const QList<VTMailClient>& vt_mailClients();

// The table's row for the program the handler's desktop entry starts; null when it is not known.
[[nodiscard]] const VTMailClient* vt_mailClientFor(const VTMailHandler& handler);

// One way of starting the mail program with the message.
struct VTMailLaunch {
    QString program; // looked up in PATH unless it holds a "/"
    QStringList arguments;
    QString clientName;          // the known mail program the message goes to; empty when unknown
    bool attachmentTaken = true; // false: the program is known to drop the attachment
    [[nodiscard]] bool throughXdgEmail() const { return program == QLatin1String("xdg-email"); }
};

// How to hand the message to the handler (the desktop's default mail program; absent when none is known).
// The handler's own command line is used for a message with an attachment when its row has one and every
// value can be written in its syntax: the Exec line's launch words, then the row's arguments, all inside
// the terminal emulator when the entry asks for a terminal. Otherwise: xdg-email with
// vt_mailComposeArguments.
[[nodiscard]] VTMailLaunch vt_mailLaunch(const VTMailMessage& message,
                                         const std::optional<VTMailHandler>& handler);

// The terminal emulator a Terminal=true entry runs in, as xdg-open chooses it: TERMINAL plus "-e" when
// it is one word, TERMINAL's words when it has several, else "x-terminal-emulator -e" (Debian's choice
// of the user's terminal).
[[nodiscard]] QStringList vt_terminalLaunchWords();
