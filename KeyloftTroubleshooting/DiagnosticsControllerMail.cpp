// Mail composition: a new message to support with the report attached, handed to the mail client.

#include "DiagnosticsController.h"

// Awaiting the mail issue (#7): these placeholders only let the application link.
void DiagnosticsController::createMailMessage() {}

bool DiagnosticsController::sendEmailWithSubject(const QString&, const QString&, const std::optional<QUrl>&,
                                                 VTError* error) {
    if (error != nullptr)
        *error =
            VTError{QStringLiteral("KLTroubleshooting"), 100, QStringLiteral("Mail is not available yet.")};
    return false;
}
