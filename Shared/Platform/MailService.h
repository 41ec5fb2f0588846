#pragma once

// Creates a new, unsent message in the desktop's mail client through xdg-email.
//
// The message travels as our own mailto URI (RFC 6068) plus xdg-email's --attach, every value encoded
// on its own: quotes, apostrophes, ampersands, line feeds and non-ASCII text reach the mail client as
// written, and no value can change how another is read. xdg-email runs without a shell; its exit status
// and error output decide the outcome. A mail client that xdg-email starts in the foreground keeps it
// waiting until the client is closed, so a request still running after the patience has passed counts
// as delivered.

#include "DesktopCommand.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

struct VTMailMessage {
    QString recipientName;
    QString recipientAddress;
    QString subject;
    QString body;
    // The file to attach; absent or empty means no attachment.
    std::optional<QString> attachmentPath;
};

// The outcome of a compose request: absent on success, otherwise the reason as one line of text.
using VTMailError = std::optional<QString>;

inline constexpr std::chrono::milliseconds kVTMailPatience{3000};

// "mailto:" + the percent-encoded "Name <address>" + "?subject=…&body=…". Every character but the
// unreserved ones (A–Z a–z 0–9 - . _ ~) is encoded as UTF-8 bytes; "@" stays literal in the address part.
// Line breaks in the body (LF, CR or CRLF) become "%0D%0A" as mail URIs require, so trailing line feeds
// are kept. An empty recipient name gives the bare address. Text must be valid UTF-16 (a lone surrogate
// is written as "?").
[[nodiscard]] QString vt_mailtoURI(const VTMailMessage& message);

// xdg-email's arguments: "--utf8", then "--attach" and the path when there is a non-empty one, then the URI.
[[nodiscard]] QStringList vt_mailComposeArguments(const VTMailMessage& message);

// The reason for a failed request in the user's terms, with xdg-email's own error output when it wrote
// some; absent when the result means success (exit status 0, or still running).
[[nodiscard]] VTMailError vt_mailErrorForResult(const VTDesktopCommandResult& result);

// Runs `program` (normally "xdg-email", looked up in PATH) for the message and waits for it at most
// `patience` while the window keeps painting (see DesktopCommand.h). Call on the main thread.
[[nodiscard]] VTMailError vt_composeMail(const VTMailMessage& message,
                                         std::chrono::milliseconds patience = kVTMailPatience,
                                         const QString& program = QStringLiteral("xdg-email"));
