// What the sudo service decides before sudo runs: the prompt as sudo must be given it, and the texts
// and programs it refuses. Its work with the real sudo is tested through the privileged shell.

#include "Platform/SudoAuthorization.h"

#include <QtTest>

#include <cerrno>
#include <sys/wait.h>

class TestSudoAuthorization : public QObject {
    Q_OBJECT

private slots:
    void promptReachesPasswordProgramUnexpanded_data() {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QByteArray>("argument");
        QTest::newRow("sudo escapes") << "%u on %h %p %U %H %%" << QByteArray("%%u on %%h %%p %%U %%H %%%%");
        QTest::newRow("not ASCII") << "Passwort für %u" << QString("Passwort für %%u").toUtf8();
    }

    void promptReachesPasswordProgramUnexpanded() {
        QFETCH(QString, prompt);
        QFETCH(QByteArray, argument);
        QCOMPARE(SudoAuthorization::sudoPromptArgument(prompt), argument);
    }

    // A NUL would cut the text short on sudo's command line: a shortened command must never run.
    void refusesTextsWithNul_data() {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("command");
        QTest::newRow("command") << "Prompt" << QString::fromUtf16(u"true\0; rm -rf /tmp/x", 20);
        QTest::newRow("prompt") << QString::fromUtf16(u"Pro\0mpt", 7) << "true";
    }

    void refusesTextsWithNul() {
        QFETCH(QString, prompt);
        QFETCH(QString, command);
        // /bin/true would grant anything: the refusal must come before sudo is run.
        const SudoAuthorization authorization(QStringLiteral("/bin/false"), QStringLiteral("/bin/true"));
        const SudoStart start = authorization.startShell(prompt, command, std::nullopt);
        QCOMPARE(start.status, EINVAL);
        QCOMPARE(start.pid, pid_t(-1));
        if (prompt.contains(QChar(u'\0')))
            QCOMPARE(authorization.preauthorize(prompt), -1);
        QCOMPARE(waitpid(-1, nullptr, WNOHANG), -1); // no child was started
    }

    void missingSudoIsAFailure() {
        const SudoAuthorization authorization(QStringLiteral("/bin/false"),
                                              QStringLiteral("/nonexistent/keyloft/sudo"));
        QCOMPARE(authorization.preauthorize(QStringLiteral("Prompt")), -1);
        const SudoStart start =
            authorization.startShell(QStringLiteral("Prompt"), QStringLiteral("true"), std::nullopt);
        QCOMPARE(start.status, ENOENT);
        QCOMPARE(start.pid, pid_t(-1));
    }
};

QTEST_GUILESS_MAIN(TestSudoAuthorization)
#include "tst_sudoauthorization.moc"
