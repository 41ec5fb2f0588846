// A stand-in for the desktop's mail client, started by xdg-email in the mail tests.
//
// Appends one JSON line {"pid": …, "arguments": [...]} to the file named by FAKEMAIL_LOG, then
// writes FAKEMAIL_STDERR (if set) to standard error, stays alive FAKEMAIL_SLEEP seconds (if set) and
// exits with FAKEMAIL_EXIT (0 when unset).

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

void logArguments(int argc, char* argv[]) {
    QJsonArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromUtf8(argv[i]));
    QJsonObject record{{"pid", static_cast<qint64>(getpid())}, {"arguments", arguments}};
    QFile log(QFile::decodeName(qgetenv("FAKEMAIL_LOG")));
    if (!log.open(QIODevice::Append))
        return;
    log.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace

int main(int argc, char* argv[]) {
    logArguments(argc, argv);
    const QByteArray message = qgetenv("FAKEMAIL_STDERR");
    if (!message.isEmpty())
        std::fprintf(stderr, "%s\n", message.constData());
    const int seconds = qEnvironmentVariableIntValue("FAKEMAIL_SLEEP");
    if (seconds > 0)
        sleep(static_cast<unsigned>(seconds));
    return qEnvironmentVariableIntValue("FAKEMAIL_EXIT");
}
