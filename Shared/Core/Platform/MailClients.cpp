#include "MailClients.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace {

const QString kMailto = QStringLiteral("{mailto}");
const QString kPath = QStringLiteral("{path}");
const QString kFileUrl = QStringLiteral("{file-url}");
const QString kThunderbird = QStringLiteral("{thunderbird}");

// Each row's syntax is the one its program documents for itself.
QList<VTMailClient> makeTable() {
    return {
        // thunderbird -compose "to='…',subject=…,body=…,attachment='file:///…'" (Mozilla's command-line
        // options). xdg-email writes the attachment as a bare path, which Thunderbird splits at commas.
        {QStringLiteral("Thunderbird"),
         {QStringLiteral("thunderbird"), QStringLiteral("icedove")},
         {QStringLiteral("-compose"), kThunderbird},
         true},
        // Reads attach= in a mailto URI, as xdg-email writes it.
        {QStringLiteral("Evolution"), {QStringLiteral("evolution")}, {}, true},
        // kmail --attach URL [address|URL] (kmail --help). In a KDE session xdg-email goes through the
        // desktop's mailto handling, which knows no attachment.
        {QStringLiteral("KMail"),
         {QStringLiteral("kmail")},
         {QStringLiteral("--attach"), kFileUrl, kMailto},
         true},
        // Reads attach= in a mailto URI, as xdg-email writes it.
        {QStringLiteral("Claws Mail"), {QStringLiteral("claws-mail")}, {}, true},
        // sylpheed --compose [mailto URL] --attach FILE… (sylpheed(1)); it ignores attach= in the URI.
        {QStringLiteral("Sylpheed"),
         {QStringLiteral("sylpheed")},
         {QStringLiteral("--compose"), kMailto, QStringLiteral("--attach"), kPath},
         true},
        // Takes no attachment from its command line or a mailto URI.
        {QStringLiteral("Geary"), {QStringLiteral("geary")}, {}, false},
        // mutt -a FILE… -- addr|mailto_url (mutt(1)); it ignores attach= in the URI.
        {QStringLiteral("Mutt"),
         {QStringLiteral("mutt")},
         {QStringLiteral("-a"), kPath, QStringLiteral("--"), kMailto},
         true},
        // neomutt -a FILE… -- addr|mailto_url (neomutt(1)); it ignores attach= in the URI.
        {QStringLiteral("NeoMutt"),
         {QStringLiteral("neomutt")},
         {QStringLiteral("-a"), kPath, QStringLiteral("--"), kMailto},
         true},
    };
}

QString fileUrl(const QString& absolutePath) {
    return QStringLiteral("file://") + QString::fromLatin1(QUrl::toPercentEncoding(absolutePath, "/"));
}

// Thunderbird's -compose list. Subject and body are the URI's own percent-encoded fields (so the message
// reads exactly as through xdg-email); the recipient stands in single quotes as it is, so one holding an
// apostrophe or a comma cannot be written: absent then.
std::optional<QString> thunderbirdFields(const VTMailMessage& message, const QString& absolutePath) {
    const QString to = vt_mailRecipient(message);
    if (to.contains(QLatin1Char('\'')) || to.contains(QLatin1Char(',')))
        return std::nullopt;
    const QString uri = vt_mailtoURI(message);
    const QString fields =
        uri.mid(uri.indexOf(QLatin1Char('?')) + 1).replace(QLatin1Char('&'), QLatin1Char(','));
    return QStringLiteral("to='") + to + QStringLiteral("',") + fields + QStringLiteral(",attachment='") +
           fileUrl(absolutePath) + QLatin1Char('\'');
}

// The row's arguments with the placeholders filled in; absent when a value cannot be written.
std::optional<QStringList> ownArguments(const VTMailClient& client, const VTMailMessage& message) {
    const QString path = QFileInfo(*message.attachmentPath).absoluteFilePath();
    QStringList arguments;
    for (const QString& entry : client.arguments) {
        if (entry == kMailto) {
            arguments << vt_mailtoURI(message);
        } else if (entry == kPath) {
            arguments << path;
        } else if (entry == kFileUrl) {
            arguments << fileUrl(path);
        } else if (entry == kThunderbird) {
            const std::optional<QString> fields = thunderbirdFields(message, path);
            if (!fields)
                return std::nullopt;
            arguments << *fields;
        } else {
            arguments << entry;
        }
    }
    return arguments;
}

} // namespace

const QList<VTMailClient>& vt_mailClients() {
    static const QList<VTMailClient> table = makeTable();
    return table;
}

const VTMailClient* vt_mailClientFor(const VTMailHandler& handler) {
    for (const VTMailClient& client : vt_mailClients())
        if (!handler.executableName.isEmpty() && client.programs.contains(handler.executableName))
            return &client;
    return nullptr;
}

VTMailLaunch vt_mailLaunch(const VTMailMessage& message, const std::optional<VTMailHandler>& handler) {
    VTMailLaunch launch{QStringLiteral("xdg-email"), vt_mailComposeArguments(message), {}, true};
    const VTMailClient* client = handler ? vt_mailClientFor(*handler) : nullptr;
    const bool attaching = message.attachmentPath && !message.attachmentPath->isEmpty();
    if (!client || !attaching)
        return launch;
    launch.clientName = client->name;
    launch.attachmentTaken = client->takesAttachment;
    if (client->arguments.isEmpty())
        return launch;
    const std::optional<QStringList> own = ownArguments(*client, message);
    if (!own)
        return launch;
    const QStringList words =
        (handler->terminal ? vt_terminalLaunchWords() : QStringList()) + handler->launchWords + *own;
    launch.program = words.first();
    launch.arguments = words.mid(1);
    return launch;
}

QStringList vt_terminalLaunchWords() {
    const QString terminal = qEnvironmentVariable("TERMINAL").trimmed();
    if (terminal.isEmpty())
        return {QStringLiteral("x-terminal-emulator"), QStringLiteral("-e")};
    const QStringList words = terminal.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    return words.size() == 1 ? QStringList{words.first(), QStringLiteral("-e")} : words;
}
