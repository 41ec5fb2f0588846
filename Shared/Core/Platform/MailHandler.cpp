#include "MailHandler.h"

#include "DesktopCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>

namespace {

using namespace std::chrono_literals;

constexpr auto kXdgMimePatience = 2000ms;

// A value with the desktop-entry escapes (\s \n \t \r \\) resolved.
QString unescapedValue(const QString& raw) {
    QString value;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != QLatin1Char('\\') || i + 1 == raw.size()) {
            value += raw[i];
            continue;
        }
        const QChar next = raw[++i];
        value += next == QLatin1Char('s')   ? QChar(' ')
                 : next == QLatin1Char('n') ? QChar('\n')
                 : next == QLatin1Char('t') ? QChar('\t')
                 : next == QLatin1Char('r') ? QChar('\r')
                                            : next;
    }
    return value;
}

// The words of an Exec line, with double-quoted words unquoted.
QStringList execWords(const QString& exec) {
    QStringList words;
    QString word;
    bool quoted = false;
    bool inWord = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted && c == QLatin1Char('\\') && i + 1 < exec.size()) {
            word += exec[++i];
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

// The words of an Exec line up to and including the program it starts, looking past "env" and its
// VAR=value words; empty when it names no program.
QStringList launchWords(const QString& exec) {
    const QStringList words = execWords(exec);
    qsizetype i = 0;
    if (i < words.size() && QFileInfo(words[i]).fileName() == QLatin1String("env"))
        ++i;
    while (i < words.size() && words[i].contains(QLatin1Char('=')))
        ++i;
    return i < words.size() ? words.first(i + 1) : QStringList();
}

QStringList dataDirectories() {
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    dirs.append(home);
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty())
        system = QStringLiteral("/usr/local/share:/usr/share");
    dirs.append(system.split(QLatin1Char(':'), Qt::SkipEmptyParts));
    return dirs;
}

} // namespace

std::optional<VTMailHandler> vt_mailHandlerFromDesktopEntry(const QString& desktopId,
                                                            const QByteArray& contents) {
    bool inEntry = false;
    bool sawEntry = false;
    VTMailHandler handler{desktopId, {}, {}, {}, false};
    for (const QByteArray& rawLine : contents.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            sawEntry = sawEntry || inEntry;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inEntry || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = unescapedValue(line.mid(equals + 1).trimmed());
        if (key == QLatin1String("Exec")) {
            handler.launchWords = launchWords(value);
            handler.executableName =
                handler.launchWords.isEmpty() ? QString() : QFileInfo(handler.launchWords.last()).fileName();
        } else if (key == QLatin1String("StartupWMClass")) {
            handler.startupWMClass = value;
        } else if (key == QLatin1String("Terminal")) {
            handler.terminal = value == QLatin1String("true");
        }
    }
    if (!sawEntry)
        return std::nullopt;
    return handler;
}

QStringList vt_desktopEntryCandidates(const QString& desktopId) {
    QStringList candidates;
    const qsizetype dash = desktopId.indexOf(QLatin1Char('-'));
    for (const QString& dir : dataDirectories()) {
        const QString applications = dir + QStringLiteral("/applications/");
        candidates.append(applications + desktopId);
        if (dash > 0)
            candidates.append(applications + desktopId.left(dash) + QLatin1Char('/') +
                              desktopId.mid(dash + 1));
    }
    return candidates;
}

std::optional<VTMailHandler> vt_defaultMailHandler() {
    const VTDesktopCommandResult query = vt_runDesktopCommand(
        QStringLiteral("xdg-mime"),
        {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")},
        kXdgMimePatience);
    if (query.outcome != VTDesktopCommandResult::Outcome::Exited || query.status != 0)
        return std::nullopt;
    const QString desktopId = QString::fromUtf8(query.standardOutput).trimmed();
    if (desktopId.isEmpty() || desktopId.contains(QLatin1Char('/')))
        return std::nullopt;
    for (const QString& candidate : vt_desktopEntryCandidates(desktopId)) {
        QFile entry(candidate);
        if (entry.open(QIODevice::ReadOnly))
            return vt_mailHandlerFromDesktopEntry(desktopId, entry.readAll());
    }
    return std::nullopt;
}
