// The bundled password program's dialog and run: the prompt shown exactly, the answer written only on OK.

#include "AskpassDialog.h"

#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

class TestAskpassDialog : public QObject {
    Q_OBJECT

private slots:
    // Line feeds, a trailing space and markup all stay as they are.
    void showsPromptExactly() {
        const QString prompt = u"Please enter your password.\n\n<b>Folders</b> &amp; 100% %u. "_qs;
        const AskpassDialog dialog(prompt);
        QCOMPARE(dialog.promptLabel()->text(), prompt);
        QVERIFY(dialog.promptLabel()->textFormat() == Qt::PlainText &&
                dialog.passwordField()->echoMode() == QLineEdit::Password);
    }

    void writesAnswerOnlyOnOk_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("readerGone");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("written");
        const int ok = QDialogButtonBox::Ok;
        QTest::newRow("ok, not ASCII") << ok << false << 0 << QString("pässwörd€\n").toUtf8();
        QTest::newRow("cancel") << int(QDialogButtonBox::Cancel) << false << 1 << QByteArray();
        // An answer nobody reads is a failed answer, not a success.
        QTest::newRow("ok, reader gone") << ok << true << 1 << QByteArray();
    }

    void writesAnswerOnlyOnOk() {
        QFETCH(int, button);
        QFETCH(bool, readerGone);
        int fds[2];
        QCOMPARE(pipe2(fds, O_CLOEXEC), 0);
        if (readerGone)
            ::close(fds[0]);
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        // The person types into the dialog about to show, then presses the button.
        QTimer::singleShot(0, [button = QDialogButtonBox::StandardButton(button)] {
            if (auto* dialog = qobject_cast<AskpassDialog*>(QApplication::activeModalWidget())) {
                dialog->passwordField()->setText(QStringLiteral("pässwörd€"));
                dialog->findChild<QDialogButtonBox*>()->button(button)->click();
            }
        });

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
