// What the sudo service decides before sudo runs (its work with sudo: tst_runshellwithauthorization).

#include "Platform/SudoAuthorization.h"

#include <QtTest>

#include <cerrno>
#include <sys/wait.h>

class TestSudoAuthorization : public QObject {
    Q_OBJECT

private slots:
    void promptReachesPasswordProgramUnexpanded() {
        QCOMPARE(SudoAuthorization::sudoPromptArgument(u"%u für %h %p %U %H %%"_qs),
                 QString("%%u für %%h %%p %%U %%H %%%%").toUtf8());
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
        QVERIFY(start.status == EINVAL && start.pid == -1);
        QVERIFY(!prompt.contains(QChar(u'\0')) || authorization.preauthorize(prompt) == -1);
        QCOMPARE(waitpid(-1, nullptr, WNOHANG), -1); // no child was started
    }

    void missingSudoIsAFailure() {
        const SudoAuthorization authorization(QStringLiteral("/bin/false"),
                                              QStringLiteral("/nonexistent/sudo"));
        QCOMPARE(authorization.preauthorize(QStringLiteral("Prompt")), -1);
        const SudoStart start =
            authorization.startShell(QStringLiteral("Prompt"), QStringLiteral("true"), {});
        QVERIFY(start.status == ENOENT && start.pid == -1);
    }
};

QTEST_GUILESS_MAIN(TestSudoAuthorization)
#include "tst_sudoauthorization.moc"
