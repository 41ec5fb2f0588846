// The task runner against real bash and real child programs, and the decoding of what they write.

#include "Platform/VTStreamDecoder.h"
#include "VTScriptUtils.h"
#include "VantleString.h"

#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kNoOutput = QStringLiteral("Did not receive any output from running the script:\n");

QStringList descriptors() {
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

QVariantMap runWaiting(const QString& script, const std::optional<QByteArray>& input = std::nullopt) {
    return runScriptWaitForExit(script, std::nullopt, input, true);
}

int inheritablePipeCount() {
    int count = 0;
    for (const QString& entry : descriptors()) {
        const int fd = entry.toInt();
        struct stat info {};
        count += fd > STDERR_FILENO && ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) &&
                 (::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0;
    }
    return count;
}

QString decodedInPieces(const QByteArray& bytes, const QList<qsizetype>& pieceSizes) {
    VTStreamDecoder decoder;
    qsizetype at = 0;
    for (qsizetype i = 0; at < bytes.size(); ++i) {
        const qsizetype size = qMin(pieceSizes.at(i % pieceSizes.size()), bytes.size() - at);
        decoder.append(QByteArrayView(bytes).sliced(at, size));
        at += size;
    }
    return decoder.finish();
}

// Every way of cutting the bytes into two pieces, single bytes, and a few uneven patterns.
QList<QList<qsizetype>> cuttings(qsizetype length) {
    QList<QList<qsizetype>> result = {{1}, {2}, {3}, {5, 1}, {7, 2, 1}, {qMax<qsizetype>(length, 1)}};
    for (qsizetype cut = 1; cut < length; ++cut)
        result.append({cut, length});
    return result;
}

// Processes of the process group that have not ended (zombies waiting for their parent do not count).
int liveMembersOfGroup(qint64 group) {
    int count = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        // "pid (name) state parent group ...": the name may hold anything but the last ")".
        const QList<QByteArray> fields = stat.open(QIODevice::ReadOnly)
                                             ? stat.readAll().split(')').last().trimmed().split(' ')
                                             : QList<QByteArray>();
        count += fields.size() > 2 && fields[2].toLongLong() == group && fields[0] != "Z";
    }
    return count;
}

} // namespace

class TestVTScriptUtils : public QObject {
    Q_OBJECT

private slots:
    void shellRunner_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<std::optional<QString>>("parameters");
        QTest::addColumn<std::optional<QByteArray>>("standardInput");
        QTest::addColumn<QVariantMap>("expected");
        const std::optional<QString> noParameters;
        const std::optional<QByteArray> noInput;
        QTest::newRow("silent, no parameters: no trailing space")
            << "true" << noParameters << noInput << QVariantMap{{"out", kNoOutput + "true"}, {"status", 0}};
        QTest::newRow("silent, empty parameters: one trailing space")
            << "true" << std::optional(QString()) << noInput
            << QVariantMap{{"out", kNoOutput + "true "}, {"status", 0}};
        QTest::newRow("parameters after one space, unquoted; blanks kept")
            << "printf '%s|'" << std::optional(QStringLiteral("a 'b c\t'")) << noInput
            << QVariantMap{{"out", "a|b c\t|"}, {"status", 0}};
        QTest::newRow("zero-byte input ends at once")
            << "cat; echo end" << noParameters << std::optional(QByteArray(""))
            << QVariantMap{{"out", "end\n"}, {"status", 0}};
        QTest::newRow("background grandchild writes after the child exited")
            << "(sleep 0.4; echo late; echo late-err >&2) & echo early" << noParameters << noInput
            << QVariantMap{{"out", "early\nlate\n"}, {"err", "late-err\n"}, {"status", 0}};
    }
    void shellRunner() {
        QFETCH(QString, script);
        QFETCH(std::optional<QString>, parameters);
        QFETCH(std::optional<QByteArray>, standardInput);
        QFETCH(QVariantMap, expected);
        QCOMPARE(runScriptWaitForExit(script, parameters, standardInput, true), expected);
    }

    void standardInputIsInheritedWhenAbsent() {
        QTemporaryFile file;
        QVERIFY(file.open() && file.write("inherited\n") == 10 && file.flush() && file.seek(0));
        const int saved = ::dup(STDIN_FILENO);
        ::dup2(file.handle(), STDIN_FILENO);
        const QVariantMap result = runWaiting(QStringLiteral("cat"));
        ::dup2(saved, STDIN_FILENO);
        ::close(saved);
        QCOMPARE(result.value("out").toString(), QStringLiteral("inherited\n"));
    }

    // More than a pipe holds each way, decoded on a second thread in pieces that cut characters apart: a
    // runner serving one stream at a time hangs; the text is that of decoding all the bytes at once.
    void largeStreams_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("error");
        const QByteArray line = QStringLiteral("a\u00e9\u20ac\U0001F600 \u00fcber\n").toUtf8();
        const QByteArray text = line.repeated(6 * 1024 * 1024 / line.size());
        QTest::newRow("error filled before input is read, character cut off by the end: all Latin-1")
            << "head -c 6291456 /dev/zero | tr '\\0' e >&2; cat" << (text + "\xF0\x9F")
            << QByteArray(6291456, 'e');
        QTest::newRow("both streams while input is written, late byte breaking UTF-8: all Latin-1")
            << "tee /dev/stderr" << (text + "\xFF" + text) << (text + "\xFF" + text);
    }
    void largeStreams() {
        QFETCH(QString, script);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, error);
        const QVariantMap result = runWaiting(script, input);
        QCOMPARE(result.value("out").toString(), vt_utf8stringWithData(input).value());
        QCOMPARE(result.value("err").toString(), vt_utf8stringWithData(error).value());
        QCOMPARE(result.value("status"), QVariant(0));
    }

    // With SIGPIPE at its default in this process the runner must still survive a child that stops reading.
    void childThatStopsReadingInput() {
        const auto previous = std::signal(SIGPIPE, SIG_DFL);
        const QVariantMap result = runWaiting(QStringLiteral("head -c 5"), QByteArray(8 * 1024 * 1024, 'a'));
        std::signal(SIGPIPE, previous);
        QCOMPARE(result, (QVariantMap{{"out", "aaaaa"}, {"status", 0}}));
    }

    // A child inherits neither the application's ignored SIGPIPE nor a blocked signal. With SIGCHLD ignored
    // (as a launcher may hand it over) the kernel takes every exit status: a lost one is no success.
    void childStartsWithDefaultSignals() {
        const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
        const auto previousChild = std::signal(SIGCHLD, SIG_IGN);
        sigset_t blocked, previous;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGUSR1);
        ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
        const QVariantMap result = runWaiting(QStringLiteral("exec grep '^Sig[BI]' /proc/self/status"));
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        std::signal(SIGCHLD, previousChild);
        std::signal(SIGPIPE, previousPipe);
        QCOMPARE(result.value("status"), QVariant(-1));
        const QStringList lines = result.value("out").toString().split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("SigBlk:\t0000000000000000"));
        const qulonglong ignored = lines[1].section('\t', 1).toULongLong(nullptr, 16);
        QCOMPARE(ignored & ((1ULL << (SIGPIPE - 1)) | (1ULL << (SIGCHLD - 1))), 0ULL);
    }

    void taskRunner_data() {
        QTest::addColumn<QString>("launchPath");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QVariantMap>("expected");
        const auto noOutput = [](const QString& path, const QString& arguments) {
            return QStringLiteral("There was no output after running the task '%1' with parameters (\n%2\n)")
                .arg(path, arguments);
        };
        QTest::newRow("arguments passed unchanged, no shell")
            << "/bin/echo" << QStringList{"a  b", "$HOME"} << QVariantMap{{"out", "a  b $HOME\n"}};
        QTest::newRow("standard error only, failing: still no status")
            << "/bin/bash" << QStringList{"-c", "echo e >&2; exit 1"}
            << QVariantMap{{"out", noOutput("/bin/bash", "    -c,\n    echo e >&2; exit 1")}, {"err", "e\n"}};
        QTest::newRow("missing executable")
            << "/nonexistent/tool" << QStringList{"a"}
            << QVariantMap{{"out", noOutput("/nonexistent/tool", "    a")},
                           {"err", "Could not start '/nonexistent/tool': No such file or directory"},
                           {"status", 127}};
        QTest::newRow("not executable")
            << "/etc/passwd" << QStringList{"a"}
            << QVariantMap{{"out", noOutput("/etc/passwd", "    a")},
                           {"err", "Could not start '/etc/passwd': Permission denied"},
                           {"status", 126}};
        // Its own pipe ends reach the child only as its standard streams; it counts the pipes above them.
        QTest::newRow("no other pipe inherited")
            << "/bin/sh"
            << QStringList{"-c", "find /proc/self/fd -mindepth 1 ! -name 0 ! -name 1 ! -name 2 -lname "
                                 "'pipe:*' | wc -l"}
            << QVariantMap{{"out", QStringLiteral("%1\n").arg(inheritablePipeCount())}};
    }
    void taskRunner() {
        QFETCH(QString, launchPath);
        QFETCH(QStringList, arguments);
        QFETCH(QVariantMap, expected);
        const qsizetype openBefore = descriptors().size();
        QCOMPARE(runTask(launchPath, arguments, QByteArray("in")), expected);
        QCOMPARE(descriptors().size(), openBefore);
    }

    // A child that goes on running after closing its output is collected once it ends.
    void noZombieWithoutWaiting() {
        const qsizetype openBefore = descriptors().size();
        const QVariantMap result =
            runScript(QStringLiteral("echo $$; exec >&- 2>&-; sleep 0.3"), std::nullopt, std::nullopt);
        QCOMPARE(descriptors().size(), openBefore);
        bool ok = false;
        const qint64 pid = result.value("out").toString().trimmed().toLongLong(&ok);
        QVERIFY(ok);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)), 10000);
    }

    // Ctrl+C on a command line whose handler stops the run: the script gets SIGTERM to clean up, or
    // SIGKILL after the grace when it will not end; what it started ends with it; nothing runs afterwards.
    void aStopEndsTheRunAndWhatItStarted_data() {
        QTest::addColumn<QString>("trap");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("partLeft");
        QTest::newRow("cleans up on SIGTERM") << "trap 'rm -f part; exit 143' TERM" << 143 << false;
        QTest::newRow("ignores SIGTERM") << "trap '' TERM" << int(SIGKILL) << true;
    }
    void aStopEndsTheRunAndWhatItStarted() {
        QFETCH(QString, trap);
        QFETCH(int, status);
        QFETCH(bool, partLeft);
        QTemporaryDir dir;
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(QStringLiteral(KEYLOFT_HELPERS_DIR "/stoppable_run"),
                   {trap + QStringLiteral("; touch part; echo $$ > pid; sleep 300 & wait")});
        QFile pidFile(dir.filePath(QStringLiteral("pid")));
        QTRY_VERIFY_WITH_TIMEOUT(pidFile.size() > 0, 20000);
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const qint64 group = pidFile.readAll().trimmed().toLongLong();
        QTRY_COMPARE(liveMembersOfGroup(group), 2); // the script and its sleep
        ::kill(static_cast<pid_t>(tool.processId()), SIGINT);
        QVERIFY(tool.waitForFinished(20000));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(tool.readAllStandardOutput(), "status " + QByteArray::number(status) + "\nafter 126 Did\n");
        QCOMPARE(QFileInfo::exists(dir.filePath(QStringLiteral("part"))), partLeft);
        QTRY_COMPARE(liveMembersOfGroup(group), 0);
    }

    // Wherever a stream is cut into pieces, the text is that of decoding all of it at once.
    void piecesGiveTheWholeText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QString mixed = QStringLiteral("a\u00e9\u20ac\U0001F600z");
        QTest::newRow("characters of every length") << mixed.toUtf8() << mixed;
        QTest::newRow("byte-order mark dropped once")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx") << QStringLiteral("\uFEFFx");
        const QByteArray broken = "\xEF\xBB\xBF\xF0\x9F\x98\x80" + mixed.toUtf8() + "\xFF";
        QTest::newRow("invalid byte late, after a mark and a pair: all Latin-1")
            << broken << QString::fromLatin1(broken);
        QTest::newRow("character cut off by the end")
            << QByteArray("ok \xE2\x82") << QStringLiteral("ok \u00E2\u0082");
        QTest::newRow("beyond U+10FFFF")
            << QByteArray("\xF4\x90\x80\x80") << QStringLiteral("\u00F4\u0090\u0080\u0080");
        QTest::newRow("NUL bytes") << QByteArray(5, '\0') << QString(5, QChar(0));
    }
    void piecesGiveTheWholeText() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QCOMPARE(vt_utf8stringWithData(bytes).value(), expected);
        for (const QList<qsizetype>& pieces : cuttings(bytes.size()))
            QCOMPARE(decodedInPieces(bytes, pieces), expected);
    }

    void decoderCountsBytesAndStartsAfreshAfterFinish() {
        VTStreamDecoder decoder;
        decoder.append("\xFF");
        QCOMPARE(decoder.byteCount(), 1);
        QCOMPARE(decoder.finish(), QStringLiteral("\u00FF"));
        QCOMPARE(decoder.byteCount(), 0);
        decoder.append("\xEF\xBB\xBF\xC3");
        decoder.append("\xA9");
        QCOMPARE(decoder.byteCount(), 5);
        QCOMPARE(decoder.finish(), QStringLiteral("\u00E9"));
    }
};

QTEST_GUILESS_MAIN(TestVTScriptUtils)
#include "tst_vtscriptutils.moc"
