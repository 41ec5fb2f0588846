#pragma once

// The message to the support desk that carries the diagnostics report, and what the window tells the user
// once it was handed over or when it could not be.
//
// Builds the subject (with the user's full name), the body (with the moment of the press in United States
// English), addresses it to the support desk, hands it to the desktop's mail program
// (Platform/MailService.h) and, once that worked, brings the mail program forward a fifth of a second
// later. The message's texts are not translated (support reads them); what the window says is.

#include "Platform/MailService.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QMessageBox;
class QWidget;

inline constexpr const char* kSupportRecipientName = "Vantle Support Jedi";
// The support desk's address: the message's recipient and the address the failure text tells people to use.
inline constexpr const char* kSupportAddress = "support@keyloft.example.com";

inline constexpr const char* kMailErrorDomain = "KLTroubleshooting";
inline constexpr int kMailErrorCode = 100;

inline constexpr std::chrono::milliseconds kMailClientActivationDelay{200};

// The full name from a password entry's GECOS field: the text before its first comma; the login name when
// that is empty or there is no field. Bytes that are not UTF-8 are read as Latin-1.
[[nodiscard]] QString fullNameFromPasswordEntry(const std::optional<QByteArray>& gecos,
                                                const QByteArray& login);

// The full name of the user running the tool (getpwuid); the USER variable when there is no entry.
[[nodiscard]] QString fullUserName();

// The moment in the local time zone as "December 6, 2026 at 6:47 PM", whatever the user's language.
[[nodiscard]] QString mailDateText(const QDateTime& moment);

// "Keyloft 4 Diagnostics Report for " + the full name.
[[nodiscard]] QString diagnosticsMailSubject(const QString& fullName);

// The request for a short problem description, naming the moment; ends in two line feeds.
[[nodiscard]] QString diagnosticsMailBody(const QDateTime& moment);

// The message to the support desk; the attachment is the report's file URL, absent when there is none.
// A URL that is not a local file counts as none.
[[nodiscard]] VTMailMessage supportMailMessage(const QString& subject, const QString& body,
                                               const std::optional<QUrl>& attachment);

// "Error emailing Diagnostics Report: " + the mail service's reason.
[[nodiscard]] QString mailSendErrorDescription(const QString& serviceError);

// Hands the message to the mail program (waits at most `patience`; see MailService.h). On failure writes
// mailSendErrorDescription(reason) to the system log.
[[nodiscard]] VTMailResult sendSupportMail(const QString& subject, const QString& body,
                                           const std::optional<QUrl>& attachment,
                                           std::chrono::milliseconds patience = kVTMailPatience);

// The window's text once the message was handed over: check that the report is attached, else drag the
// icon in; or, for a mail program known to drop attachments, that the report has to be added by hand.
// Translated.
[[nodiscard]] QString mailHandedOverText(const VTMailResult& result);

// The failure sheet's informative text: what failed, in the user's terms, then how to send the report by
// hand. Translated.
[[nodiscard]] QString mailFailureInformativeText(VTMailFailure failure);

// Shows the failure sheet (window-modal, one button) on `window` and returns at once. The box belongs to
// the window and deletes itself when dismissed.
QMessageBox* showMailFailureSheet(QWidget* window, VTMailFailure failure);

// Asks, kMailClientActivationDelay from now on the main thread, to bring the mail client forward
// (X11 only; see Platform/MailClientActivation.h). Returns at once.
void scheduleMailClientActivation();
