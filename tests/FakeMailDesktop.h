#pragma once

// A desktop whose default mail client is the fakemail helper, for tests that run the real xdg-email.
//
// Builds a temporary HOME with XDG_CONFIG_HOME/mimeapps.list and XDG_DATA_HOME/applications/
// fakemail.desktop, and points this process's environment at it (children inherit it): empty
// XDG_DATA_DIRS/XDG_CONFIG_DIRS, no desktop-detection variables, DISPLAY set to a display that need not
// exist. Restores the previous environment when destroyed. The fake's behaviour is chosen with
// setClientExit/setClientSleep; messages() reads what it received, one entry per start.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <QUrl>

#include <csignal>
#include <map>
#include <optional>

class FakeMailDesktop {
public:
    // One message as the fake client saw it: the mailto URI decoded into its parts.
    struct Message {
        qint64 pid = 0;
        QStringList arguments;
        QString to;
        QMap<QString, QString> fields; // subject, body, attach (decoded; line breaks as sent)
    };

    FakeMailDesktop() {
        const QString root = dir_.path();
        QDir().mkpath(root + "/home");
        QDir().mkpath(root + "/config");
        QDir().mkpath(root + "/data/applications");
        QDir().mkpath(root + "/bin");
        write(root + "/config/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/mailto=fakemail.desktop\n");
        setClientProgramName("fakemail");
        set("HOME", root + "/home");
        set("XDG_CONFIG_HOME", root + "/config");
        set("XDG_DATA_HOME", root + "/data");
        set("XDG_DATA_DIRS", QString(""));
        set("XDG_CONFIG_DIRS", QString(""));
        set("DISPLAY", QStringLiteral(":97"));
        set("FAKEMAIL_LOG", logPath());
        for (const char* name : {"XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                                 "MATE_DESKTOP_SESSION_ID", "DESKTOP_SESSION", "LXQT_SESSION_CONFIG",
                                 "MAILER", "BROWSER", "WAYLAND_DISPLAY", "FAKEMAIL_EXIT", "FAKEMAIL_SLEEP",
                                 "FAKEMAIL_STDERR", "DBUS_SESSION_BUS_ADDRESS"})
            set(name, std::nullopt);
    }

    ~FakeMailDesktop() {
        // Fakes told to stay alive are ended here; the check keeps a reused pid's process safe.
        for (const Message& message : messages()) {
            const QString program =
                QFileInfo(QStringLiteral("/proc/%1/exe").arg(message.pid)).symLinkTarget();
            if (QFileInfo(program).fileName() == clientName_)
                ::kill(static_cast<pid_t>(message.pid), SIGKILL);
        }
        for (const auto& [name, value] : saved_) {
            if (value)
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
    }

    FakeMailDesktop(const FakeMailDesktop&) = delete;
    FakeMailDesktop& operator=(const FakeMailDesktop&) = delete;

    [[nodiscard]] QString root() const { return dir_.path(); }
    [[nodiscard]] QString logPath() const { return dir_.path() + "/fakemail.log"; }

    // The file name the fake client is started under; xdg-email treats "thunderbird" in its own way.
    // A copy, not a link: xdg-email resolves links before it looks at the name.
    void setClientProgramName(const QByteArray& name) {
        const QByteArray root = QFile::encodeName(dir_.path());
        clientName_ = QFile::decodeName(name);
        QFile::copy(QStringLiteral(KEYLOFT_HELPERS_DIR "/fakemail"),
                    QFile::decodeName(root + "/bin/" + name));
        write(dir_.path() + "/data/applications/fakemail.desktop",
              "[Desktop Entry]\nType=Application\nName=Fake Mail\nExec=" + root + "/bin/" + name +
                  " %u\nStartupWMClass=FakeMailWindow\nMimeType=x-scheme-handler/mailto;\n");
    }
    void setClientExit(int status) { set("FAKEMAIL_EXIT", QString::number(status)); }
    void setClientSleep(int seconds) { set("FAKEMAIL_SLEEP", QString::number(seconds)); }
    // Sets (or, when absent, removes) a variable for the rest of the test; restored at the end.
    void set(const char* name, const std::optional<QString>& value) {
        if (!saved_.count(name)) {
            saved_[name] =
                qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
        }
        if (value)
            qputenv(name, value->toLocal8Bit());
        else
            qunsetenv(name);
    }

    // A file of some bytes at `relativePath` under the temporary root; answers its absolute path.
    QString makeFile(const QString& relativePath) const {
        const QString path = dir_.path() + QLatin1Char('/') + relativePath;
        QDir().mkpath(QFileInfo(path).path());
        write(path, "PK report");
        return path;
    }

    [[nodiscard]] QList<Message> messages() const {
        QList<Message> result;
        QFile log(logPath());
        if (!log.open(QIODevice::ReadOnly))
            return result;
        for (const QByteArray& line : log.readAll().split('\n')) {
            if (!line.isEmpty())
                result.append(decode(QJsonDocument::fromJson(line).object()));
        }
        return result;
    }

private:
    static void write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    static QString percentDecoded(const QString& text) {
        return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toLatin1()));
    }

    static Message decode(const QJsonObject& record) {
        Message message;
        message.pid = record.value("pid").toInteger();
        for (const QJsonValue& argument : record.value("arguments").toArray())
            message.arguments.append(argument.toString());
        const QString uri = message.arguments.value(0);
        const qsizetype query = uri.indexOf(QLatin1Char('?'));
        message.to = percentDecoded(uri.mid(7, query < 0 ? -1 : query - 7));
        if (query < 0)
            return message;
        for (const QString& field : uri.mid(query + 1).split(QLatin1Char('&'))) {
            const qsizetype equals = field.indexOf(QLatin1Char('='));
            message.fields.insert(field.left(equals), percentDecoded(field.mid(equals + 1)));
        }
        return message;
    }

    QTemporaryDir dir_;
    QString clientName_;
    std::map<QByteArray, std::optional<QByteArray>> saved_;
};
