// A stand-in for the desktop's mail client (and for the terminal a terminal mail client runs in), copied
// under the name of the client it plays. Appends one JSON line {"pid": …, "program": <its own file name>,
// "arguments": [...]} to the file named by FAKEMAIL_LOG. Started as "x-terminal-emulator -e PROGRAM ARGS…" it
// then runs PROGRAM with ARGS, as a terminal does. Otherwise it writes FAKEMAIL_STDERR (if set) to standard
// error, FAKEMAIL_FLOOD MiB (if set) to standard output and as much to standard error, logs {"pid": …,
// "flooded": <bytes that went through>}, stays alive FAKEMAIL_SLEEP seconds (if set) and exits with
// FAKEMAIL_EXIT (0 when unset).

#include <QtCore>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void logRecord(QJsonObject record) {
    record.insert("pid", static_cast<qint64>(getpid()));
    QFile log(QFile::decodeName(qgetenv("FAKEMAIL_LOG")));
    if (log.open(QIODevice::Append))
        log.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n');
}

// Writes `mebibytes` MiB to each of standard output and error, ignoring refusals, as a chatty client does;
// answers how many bytes were accepted.
qint64 flood(int mebibytes) {
    static char chunk[4096];
    std::memset(chunk, 'x', sizeof chunk);
    qint64 accepted = 0;
    for (int fd : {STDOUT_FILENO, STDERR_FILENO})
        for (int i = 0; i < mebibytes * 256; ++i)
            accepted += std::max<ssize_t>(::write(fd, chunk, sizeof chunk), 0);
    return accepted;
}

} // namespace

int main(int argc, char* argv[]) {
    const QString program = QFileInfo(QFile::decodeName(argv[0])).fileName();
    QJsonArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    logRecord({{"program", program}, {"arguments", arguments}});
    if (program == QLatin1String("x-terminal-emulator")) {
        if (argc < 3 || std::strcmp(argv[1], "-e") != 0)
            return 2;
        ::execv(argv[2], argv + 2);
        return 127;
    }
    if (const QByteArray message = qgetenv("FAKEMAIL_STDERR"); !message.isEmpty())
        std::fprintf(stderr, "%s\n", message.constData());
    if (const int mebibytes = qEnvironmentVariableIntValue("FAKEMAIL_FLOOD"); mebibytes > 0)
        logRecord({{"flooded", flood(mebibytes)}});
    if (const int seconds = qEnvironmentVariableIntValue("FAKEMAIL_SLEEP"); seconds > 0)
        sleep(static_cast<unsigned>(seconds));
    return qEnvironmentVariableIntValue("FAKEMAIL_EXIT");
}
