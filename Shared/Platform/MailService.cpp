#include "MailService.h"

#include <QUrl>

#include <cerrno>
#include <cstring>

namespace {

// Longest piece of xdg-email's error output shown to the user; it may repeat the whole mailto URI.
constexpr qsizetype kShownErrorOutput = 200;

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

QString recipient(const VTMailMessage& message) {
    if (message.recipientName.isEmpty())
        return message.recipientAddress;
    return message.recipientName + QStringLiteral(" <") + message.recipientAddress + QLatin1Char('>');
}

bool hasAttachment(const VTMailMessage& message) {
    return message.attachmentPath && !message.attachmentPath->isEmpty();
}

// What each of xdg-email's documented exit statuses means for the person who pressed the button.
QString explanationForStatus(int status) {
    switch (status) {
    case 1:
        return QStringLiteral("The mail request was not understood");
    case 2:
        return QStringLiteral("The report file to attach does not exist");
    case 3:
        return QStringLiteral(
            "No mail client could be found (no desktop session, or no mail client is set up)");
    case 4:
        return QStringLiteral("The mail client failed");
    case 5:
        return QStringLiteral("The report file to attach could not be read");
    default:
        return QStringLiteral("xdg-email failed");
    }
}

// The last line of xdg-email's error output, which says why it gave up (earlier lines are the
// alternatives it tried), cut to a readable length.
QString shownErrorOutput(const QByteArray& bytes) {
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString text = lines.isEmpty() ? QString() : lines.last().simplified();
    if (text.size() > kShownErrorOutput)
        text = text.left(kShownErrorOutput) + QChar(0x2026);
    return text;
}

QString notStartedText(int error) {
    if (error == ENOENT)
        return QStringLiteral("xdg-email is not installed (it comes with the xdg-utils package)");
    return QStringLiteral("xdg-email could not be started: ") + QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QString vt_mailtoURI(const VTMailMessage& message) {
    return QStringLiteral("mailto:") + percentEncoded(recipient(message), QByteArrayLiteral("@")) +
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

VTMailError vt_mailErrorForResult(const VTDesktopCommandResult& result) {
    using Outcome = VTDesktopCommandResult::Outcome;
    switch (result.outcome) {
    case Outcome::StillRunning:
        return std::nullopt;
    case Outcome::NotStarted:
        return notStartedText(result.startError);
    case Outcome::Signaled:
        return QStringLiteral("xdg-email was stopped by signal %1").arg(result.status);
    case Outcome::Exited:
        break;
    }
    if (result.status == 0)
        return std::nullopt;
    QString text = explanationForStatus(result.status) +
                   QStringLiteral(" (xdg-email exit status %1)").arg(result.status);
    const QString output = shownErrorOutput(result.standardError);
    if (!output.isEmpty())
        text += QStringLiteral(": ") + output;
    return text;
}

VTMailError vt_composeMail(const VTMailMessage& message, std::chrono::milliseconds patience,
                           const QString& program) {
    return vt_mailErrorForResult(vt_runDesktopCommand(program, vt_mailComposeArguments(message), patience));
}
