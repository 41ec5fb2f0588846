// The system log's line layout, its replaceable sink, and the datagram syslog receives.

#include "Platform/SystemLog.h"

#include "support/TestSupport.h"

#include <QtTest>

#include <unistd.h>

class TestSystemLog : public QObject {
    Q_OBJECT
private slots:
    void lineLayout() {
        const QDateTime when(QDate(2026, 12, 6), QTime(18, 47, 3, 120));
        QCOMPARE(vt_systemLogLine(when, u"keyloft-troubleshooting"_qs, 1234, 1240, u"Running %@"_qs),
                 u"2026-12-06 18:47:03.120 keyloft-troubleshooting[1234:1240] Running %@"_qs);
    }

    // A replaced sink gets the formatted message; once restored, standard error gets one line in the
    // usual layout with the message as it is.
    void aRestoredSinkWritesOneUnformattedLineToStandardError() {
        {
            SystemLogCapture capture;
            vt_systemLogFormat("Error writing report to %@: %@", u"/x"_qs, u"100% %d"_qs);
            QCOMPARE(capture.messages(), QStringList{u"Error writing report to /x: 100% %d"_qs});
        }
        CapturedStderr err;
        vt_systemLog(u"50% done %s %@ \u00e9"_qs);
        const QString text = QString::fromUtf8(err.text());
        const QRegularExpression layout(
            QStringLiteral(
                R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tst_systemlog\[%1:\d+\] 50% done %s %@ é\n$)")
                .arg(QCoreApplication::applicationPid()));
        QVERIFY2(layout.match(text).hasMatch(), qPrintable(text));
    }

    // Priority: facility user (8) + severity notice (5); the ident is the process name with its pid.
    void syslogReceivesTheMessageUnformatted() {
        if (geteuid() != 0 || QStandardPaths::findExecutable(u"unshare"_qs).isEmpty())
            QSKIP("needs root and unshare for a private /dev/log");
        QProcess probe;
        probe.start(u"unshare"_qs,
                    {u"-m"_qs, u"/bin/sh"_qs, u"-c"_qs, u"mount -t tmpfs none /dev && exec \"$0\" \"$1\""_qs,
                     QStringLiteral(KEYLOFT_HELPERS_DIR "/syslog_probe"), u"50% %s %n done"_qs});
        QVERIFY(probe.waitForFinished(20000));
        if (probe.exitCode() != 0 && probe.readAllStandardError().contains("mount"))
            QSKIP("this machine does not allow a private mount namespace");
        QCOMPARE(probe.exitCode(), 0);
        const QByteArray datagram = probe.readAllStandardOutput();
        QVERIFY2(datagram.startsWith("<13>") && datagram.contains(" syslog_probe[") &&
                     datagram.endsWith("]: 50% %s %n done"),
                 datagram.constData());
    }
};

QTEST_GUILESS_MAIN(TestSystemLog)
#include "tst_systemlog.moc"
