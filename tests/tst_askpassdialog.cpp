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

} // namespace

class TestAskpassDialog : public QObject {
    Q_OBJECT

private slots:
    void showsPromptExactly_data() {
        QTest::addColumn<QString>("prompt");
        QTest::newRow("line feeds and trailing space")
            << "Please enter your password.\n\nFolders will be reset. ";
        QTest::newRow("markup stays text") << "<b>bold</b> &amp; 100% %u";
    }

    void showsPromptExactly() {
        QFETCH(QString, prompt);
        const AskpassDialog dialog(prompt);
        QCOMPARE(dialog.promptLabel()->text(), prompt);
        QVERIFY(dialog.promptLabel()->textFormat() == Qt::PlainText &&
                dialog.passwordField()->echoMode() == QLineEdit::Password);
    }

    void writesAnswerOnlyOnOk_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("readerGone");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("written");
        const int ok = QDialogButtonBox::Ok;
        QTest::newRow("ok, not ASCII") << "pässwörd€" << ok << false << 0 << QString("pässwörd€\n").toUtf8();
        QTest::newRow("cancel") << "typed anyway" << int(QDialogButtonBox::Cancel) << false << 1
                                << QByteArray();
        // An answer nobody reads is a failed answer, not a success.
        QTest::newRow("ok, reader gone") << "secret" << ok << true << 1 << QByteArray();
    }

    void writesAnswerOnlyOnOk() {
        QFETCH(QString, typed);
        QFETCH(int, button);
        QFETCH(bool, readerGone);
        int fds[2];
        QCOMPARE(pipe2(fds, O_CLOEXEC), 0);
        if (readerGone)
            ::close(fds[0]);
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        answerNextDialog(typed, QDialogButtonBox::StandardButton(button));

        const int result = runAskpass(QStringLiteral("Prompt"), fds[1]);

        std::signal(SIGPIPE, previous);
        ::close(fds[1]);
        QTEST(result, "exitCode");
        QFile reader;
        if (!readerGone && reader.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            QTEST(reader.readAll(), "written");
        QVERIFY(readerGone || reader.isOpen());
    }
};

QTEST_MAIN(TestAskpassDialog)
#include "tst_askpassdialog.moc"
