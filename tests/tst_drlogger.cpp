#include "DRLogger.h"

#include "KeyloftVersion.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <thread>
#include <vector>

namespace {

// "[version] Sun Dec  6 18:47:03 2026| message": the ctime text without its line feed.
const QString kLinePattern = QStringLiteral(R"(^\[%1\] \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\| )")
                                 .arg(QRegularExpression::escape(QStringLiteral(KEYLOFT_BUILD_VERSION)));

QString messageOf(const QString& line) {
    const QRegularExpressionMatch m = QRegularExpression(kLinePattern).match(line);
    return m.hasMatch() ? line.mid(m.capturedLength()) : QStringLiteral("<malformed: %1>").arg(line);
}

// The messages of the lines in text; every line must be well formed and end in one line feed.
QStringList messagesOf(const QByteArray& text) {
    QStringList messages;
    if (text.isEmpty())
        return messages;
    if (!text.endsWith('\n'))
        return {QStringLiteral("<no final line feed>")};
    const QStringList lines = QString::fromUtf8(text.chopped(1)).split(QLatin1Char('\n'));
    for (const QString& line : lines)
        messages << messageOf(line);
    return messages;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestDRLogger : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void withoutAFileNameLinesGoToStandardOutput();
    void aConfiguredFileIsAppendedToAfterTheOpeningLine();
    void aTildePathResolvesInHomeAndFoldersAreCreated();
    void switchingFilesWritesAnOpeningLineToTheNewDestination();
    void theSameNameAgainChangesNothing();
    void theLevelIsNeverWritten();
    void aFolderThatCannotBeCreatedFallsBackToStandardOutput();
    void log2SendsTheMessageToTheSystemLogToo();
    void traceTimeAndExceptionLines();
    void linesFromSeveralThreadsNeverInterleave();

private:
    QTemporaryDir dir_;
};

void TestDRLogger::init() {
    DRLogger::shutdown();
    DRLogger::setFileName(std::nullopt);
}

void TestDRLogger::cleanup() {
    DRLogger::shutdown();
    DRLogger::setFileName(std::nullopt);
}

void TestDRLogger::withoutAFileNameLinesGoToStandardOutput() {
    CapturedStdout out;
    DRLogger* logger = DRLogger::logger();
    QCOMPARE(DRLogger::logger(), logger);
    logger->log(5, "hello %@ %d%%", QStringLiteral("wörld"), 42);
    // No opening line: the first line is the caller's message, in UTF-8.
    QCOMPARE(messagesOf(out.text()), QStringList{u"hello wörld 42%"_qs});
}

void TestDRLogger::aConfiguredFileIsAppendedToAfterTheOpeningLine() {
    const QString path = dir_.filePath(QStringLiteral("append/existing.log"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier line\n");
    }
    DRLogger::setFileName(path);
    CapturedStdout out;
    DRLogger::logger()->log(3, "first");
    DRLogger::shutdown();
    QVERIFY(out.text().isEmpty());
    const QByteArray content = readFile(path);
    QVERIFY(content.startsWith("earlier line\n"));
    QCOMPARE(messagesOf(content.mid(13)), (QStringList{u"== Opening log session =="_qs, u"first"_qs}));
    // A logger created after shutdown keeps using the configured name.
    DRLogger::logger()->log(3, "second");
    DRLogger::shutdown();
    QCOMPARE(messagesOf(readFile(path).mid(13)).mid(2),
             (QStringList{u"== Opening log session =="_qs, u"second"_qs}));
}

void TestDRLogger::aTildePathResolvesInHomeAndFoldersAreCreated() {
    ScopedEnv home("HOME", QFile::encodeName(dir_.path()));
    DRLogger::setFileName(QStringLiteral("~/deep/er/tool.log"));
    DRLogger::logger()->log(7, "in home");
    const QString expected = dir_.filePath(QStringLiteral("deep/er/tool.log"));
    QCOMPARE(DRLogger::logger()->fileName(), std::optional<QString>(expected));
    QCOMPARE(messagesOf(readFile(expected)), (QStringList{u"== Opening log session =="_qs, u"in home"_qs}));
}

void TestDRLogger::switchingFilesWritesAnOpeningLineToTheNewDestination() {
    const QString first = dir_.filePath(QStringLiteral("switch/a.log"));
    const QString second = dir_.filePath(QStringLiteral("switch/b.log"));
    DRLogger::setFileName(first);
    DRLogger::logger()->log(7, "to a");
    DRLogger::setFileName(second);
    DRLogger::logger()->log(7, "to b");
    CapturedStdout out;
    DRLogger::setFileName(QString());
    DRLogger::logger()->log(7, "to stdout");
    QCOMPARE(messagesOf(out.text()), (QStringList{u"== Opening log session =="_qs, u"to stdout"_qs}));
    QCOMPARE(messagesOf(readFile(first)), (QStringList{u"== Opening log session =="_qs, u"to a"_qs}));
    QCOMPARE(messagesOf(readFile(second)), (QStringList{u"== Opening log session =="_qs, u"to b"_qs}));
}

void TestDRLogger::theSameNameAgainChangesNothing() {
    const QString path = dir_.filePath(QStringLiteral("same.log"));
    DRLogger::setFileName(path);
    DRLogger::logger()->log(7, "one");
    DRLogger::setFileName(path);
    DRLogger::logger()->log(7, "two");
    QCOMPARE(messagesOf(readFile(path)),
             (QStringList{u"== Opening log session =="_qs, u"one"_qs, u"two"_qs}));
}

void TestDRLogger::theLevelIsNeverWritten() {
    CapturedStdout out;
    DRLogger::logger()->log(3, "same text");
    DRLogger::logger()->log(7, "same text");
    const QList<QByteArray> lines = out.text().split('\n');
    QCOMPARE(lines.size(), 3);
    // Each line is exactly version, time and message: there is no room for a level.
    QCOMPARE(messageOf(QString::fromUtf8(lines[0])), u"same text"_qs);
    QCOMPARE(messageOf(QString::fromUtf8(lines[1])), u"same text"_qs);
}

void TestDRLogger::aFolderThatCannotBeCreatedFallsBackToStandardOutput() {
    const QString blocker = dir_.filePath(QStringLiteral("a-file"));
    {
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    SystemLogCapture syslog;
    CapturedStdout out;
    DRLogger::setFileName(blocker + QStringLiteral("/sub/x.log"));
    DRLogger::logger()->log(7, "after failure");
    DRLogger::setFileName(QString());
    DRLogger::logger()->log(7, "after empty name");
    DRLogger::setFileName(blocker + QStringLiteral("/other/y.log"));
    DRLogger::logger()->log(7, "after second failure");
    QCOMPARE(
        messagesOf(out.text()),
        (QStringList{u"== Opening log session =="_qs, u"after failure"_qs, u"== Opening log session =="_qs,
                     u"after empty name"_qs, u"== Opening log session =="_qs, u"after second failure"_qs}));
    const QStringList messages = syslog.messages();
    QCOMPARE(messages.size(), 2);
    QVERIFY2(messages[0].startsWith(u"Failed to create directory for '%1/sub/x.log': "_qs.arg(blocker)),
             qPrintable(messages[0]));
    QVERIFY(messages[0].size() > u"Failed to create directory for '%1/sub/x.log': "_qs.arg(blocker).size());
    QVERIFY(messages[1].startsWith(u"Failed to create directory for '%1/other/y.log': "_qs.arg(blocker)));
    QVERIFY(!QFile::exists(blocker + QStringLiteral("/sub")));
}

void TestDRLogger::log2SendsTheMessageToTheSystemLogToo() {
    SystemLogCapture syslog;
    CapturedStdout out;
    DRLogger::logger()->log2(5, "tmpfile failed. %@", QStringLiteral("Giving up."));
    QCOMPARE(syslog.messages(), QStringList{u"tmpfile failed. Giving up."_qs});
    QCOMPARE(messagesOf(out.text()), QStringList{u"tmpfile failed. Giving up."_qs});
}

void TestDRLogger::traceTimeAndExceptionLines() {
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
    QVERIFY(text.endsWith("| Exception caught in (file.cpp:12): boom\n\tframe 0\n\tframe 1\n"));
    QCOMPARE(syslog.messages(),
             QStringList{u"Exception caught in (file.cpp:12): boom\n\tframe 0\n\tframe 1"_qs});
}

void TestDRLogger::linesFromSeveralThreadsNeverInterleave() {
    const QString path = dir_.filePath(QStringLiteral("threads.log"));
    DRLogger::setFileName(path);
    constexpr int kThreads = 4;
    constexpr int kLines = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const QString payload(200, QChar(u'a' + t));
            for (int i = 0; i < kLines; ++i)
                DRLogger::logger()->log(7, "%d:%d:%@", t, i, payload);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const QStringList messages = messagesOf(readFile(path));
    QCOMPARE(messages.size(), kThreads * kLines + 1);
    QSet<QString> seen;
    for (const QString& message : messages.mid(1)) {
        const QStringList parts = message.split(QLatin1Char(':'));
        QCOMPARE(parts.size(), 3);
        QCOMPARE(parts[2], QString(200, QChar(u'a' + parts[0].toInt())));
        seen.insert(parts[0] + QLatin1Char(':') + parts[1]);
    }
    QCOMPARE(seen.size(), kThreads * kLines);
}

QTEST_GUILESS_MAIN(TestDRLogger)
#include "tst_drlogger.moc"
