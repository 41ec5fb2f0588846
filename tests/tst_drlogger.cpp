// The logger's exact lines: where they go and when the opening line comes; and the system log beneath it: its
// line layout, its replaceable sink, and the datagram syslog receives.

#include "DRLogger.h"

#include "KeyloftVersion.h"
#include "support/TestSupport.h"

#include <QtTest>

namespace {

const QString kOpening = u"== Opening log session =="_qs;

// The messages of the lines in text, each exactly "[version] Sun Dec  6 18:47:03 2026| message" (the ctime
// text without its line feed) and ending in one line feed: anything added to a line shows it malformed.
QStringList messagesOf(const QByteArray& text) {
    static const QRegularExpression prefix(
        QStringLiteral(R"(^\[%1\] \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\| )")
            .arg(QRegularExpression::escape(QStringLiteral(KEYLOFT_BUILD_VERSION))));
    if (text.isEmpty() || !text.endsWith('\n'))
        return text.isEmpty() ? QStringList() : QStringList{u"<no final line feed>"_qs};
    QStringList messages;
    for (const QString& line : QString::fromUtf8(text.chopped(1)).split(u'\n')) {
        const QRegularExpressionMatch m = prefix.match(line);
        messages << (m.hasMatch() ? line.mid(m.capturedLength()) : u"<malformed: "_qs + line + u'>');
    }
    return messages;
}

} // namespace

class TestDRLogger : public QObject {
    Q_OBJECT
private slots:
    void init() {
        DRLogger::shutdown();
        DRLogger::setFileName(std::nullopt);
    }
    void cleanup() { init(); }

    // No opening line on standard output: the first line is the caller's message, in UTF-8. Only log2
    // reaches the system log too.
    void withoutAFileNameLinesGoToStandardOutput() {
        SystemLogCapture syslog;
        CapturedStdout out;
        DRLogger::logger()->log(5, "hello %@ %d%%", QStringLiteral("wörld"), 42);
        DRLogger::logger()->log2(5, "tmpfile failed. %@", QStringLiteral("Giving up."));
        QCOMPARE(messagesOf(out.text()),
                 (QStringList{u"hello wörld 42%"_qs, u"tmpfile failed. Giving up."_qs}));
        QCOMPARE(syslog.messages(), QStringList{u"tmpfile failed. Giving up."_qs});
    }

    // A logger created after shutdown keeps the configured name and appends after its own opening line.
    void aTildePathResolvesInHomeFoldersAreCreatedAndAppendedTo() {
        ScopedEnv home("HOME", QFile::encodeName(dir_.path()));
        DRLogger::setFileName(QStringLiteral("~/deep/er/tool.log"));
        CapturedStdout out;
        DRLogger::logger()->log(3, "first");
        DRLogger::shutdown();
        DRLogger::logger()->log(3, "second");
        const QString expected = dir_.filePath(QStringLiteral("deep/er/tool.log"));
        QCOMPARE(DRLogger::logger()->fileName(), std::optional<QString>(expected));
        QVERIFY(out.text().isEmpty());
        QCOMPARE(messagesOf(readFile(expected)),
                 (QStringList{kOpening, u"first"_qs, kOpening, u"second"_qs}));
    }

    void eachNewDestinationGetsOneOpeningLine() {
        const QString first = dir_.filePath(QStringLiteral("switch/a.log"));
        const QString second = dir_.filePath(QStringLiteral("switch/b.log"));
        DRLogger::setFileName(first);
        DRLogger::logger()->log(7, "to a");
        DRLogger::setFileName(first); // the same name again changes nothing
        DRLogger::logger()->log(7, "still a");
        DRLogger::setFileName(second);
        DRLogger::logger()->log(7, "to b");
        CapturedStdout out;
        DRLogger::setFileName(QString());
        DRLogger::logger()->log(7, "to stdout");
        QCOMPARE(messagesOf(out.text()), (QStringList{kOpening, u"to stdout"_qs}));
        QCOMPARE(messagesOf(readFile(first)), (QStringList{kOpening, u"to a"_qs, u"still a"_qs}));
        QCOMPARE(messagesOf(readFile(second)), (QStringList{kOpening, u"to b"_qs}));
    }

    // Each failure is reported in the system log, naming the path, and the lines still arrive.
    void aFolderThatCannotBeCreatedFallsBackToStandardOutput() {
        const QString blocker = dir_.filePath(QStringLiteral("a-file"));
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QStringList paths{blocker + QStringLiteral("/sub/x.log"),
                                blocker + QStringLiteral("/other/y.log")};
        SystemLogCapture syslog;
        CapturedStdout out;
        DRLogger::setFileName(paths[0]);
        DRLogger::logger()->log(7, "after failure");
        DRLogger::setFileName(QString());
        DRLogger::logger()->log(7, "after empty name");
        DRLogger::setFileName(paths[1]);
        DRLogger::logger()->log(7, "after second failure");
        QCOMPARE(messagesOf(out.text()),
                 (QStringList{kOpening, u"after failure"_qs, kOpening, u"after empty name"_qs, kOpening,
                              u"after second failure"_qs}));
        const QStringList messages = syslog.messages();
        QCOMPARE(messages.size(), 2);
        QVERIFY(messages[0].contains(paths[0]) && messages[1].contains(paths[1]));
    }

    void traceTimeAndExceptionLines() {
        SystemLogCapture syslog;
        CapturedStdout out;
        DRLogger* logger = DRLogger::logger();
        logger->logTime(QStringLiteral("launch"));
        logger->logEnter(QStringLiteral("Controller"), QStringLiteral("press"));
        logger->logAt(QStringLiteral("Controller"), "step 2");
        logger->logReturn(QStringLiteral("Controller"), QStringLiteral("done"));
        logger->appWillTerminate();
        logger->logException(QStringLiteral("boom"), {u"frame 0"_qs, u"frame 1"_qs}, "file.cpp", 12);
        const QByteArray text = out.text();
        const qsizetype exceptionLine = text.lastIndexOf('\n', text.indexOf("Exception")) + 1;
        QCOMPARE(messagesOf(text.left(exceptionLine)),
                 (QStringList{u"launch: 0.00"_qs, u"Controller > press"_qs, u"Controller - step 2"_qs,
                              u"Controller < done"_qs, u"== Application will terminate =="_qs}));
        const QString exception = u"Exception caught in (file.cpp:12): boom\n\tframe 0\n\tframe 1"_qs;
        QVERIFY(text.endsWith("| " + exception.toUtf8() + '\n'));
        QCOMPARE(syslog.messages(), QStringList{exception});
    }

    void systemLogLineLayout() {
        const QDateTime when(QDate(2026, 12, 6), QTime(18, 47, 3, 120));
        QCOMPARE(vt_systemLogLine(when, u"keyloft-troubleshooting"_qs, 1234, 1240, u"Running %@"_qs),
                 u"2026-12-06 18:47:03.120 keyloft-troubleshooting[1234:1240] Running %@"_qs);
    }

    // A replaced sink gets the message formatted; standard error, once restored, a line with it as it is.
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
                R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} tst_drlogger\[%1:\d+\] 50% done %s %@ é\n$)")
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

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestDRLogger)
#include "tst_drlogger.moc"
