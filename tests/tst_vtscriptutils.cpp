// The task runner against real bash and real child programs.

#include "VTScriptUtils.h"
#include "VantleString.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kChildStreams = QStringLiteral(KEYLOFT_HELPERS_DIR "/child_streams");

QString noOutputText(const QString& commandLine) {
    return QStringLiteral("Did not receive any output from running the script:\n") + commandLine;
}

QByteArray pattern(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

// UTF-8 text of about the given size with characters one to four bytes long.
QByteArray mixedText(qsizetype size) {
    const QByteArray line = QStringLiteral("a\u00e9\u20ac\U0001F600 \u00fcber\n").toUtf8();
    QByteArray bytes;
    bytes.reserve(size + line.size());
    while (bytes.size() < size)
        bytes += line;
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int openDescriptorCount() {
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

// Pipes of this process that a child would inherit because they are not close-on-exec.
int inheritablePipeCount() {
    int count = 0;
    const QStringList entries =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const int fd = entry.toInt();
        struct stat info {};
        if (fd > STDERR_FILENO && ::fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode) &&
            (::fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0)
            ++count;
    }
    return count;
}

bool processExists(qint64 pid) {
    return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

// Sets a signal's disposition for the length of a scope.
class SignalDisposition {
public:
    SignalDisposition(int signal, void (*handler)(int)) : signal_(signal) {
        previous_ = std::signal(signal, handler);
    }
    ~SignalDisposition() { std::signal(signal_, previous_); }

private:
    int signal_;
    void (*previous_)(int);
};

} // namespace

class TestVTScriptUtils : public QObject {
    Q_OBJECT

private slots:
    void shellRunner_data();
    void shellRunner();
    void runScriptIsTheNoWaitRunner();
    void standardInputIsInheritedWhenAbsent();
    void largeStreamsDoNotDeadlock_data();
    void largeStreamsDoNotDeadlock();
    void largeOutputDecodedAsItArrives_data();
    void largeOutputDecodedAsItArrives();
    void childThatStopsReadingInput_data();
    void childThatStopsReadingInput();
    void childStartsWithDefaultSignals();
    void runTaskResults_data();
    void runTaskResults();
    void startFailure_data();
    void startFailure();
    void noZombieWithoutWaiting_data();
    void noZombieWithoutWaiting();
    void pipesAreNotInheritedByOtherChildren();
};

// script, parameters (invalid: absent), standard input (invalid: absent), wait, expected dictionary
void TestVTScriptUtils::shellRunner_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QVariant>("parameters");
    QTest::addColumn<QVariant>("standardInput");
    QTest::addColumn<bool>("wait");
    QTest::addColumn<QVariantMap>("expected");

    const QVariant absent;
    QTest::newRow("silent, no parameters: no trailing space")
        << "true" << absent << absent << true << QVariantMap{{"out", noOutputText("true")}, {"status", 0}};
    QTest::newRow("silent, empty parameters: one trailing space")
        << "true" << QVariant(QString()) << absent << true
        << QVariantMap{{"out", noOutputText("true ")}, {"status", 0}};
    QTest::newRow("parameters after one space, unquoted")
        << "printf '%s|'" << QVariant(QStringLiteral("a 'b c'")) << absent << true
        << QVariantMap{{"out", "a|b c|"}, {"status", 0}};
    QTest::newRow("silent without waiting: no status")
        << "true" << absent << absent << false << QVariantMap{{"out", noOutputText("true")}};
    QTest::newRow("standard error only")
        << "echo oops >&2; exit 3" << absent << absent << true
        << QVariantMap{{"out", noOutputText("echo oops >&2; exit 3")}, {"err", "oops\n"}, {"status", 3}};
    QTest::newRow("failure with empty standard error: no err")
        << "echo x; exit 4" << absent << absent << true << QVariantMap{{"out", "x\n"}, {"status", 4}};
    QTest::newRow("blanks and line feeds kept as they are")
        << "printf ' \\n\\n\\t'" << absent << absent << true
        << QVariantMap{{"out", " \n\n\t"}, {"status", 0}};
    QTest::newRow("UTF-8 output") << "printf 'caf\\xc3\\xa9'" << absent << absent << true
                                  << QVariantMap{{"out", QStringLiteral("caf\u00e9")}, {"status", 0}};
    QTest::newRow("non-UTF-8 output and error read as Latin-1")
        << "printf '\\xe9t\\xe9'; printf '\\xff\\xc3' >&2" << absent << absent << true
        << QVariantMap{{"out", QStringLiteral("\u00e9t\u00e9")},
                       {"err", QStringLiteral("\u00ff\u00c3")},
                       {"status", 0}};
    QTest::newRow("input fed") << "tr a-z A-Z" << absent << QVariant(QByteArray("hello")) << true
                               << QVariantMap{{"out", "HELLO"}, {"status", 0}};
    QTest::newRow("zero-byte input ends at once") << "cat; echo end" << absent << QVariant(QByteArray(""))
                                                  << true << QVariantMap{{"out", "end\n"}, {"status", 0}};
    QTest::newRow("command bash cannot run")
        << "no_such_command_xyz" << absent << absent << true
        << QVariantMap{{"out", noOutputText("no_such_command_xyz")},
                       {"err", "/bin/bash: line 1: no_such_command_xyz: command not found\n"},
                       {"status", 127}};
    QTest::newRow("ended by a signal") << "kill -TERM $$" << absent << absent << true
                                       << QVariantMap{{"out", noOutputText("kill -TERM $$")}, {"status", 15}};
    QTest::newRow("background grandchild writes after the child exited")
        << "(sleep 0.4; echo late; echo late-err >&2) & echo early" << absent << absent << true
        << QVariantMap{{"out", "early\nlate\n"}, {"err", "late-err\n"}, {"status", 0}};
    QTest::newRow("background grandchild, not waiting")
        << "(sleep 0.4; echo late) & echo early" << absent << absent << false
        << QVariantMap{{"out", "early\nlate\n"}};
}

void TestVTScriptUtils::shellRunner() {
    QFETCH(QString, script);
    QFETCH(QVariant, parameters);
    QFETCH(QVariant, standardInput);
    QFETCH(bool, wait);
    QFETCH(QVariantMap, expected);

    const std::optional<QString> params =
        parameters.isValid() ? std::optional<QString>(parameters.toString()) : std::nullopt;
    const std::optional<QByteArray> input =
        standardInput.isValid() ? std::optional<QByteArray>(standardInput.toByteArray()) : std::nullopt;
    const QVariantMap result = runScriptWaitForExit(script, params, input, wait);
    QCOMPARE(result, expected);
}

void TestVTScriptUtils::runScriptIsTheNoWaitRunner() {
    const QVariantMap result = runScript(QStringLiteral("cat; exit"), QStringLiteral("5"), QByteArray("in"));
    QCOMPARE(result, (QVariantMap{{"out", "in"}}));
}

void TestVTScriptUtils::standardInputIsInheritedWhenAbsent() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("input")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("inherited\n");
    file.close();

    const int saved = ::dup(STDIN_FILENO);
    const int replacement = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
    QVERIFY(replacement >= 0);
    ::dup2(replacement, STDIN_FILENO);
    ::close(replacement);
    const QVariantMap shell = runScriptWaitForExit(QStringLiteral("cat"), std::nullopt, std::nullopt, true);
    ::lseek(STDIN_FILENO, 0, SEEK_SET);
    const QVariantMap task = runTask(QStringLiteral("/bin/cat"), {}, std::nullopt);
    if (saved >= 0) {
        ::dup2(saved, STDIN_FILENO);
        ::close(saved);
    } else {
        ::close(STDIN_FILENO);
    }

    QCOMPARE(shell.value("out").toString(), QStringLiteral("inherited\n"));
    QCOMPARE(task.value("out").toString(), QStringLiteral("inherited\n"));
}

// More than any pipe holds in each direction: a runner that serves one stream at a time hangs here.
void TestVTScriptUtils::largeStreamsDoNotDeadlock_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("errorBytes");

    QTest::newRow("standard error filled before input is read")
        << kChildStreams << QStringList{"flood-stderr", "6291456"} << 6291456;
    QTest::newRow("output filled while input is still being written") << "/bin/cat" << QStringList{} << 0;
}

void TestVTScriptUtils::largeStreamsDoNotDeadlock() {
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, errorBytes);

    const QByteArray input = pattern(6 * 1024 * 1024 + 123);
    const QVariantMap result = runTask(program, arguments, input);
    QCOMPARE(result.value("out").toString().toLatin1(), input);
    QCOMPARE(result.value("err").toString().size(), errorBytes);
    QVERIFY(!result.contains("status"));
}

// Megabytes of output are decoded on a second thread while they arrive, in pieces that cut
// characters apart; the text must still be exactly that of decoding all the bytes at once.
void TestVTScriptUtils::largeOutputDecodedAsItArrives_data() {
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QByteArray>("error");

    const QByteArray text = mixedText(6 * 1024 * 1024);
    QTest::newRow("text of every character length") << text << QByteArray();
    QTest::newRow("byte-order mark dropped") << ("\xEF\xBB\xBF" + text) << QByteArray();
    QTest::newRow("late byte breaking UTF-8: all Latin-1") << (text + "\xFF" + text) << QByteArray();
    QTest::newRow("character cut off by the end: all Latin-1") << (text + "\xF0\x9F") << QByteArray();
    QTest::newRow("both streams at once, one broken late")
        << text << ("\xEF\xBB\xBF" + text + "\xC3" + text.left(999));
}

void TestVTScriptUtils::largeOutputDecodedAsItArrives() {
    QFETCH(QByteArray, output);
    QFETCH(QByteArray, error);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString outputPath = dir.filePath(QStringLiteral("out"));
    const QString errorPath = dir.filePath(QStringLiteral("err"));
    QVERIFY(writeFile(outputPath, output));
    QVERIFY(writeFile(errorPath, error));
    const QVariantMap result =
        runScriptWaitForExit(QStringLiteral("cat '%1' & cat '%2' >&2; wait").arg(outputPath, errorPath),
                             std::nullopt, std::nullopt, true);
    QCOMPARE(result.value("out").toString(), vt_utf8stringWithData(output).value());
    if (error.isEmpty())
        QVERIFY(!result.contains("err"));
    else
        QCOMPARE(result.value("err").toString(), vt_utf8stringWithData(error).value());
    QCOMPARE(result.value("status"), QVariant(0));
}

void TestVTScriptUtils::childThatStopsReadingInput_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("out");

    QTest::newRow("reads a little, then exits") << "head -c 5"
                                                << "abcde";
    QTest::newRow("closes its input at once") << "exec 0<&-; sleep 0.1; echo closed"
                                              << "closed\n";
}

// The test process keeps SIGPIPE at its default here: the runner must not depend on the
// application ignoring it.
void TestVTScriptUtils::childThatStopsReadingInput() {
    QFETCH(QString, script);
    QFETCH(QString, out);

    const SignalDisposition sigpipe(SIGPIPE, SIG_DFL);
    const QVariantMap result = runScriptWaitForExit(script, std::nullopt, pattern(8 * 1024 * 1024), true);
    QCOMPARE(result, (QVariantMap{{"out", out}, {"status", 0}}));
}

void TestVTScriptUtils::childStartsWithDefaultSignals() {
    const SignalDisposition sigpipe(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    const QVariantMap result = runTask(kChildStreams, {QStringLiteral("signals")}, QByteArray("x"));
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    QCOMPARE(result.value("out").toString(), QStringLiteral("SIGPIPE=default SIGCHLD=default blocked=0\n"));
}

void TestVTScriptUtils::runTaskResults_data() {
    QTest::addColumn<QString>("launchPath");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("arguments passed unchanged, no shell")
        << "/bin/echo" << QStringList{"a  b", "$HOME"} << QVariantMap{{"out", "a  b $HOME\n"}};
    QTest::newRow("silent but for standard error, failing: still no status")
        << "/bin/bash" << QStringList{"-c", "echo e >&2; exit 1"}
        << QVariantMap{{"out", "There was no output after running the task '/bin/bash' with parameters (\n"
                               "    -c,\n    echo e >&2; exit 1\n)"},
                       {"err", "e\n"}};
}

void TestVTScriptUtils::runTaskResults() {
    QFETCH(QString, launchPath);
    QFETCH(QStringList, arguments);
    QFETCH(QVariantMap, expected);

    const QVariantMap result = runTask(launchPath, arguments, std::nullopt);
    QCOMPARE(result, expected);
}

void TestVTScriptUtils::startFailure_data() {
    QTest::addColumn<QString>("launchPath");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("status");

    QTest::newRow("missing") << "/nonexistent/tool"
                             << "No such file or directory" << 127;
    QTest::newRow("not executable") << "not-executable"
                                    << "Permission denied" << 126;
    QTest::newRow("a folder") << "folder"
                              << "Permission denied" << 126;
}

void TestVTScriptUtils::startFailure() {
    QFETCH(QString, launchPath);
    QFETCH(QString, reason);
    QFETCH(int, status);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile plain(dir.filePath(QStringLiteral("not-executable")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write("#!/bin/sh\necho should not run\n");
    plain.close();
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QString path = launchPath.startsWith('/') ? launchPath : dir.filePath(launchPath);

    const int descriptors = openDescriptorCount();
    const QVariantMap result = runTask(path, {QStringLiteral("a")}, QByteArray("input"));
    QCOMPARE(openDescriptorCount(), descriptors);
    const QVariantMap expected{
        {"out", QStringLiteral("There was no output after running the task '%1' with parameters (\n    a\n)")
                    .arg(path)},
        {"err", QStringLiteral("Could not start '%1': %2").arg(path, reason)},
        {"status", status}};
    QCOMPARE(result, expected);
}

void TestVTScriptUtils::noZombieWithoutWaiting_data() {
    QTest::addColumn<QString>("script");

    QTest::newRow("exits at once") << "echo $$";
    QTest::newRow("keeps running after closing its output") << "echo $$; exec >&- 2>&-; sleep 0.3";
}

void TestVTScriptUtils::noZombieWithoutWaiting() {
    QFETCH(QString, script);

    const int descriptors = openDescriptorCount();
    const QVariantMap result = runScript(script, std::nullopt, std::nullopt);
    QCOMPARE(openDescriptorCount(), descriptors);
    bool ok = false;
    const qint64 pid = result.value("out").toString().trimmed().toLongLong(&ok);
    QVERIFY(ok);
    QTRY_VERIFY_WITH_TIMEOUT(!processExists(pid), 10000);
}

// A runner busy on one thread must not hand its pipe ends to a child started on another thread.
void TestVTScriptUtils::pipesAreNotInheritedByOtherChildren() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("release"));
    const QString marker = dir.filePath(QStringLiteral("started"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);

    QVariantMap busy;
    std::thread other([&] {
        busy = runScriptWaitForExit(
            QStringLiteral("touch '%1'; read line < '%2'; echo \"$line\"").arg(marker, fifo), std::nullopt,
            QByteArray("unused"), true);
    });
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 10000);
    const int expected = inheritablePipeCount();
    const QVariantMap result = runTask(kChildStreams, {QStringLiteral("pipes")}, QByteArray());

    QFile release(fifo);
    const bool released = release.open(QIODevice::WriteOnly) && release.write("done\n") == 5;
    release.close();
    other.join();
    QVERIFY(released);
    QCOMPARE(busy.value("out").toString(), QStringLiteral("done\n"));
    QCOMPARE(result.value("out").toString(), QStringLiteral("%1\n").arg(expected));
}

QTEST_GUILESS_MAIN(TestVTScriptUtils)
#include "tst_vtscriptutils.moc"
