#include "AskpassDialog.h"

#include "AppResources.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cerrno>
#include <unistd.h>

namespace {

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t result =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        written += result;
    }
    return true;
}

void wipe(QByteArray& bytes) {
    bytes.fill('\0');
    bytes.clear();
}

} // namespace

AskpassDialog::AskpassDialog(const QString& prompt, QWidget* parent)
    : QDialog(parent), promptLabel_(new QLabel(this)), passwordField_(new QLineEdit(this)) {
    setWindowTitle(vt_applicationTitle());
    promptLabel_->setTextFormat(Qt::PlainText);
    promptLabel_->setWordWrap(true);
    promptLabel_->setText(prompt);
    passwordField_->setEchoMode(QLineEdit::Password);
    passwordField_->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(promptLabel_);
    layout->addWidget(passwordField_);
    layout->addWidget(buttons);
    passwordField_->setFocus();
}

QString AskpassDialog::prompt() const {
    return promptLabel_->text();
}

QString AskpassDialog::password() const {
    return passwordField_->text();
}

void AskpassDialog::clearPassword() {
    passwordField_->clear();
}

int runAskpass(const QString& prompt, int outputFd) {
    AskpassDialog dialog(prompt);
    if (dialog.exec() != QDialog::Accepted)
        return 1;
    QByteArray answer = dialog.password().toUtf8();
    dialog.clearPassword();
    answer.append('\n');
    const bool written = writeAll(outputFd, answer);
    wipe(answer);
    return written ? 0 : 1;
}
