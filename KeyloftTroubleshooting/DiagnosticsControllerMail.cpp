// Mail composition: a new message to support with the report attached, handed to the mail client.

#include "DiagnosticsController.h"
#include "MailMessage.h"

#include <QDateTime>

void DiagnosticsController::createMailMessage() {
    const QString subject = diagnosticsMailSubject(fullUserName());
    const QString body = diagnosticsMailBody(QDateTime::currentDateTime());
    // The report as it is at the moment of the press; without one the message goes out without attachment.
    const VTMailResult result = sendSupportMail(subject, body, generatedReportZipURL());
    if (!result.failure) {
        // Whether the report really arrived only the mail program knows: the window says what to check.
        if (QLabel* field = descriptionField())
            field->setText(mailHandedOverText(result));
        scheduleMailClientActivation();
        return;
    }
    // The button stays the mail button: the next press simply tries again.
    showMailFailureSheet(window(), *result.failure);
}

bool DiagnosticsController::sendEmailWithSubject(const QString& subject, const QString& body,
                                                 const std::optional<QUrl>& attachment, VTError* error) {
    const VTMailResult result = sendSupportMail(subject, body, attachment);
    if (!result.failure)
        return true;
    if (error != nullptr)
        *error = VTError{QString::fromLatin1(kMailErrorDomain), kMailErrorCode,
                         mailSendErrorDescription(result.reason)};
    return false;
}
