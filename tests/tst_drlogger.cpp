// The logger's exact lines: where they go, when the opening line comes, and that they never mix.

#include "DRLogger.h"

#include "KeyloftVersion.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <thread>
#include <vector>

namespace {

const QString kOpening = u"== Opening log session =="_qs;

// The messages of the lines in text. Each line must be exactly "[version] ctime-text| message" and end
// in one line feed, so a level or anything else added to a line shows as a malformed line.
QStringList messagesOf(const QByteArray& text) {
    // "[version] Sun Dec  6 18:47:03 2026| message": the ctime text without its line feed.
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

    // 4 threads write 400 lines each; every line arrives whole, once.
    void linesFromSeveralThreadsNeverInterleave() {
        const QString path = dir_.filePath(QStringLiteral("threads.log"));
        DRLogger::setFileName(path);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < 400; ++i)
                    DRLogger::logger()->log(7, "%d:%d:%@", t, i, QString(200, QChar(u'a' + t)));
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        const QStringList messages = messagesOf(readFile(path));
        QCOMPARE(messages.size(), 1 + 4 * 400);
        QSet<QString> seen;
        for (const QString& message : messages.mid(1)) {
            const QStringList parts = message.split(u':');
            QCOMPARE(parts.size(), 3);
            QCOMPARE(parts[2], QString(200, QChar(u'a' + parts[0].toInt())));
            seen.insert(parts[0] + u':' + parts[1]);
        }
        QCOMPARE(seen.size(), 4 * 400);
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestDRLogger)
#include "tst_drlogger.moc"
