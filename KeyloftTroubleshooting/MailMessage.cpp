#include "MailMessage.h"

#include "Platform/MailClientActivation.h"
#include "Platform/SystemLog.h"
#include "VantleFormat.h"
#include "VantleString.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <pwd.h>
#include <unistd.h>

namespace {

const char* const kSubjectFormat = "Keyloft 4 Diagnostics Report for %@";
const char* const kBodyFormat =
    "Attached is the Keyloft 4 Diagnostics Report generated at %@. Please include a short description of "
    "the problem so we can ensure we're looking for the correct issue.\n\n";
const char* const kSendErrorFormat = "Error emailing Diagnostics Report: %@";
const char* const kFailureTextStart =
    "Unable to automatically create a Mail message. Please drag and drop the report icon into Mail and send "
    "it to ";

QString decoded(const QByteArray& bytes) {
    return vt_utf8stringWithData(bytes).value_or(QString());
}

} // namespace

QString fullNameFromPasswordEntry(const std::optional<QByteArray>& gecos, const QByteArray& login) {
    const QString name = gecos ? decoded(gecos->split(',').constFirst()) : QString();
    return name.isEmpty() ? decoded(login) : name;
}

QString fullUserName() {
    if (const passwd* entry = ::getpwuid(::getuid())) {
        const std::optional<QByteArray> gecos =
            entry->pw_gecos ? std::optional<QByteArray>(entry->pw_gecos) : std::nullopt;
        return fullNameFromPasswordEntry(gecos, QByteArray(entry->pw_name ? entry->pw_name : ""));
    }
    return decoded(qgetenv("USER"));
}

QString mailDateText(const QDateTime& moment) {
    return QLocale(QLocale::English, QLocale::UnitedStates)
        .toString(moment.toLocalTime(), QStringLiteral("MMMM d, yyyy 'at' h:mm AP"));
}

QString diagnosticsMailSubject(const QString& fullName) {
    return vt_format(kSubjectFormat, fullName);
}

QString diagnosticsMailBody(const QDateTime& moment) {
    return vt_format(kBodyFormat, mailDateText(moment));
}

VTMailMessage supportMailMessage(const QString& subject, const QString& body,
                                 const std::optional<QUrl>& attachment) {
    std::optional<QString> path;
    if (attachment && attachment->isLocalFile() && !attachment->toLocalFile().isEmpty())
        path = attachment->toLocalFile();
    return VTMailMessage{QString::fromLatin1(kSupportRecipientName), QString::fromLatin1(kSupportAddress),
                         subject, body, path};
}

QString mailSendErrorDescription(const QString& serviceError) {
    return vt_format(kSendErrorFormat, serviceError);
}

std::optional<QString> sendSupportMail(const QString& subject, const QString& body,
                                       const std::optional<QUrl>& attachment,
                                       std::chrono::milliseconds patience, const QString& program) {
    const VTMailError error =
        vt_composeMail(supportMailMessage(subject, body, attachment), patience, program);
    if (!error)
        return std::nullopt;
    const QString description = mailSendErrorDescription(*error);
    vt_systemLog(description);
    return description;
}

QString errorTextualForm(const QString& domain, int code, const QString& description) {
    return vt_format("Error Domain=%@ Code=%d \"%@\"", domain, code, description);
}

QString mailFailureInformativeText(const QString& errorText) {
    return QString::fromLatin1(kFailureTextStart) + QString::fromLatin1(kSupportAddress) +
           QStringLiteral(".\n\nError: ") + errorText;
}

QMessageBox* showMailFailureSheet(QWidget* window, const QString& errorText) {
    auto* box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QString::fromLatin1(kMailFailureTitle));
    box->setText(QString::fromLatin1(kMailFailureTitle));
    box->setInformativeText(mailFailureInformativeText(errorText));
    box->setDefaultButton(box->addButton(QString::fromLatin1(kMailFailureButton), QMessageBox::AcceptRole));
    box->open();
    return box;
}

void scheduleMailClientActivation() {
    if (!QCoreApplication::instance())
        return;
    QTimer::singleShot(kMailClientActivationDelay, QCoreApplication::instance(),
                       [] { vt_activateMailClient(); });
}
