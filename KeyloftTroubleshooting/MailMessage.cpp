#include "MailMessage.h"

#include "Platform/Localization.h"
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

const char* const kFailureTitle = QT_TRANSLATE_NOOP("Localizable", "Error Creating Email");
const char* const kFailureButton = QT_TRANSLATE_NOOP("Localizable", "OK");
const char* const kNoMailProgram =
    QT_TRANSLATE_NOOP("Localizable", "No mail program is set up for writing e-mail on this computer.");
const char* const kReportUnreadable =
    QT_TRANSLATE_NOOP("Localizable", "The report could not be read to attach it.");
const char* const kNotStarted = QT_TRANSLATE_NOOP("Localizable", "Your mail program could not be started.");
const char* const kSendByHand = QT_TRANSLATE_NOOP(
    "Localizable", "Please drag and drop the report icon into a new message in your mail program and send it "
                   "to %@. You can also click the icon to find the report in your file manager.");
const char* const kCheckAttachment =
    QT_TRANSLATE_NOOP("Localizable", "Check that the new message in your mail program has the report "
                                     "attached; if it does not, drag the report icon into the message.");
const char* const kAttachByHand = QT_TRANSLATE_NOOP(
    "Localizable", "Your mail program (%@) cannot take attachments from other programs, so the new message "
                   "has no report attached: drag the report icon into the message.");

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

VTMailResult sendSupportMail(const QString& subject, const QString& body,
                             const std::optional<QUrl>& attachment, std::chrono::milliseconds patience) {
    const VTMailResult result = vt_composeMail(supportMailMessage(subject, body, attachment), patience);
    if (result.failure)
        vt_systemLog(mailSendErrorDescription(result.reason));
    return result;
}

QString mailHandedOverText(const VTMailResult& result) {
    if (!result.attachmentTaken)
        return vt_format(vt_localized(kAttachByHand), result.clientName);
    return vt_localized(kCheckAttachment);
}

QString mailFailureInformativeText(VTMailFailure failure) {
    const char* what = failure == VTMailFailure::NoMailProgram      ? kNoMailProgram
                       : failure == VTMailFailure::ReportUnreadable ? kReportUnreadable
                                                                    : kNotStarted;
    return vt_localized(what) + QLatin1Char(' ') +
           vt_format(vt_localized(kSendByHand), QString::fromLatin1(kSupportAddress));
}

QMessageBox* showMailFailureSheet(QWidget* window, VTMailFailure failure) {
    auto* box = new QMessageBox(window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(vt_localized(kFailureTitle));
    box->setText(vt_localized(kFailureTitle));
    box->setInformativeText(mailFailureInformativeText(failure));
    box->setDefaultButton(box->addButton(vt_localized(kFailureButton), QMessageBox::AcceptRole));
    box->open();
    return box;
}

void scheduleMailClientActivation() {
    if (!QCoreApplication::instance())
        return;
    QTimer::singleShot(kMailClientActivationDelay, QCoreApplication::instance(),
                       [] { vt_activateMailClient(); });
}
