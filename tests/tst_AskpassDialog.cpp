// The bundled password program's dialog and run: the prompt shown exactly, the answer written only on OK.

#include "AskpassDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Types `password` into the dialog that is about to show, then presses `button`.
void answerNextDialog(const QString& password, QDialogButtonBox::StandardButton button) {
    QTimer::singleShot(0, [password, button] {
        auto* dialog = qobject_cast<AskpassDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->passwordField()->setText(password);
        dialog->findChild<QDialogButtonBox*>()->button(button)->click();
    });
}

QByteArray readAvailable(int fd) {
    QByteArray bytes;
    char buffer[256];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, count);
    return bytes;
}

} // namespace

class TestAskpassDialog : public QObject {
    Q_OBJECT

private slots:
    void showsPromptExactly_data() {
        QTest::addColumn<QString>("prompt");
        QTest::newRow("line feeds and trailing space")
            << "Please enter your Mac OS X password.\n\nFolder permissions will be reset. ";
        QTest::newRow("trailing comma")
            << "Please enter your Mac OS X password.\n\nThe Launch Services database will be reset,";
        QTest::newRow("markup stays text") << "<b>bold</b> &amp; 100% %u";
        QTest::newRow("empty") << "";
    }

    void showsPromptExactly() {
        QFETCH(QString, prompt);
        const AskpassDialog dialog(prompt);
        QCOMPARE(dialog.promptLabel()->text(), prompt);
        QCOMPARE(dialog.promptLabel()->textFormat(), Qt::PlainText);
        QCOMPARE(dialog.passwordField()->echoMode(), QLineEdit::Password);
    }

    void writesAnswerOnlyOnOk_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("ok") << "s3cret pass" << int(QDialogButtonBox::Ok) << 0 << QByteArray("s3cret pass\n");
        QTest::newRow("ok, not ASCII")
            << "pässwörd€" << int(QDialogButtonBox::Ok) << 0 << QString("pässwörd€\n").toUtf8();
        QTest::newRow("ok, empty") << "" << int(QDialogButtonBox::Ok) << 0 << QByteArray("\n");
        QTest::newRow("cancel") << "typed anyway" << int(QDialogButtonBox::Cancel) << 1 << QByteArray();
    }

    void writesAnswerOnlyOnOk() {
        QFETCH(QString, typed);
        QFETCH(int, button);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, written);
        int fds[2];
        QCOMPARE(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        answerNextDialog(typed, QDialogButtonBox::StandardButton(button));

        const int result = runAskpass(QStringLiteral("Prompt"), fds[1]);

        ::close(fds[1]);
        const QByteArray output = readAvailable(fds[0]);
        ::close(fds[0]);
        QCOMPARE(result, exitCode);
        QCOMPARE(output, written);
    }

    // A reader that is gone is a failed answer, not a success.
    void closedOutputFails() {
        int fds[2];
        QCOMPARE(pipe2(fds, O_CLOEXEC), 0);
        ::close(fds[0]);
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        answerNextDialog(QStringLiteral("secret"), QDialogButtonBox::Ok);

        const int result = runAskpass(QStringLiteral("Prompt"), fds[1]);

        std::signal(SIGPIPE, previous);
        ::close(fds[1]);
        QCOMPARE(result, 1);
    }
};

QTEST_MAIN(TestAskpassDialog)
#include "tst_AskpassDialog.moc"
