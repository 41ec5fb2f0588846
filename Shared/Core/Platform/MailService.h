#pragma once

// Creates a new, unsent message in the desktop's mail program.
//
// The message travels as our own mailto URI (RFC 6068) plus the report as an attachment, every value
// encoded on its own: quotes, apostrophes, ampersands, line feeds and non-ASCII text reach the mail
// program as written, and no value can change how another is read. Which program gets it and in which
// syntax is decided by the table of known mail programs (MailClients.h): their own command line where
// xdg-email would lose the attachment, xdg-email otherwise. Nothing runs through a shell; the exit status
// decides the outcome, and "no such child" (an outcome nobody can know) is a failure. A mail program
// started in the foreground keeps its starter waiting until it is closed, so a request still running after
// the patience has passed counts as delivered.

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

// What failed, in the terms the user is told.
enum class VTMailFailure {
    NoMailProgram,    // no mail program is set up for mail links, or there is no desktop session
    ReportUnreadable, // the report to attach is missing or cannot be read
    NotStarted,       // the mail program could not be started, or it reported a failure
};

// The outcome of a compose request.
struct VTMailResult {
    std::optional<VTMailFailure> failure; // absent: the mail program has the message
    // Why, in technical terms, for the system log: one line, never a whole mailto URI. Empty on success.
    QString reason;
    QString clientName;          // the known mail program the message went to; empty when unknown
    bool attachmentTaken = true; // false: the program is known to drop attachments, so it has none
};

inline constexpr std::chrono::milliseconds kVTMailPatience{3000};

// "Name <address>", or the bare address when there is no name.
[[nodiscard]] QString vt_mailRecipient(const VTMailMessage& message);

// "mailto:" + the percent-encoded "Name <address>" + "?subject=…&body=…". Every character but the
// unreserved ones (A–Z a–z 0–9 - . _ ~) is encoded as UTF-8 bytes; "@" stays literal in the address part.
// Line breaks in the body (LF, CR or CRLF) become "%0D%0A" as mail URIs require, so trailing line feeds
// are kept. An empty recipient name gives the bare address. Text must be valid UTF-16 (a lone surrogate
// is written as "?").
[[nodiscard]] QString vt_mailtoURI(const VTMailMessage& message);

// xdg-email's arguments: "--utf8", then "--attach" and the path when there is a non-empty one, then the URI.
[[nodiscard]] QStringList vt_mailComposeArguments(const VTMailMessage& message);

// Text with every "mailto:" URI in it cut to "mailto:…" (the URI repeats the whole message).
[[nodiscard]] QString vt_withoutMailtoURIs(const QString& text);

// Hands the message to the desktop's default mail program (asking xdg-mime which one it is when there is
// an attachment) and waits for the start at most `patience` while the window keeps painting (see
// DesktopCommand.h). Call on the main thread.
[[nodiscard]] VTMailResult vt_composeMail(const VTMailMessage& message,
                                          std::chrono::milliseconds patience = kVTMailPatience);
