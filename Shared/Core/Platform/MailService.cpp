#include "MailService.h"

#include "DesktopCommand.h"
#include "MailClients.h"
#include "MailHandler.h"

#include <QRegularExpression>
#include <QUrl>

#include <cerrno>
#include <cstring>

namespace {

// Longest piece of a program's error output kept for the log.
constexpr qsizetype kKeptErrorOutput = 200;

QString percentEncoded(const QString& text, const QByteArray& keep = {}) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text, keep));
}

// Every line break as CR LF, the form mail URIs carry.
QString withMailLineBreaks(const QString& text) {
    QString normalized = text;
    normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    normalized.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    normalized.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return normalized;
}

bool hasAttachment(const VTMailMessage& message) {
    return message.attachmentPath && !message.attachmentPath->isEmpty();
}

// What each of xdg-email's documented exit statuses means, and how the user is told.
std::pair<VTMailFailure, QString> xdgEmailFailure(int status) {
    switch (status) {
    case 1:
        return {VTMailFailure::NotStarted, QStringLiteral("xdg-email did not understand the request")};
    case 2:
        return {VTMailFailure::ReportUnreadable, QStringLiteral("the report file to attach does not exist")};
    case 3:
        return {VTMailFailure::NoMailProgram,
                QStringLiteral("no mail program could be found (no desktop session, or none is set up)")};
    case 4:
        return {VTMailFailure::NotStarted, QStringLiteral("the mail program failed")};
    case 5:
        return {VTMailFailure::ReportUnreadable,
                QStringLiteral("the report file to attach could not be read")};
    default:
        return {VTMailFailure::NotStarted, QStringLiteral("xdg-email failed")};
    }
}

// The last line of a program's error output, which says why it gave up (xdg-email lists the alternatives
// it tried first), without mailto URIs and cut to a readable length.
QString keptErrorOutput(const QByteArray& bytes) {
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString text = lines.isEmpty() ? QString() : vt_withoutMailtoURIs(lines.last().simplified());
    if (text.size() > kKeptErrorOutput)
        text = text.left(kKeptErrorOutput) + QChar(0x2026);
    return text;
}

QString withErrorOutput(const QString& text, const QByteArray& errorOutput) {
    const QString output = keptErrorOutput(errorOutput);
    return output.isEmpty() ? text : text + QStringLiteral(": ") + output;
}

VTMailResult failed(VTMailFailure failure, const QString& reason) {
    VTMailResult result;
    result.failure = failure;
    result.reason = reason;
    return result;
}

// The outcome of running `launch`: for xdg-email by its documented exit statuses, for a mail program
// started directly by whether it started and exited cleanly.
VTMailResult resultOf(const VTMailLaunch& launch, const VTDesktopCommandResult& run) {
    using Outcome = VTDesktopCommandResult::Outcome;
    const QString who = launch.throughXdgEmail()
                            ? launch.program
                            : launch.clientName + QStringLiteral(" (") + launch.program + QLatin1Char(')');
    switch (run.outcome) {
    case Outcome::StillRunning:
        return {std::nullopt, {}, launch.clientName, launch.attachmentTaken};
    case Outcome::NotStarted:
        if (run.startError == ENOENT && launch.throughXdgEmail())
            return failed(VTMailFailure::NotStarted,
                          QStringLiteral("xdg-email is not installed (it comes with the xdg-utils package)"));
        return failed(VTMailFailure::NotStarted, who + QStringLiteral(" could not be started: ") +
                                                     QString::fromLocal8Bit(std::strerror(run.startError)));
    case Outcome::Lost:
        return failed(VTMailFailure::NotStarted,
                      who + QStringLiteral(" ended, but its exit status could not be collected"));
    case Outcome::Signaled:
        return failed(VTMailFailure::NotStarted,
                      who + QStringLiteral(" was stopped by signal %1").arg(run.status));
    case Outcome::Exited:
        break;
    }
    if (run.status == 0)
        return {std::nullopt, {}, launch.clientName, launch.attachmentTaken};
    if (!launch.throughXdgEmail())
        return failed(VTMailFailure::NotStarted,
                      withErrorOutput(who + QStringLiteral(" exited with status %1").arg(run.status),
                                      run.standardError));
    const auto [failure, explanation] = xdgEmailFailure(run.status);
    return failed(failure,
                  withErrorOutput(explanation + QStringLiteral(" (xdg-email exit status %1)").arg(run.status),
                                  run.standardError));
}

} // namespace

QString vt_mailRecipient(const VTMailMessage& message) {
    if (message.recipientName.isEmpty())
        return message.recipientAddress;
    return message.recipientName + QStringLiteral(" <") + message.recipientAddress + QLatin1Char('>');
}

QString vt_mailtoURI(const VTMailMessage& message) {
    return QStringLiteral("mailto:") + percentEncoded(vt_mailRecipient(message), QByteArrayLiteral("@")) +
           QStringLiteral("?subject=") + percentEncoded(message.subject) + QStringLiteral("&body=") +
           percentEncoded(withMailLineBreaks(message.body));
}

QStringList vt_mailComposeArguments(const VTMailMessage& message) {
    QStringList arguments{QStringLiteral("--utf8")};
    if (hasAttachment(message))
        arguments << QStringLiteral("--attach") << *message.attachmentPath;
    arguments << vt_mailtoURI(message);
    return arguments;
}

QString vt_withoutMailtoURIs(const QString& text) {
    static const QRegularExpression uri(QStringLiteral("mailto:[^\\s'\"]*"));
    return QString(text).replace(uri, QStringLiteral("mailto:") + QChar(0x2026));
}

VTMailResult vt_composeMail(const VTMailMessage& message, std::chrono::milliseconds patience) {
    const VTMailLaunch launch =
        vt_mailLaunch(message, hasAttachment(message) ? vt_defaultMailHandler() : std::nullopt);
    return resultOf(launch, vt_runDesktopCommand(launch.program, launch.arguments, patience));
}
