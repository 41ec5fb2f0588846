#pragma once

// The dialog of the bundled password program: the prompt text exactly as given (plain text, line
// feeds and trailing spaces kept), a password field, OK and Cancel.
//
// The password lives only in the field; password() hands out a copy for the caller to write to sudo.
// Nothing here logs or stores it.

#include <QDialog>

class QLabel;
class QLineEdit;

class AskpassDialog : public QDialog {
    Q_OBJECT
public:
    explicit AskpassDialog(const QString& prompt, QWidget* parent = nullptr);

    [[nodiscard]] QString prompt() const;
    [[nodiscard]] QString password() const;
    // Empties the field, so the password does not outlive its use in the widget.
    void clearPassword();

    [[nodiscard]] QLabel* promptLabel() const { return promptLabel_; }
    [[nodiscard]] QLineEdit* passwordField() const { return passwordField_; }

private:
    QLabel* promptLabel_;
    QLineEdit* passwordField_;
};

// The password program's whole run: shows the dialog for `prompt`; on OK writes the password and a line
// feed to `outputFd` and answers 0, on Cancel (or when the write fails) answers 1. Needs a QApplication.
[[nodiscard]] int runAskpass(const QString& prompt, int outputFd);
