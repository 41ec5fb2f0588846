// Mail composition: a new message to support with the report attached, handed to the mail client.

#include "DiagnosticsController.h"
#include "MailMessage.h"

#include <QDateTime>

void DiagnosticsController::createMailMessage() {
    const QString subject = diagnosticsMailSubject(fullUserName());
    const QString body = diagnosticsMailBody(QDateTime::currentDateTime());
    // The report as it is at the moment of the press; without one the message goes out without attachment.
    const std::optional<QUrl> attachment = generatedReportZipURL();
    VTError error;
    if (sendEmailWithSubject(subject, body, attachment, &error)) {
        scheduleMailClientActivation();
        return;
    }
    // The button stays the mail button: the next press simply tries again.
    showMailFailureSheet(window(), errorTextualForm(error.domain, error.code, error.description));
}

bool DiagnosticsController::sendEmailWithSubject(const QString& subject, const QString& body,
                                                 const std::optional<QUrl>& attachment, VTError* error) {
    const std::optional<QString> failure = sendSupportMail(subject, body, attachment);
    if (!failure)
        return true;
    if (error != nullptr)
        *error = VTError{QString::fromLatin1(kMailErrorDomain), kMailErrorCode, *failure};
    return false;
}
