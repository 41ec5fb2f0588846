#pragma once

// A desktop whose default mail client is the fakemail helper, for tests that run the real xdg-email: a
// temporary HOME with mimeapps.list and fakemail.desktop, and this process's environment (inherited by
// children) pointed at it, with no desktop session and a DISPLAY that need not exist, until the object goes.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>

#include <csignal>
#include <map>
#include <optional>

class FakeMailDesktop {
public:
    // One start of the fake client: its arguments, and the mailto URI decoded into its parts.
    struct Message {
        qint64 pid = 0;
        QStringList arguments;
        QString to;
        QMap<QString, QString> fields; // subject, body, attach (decoded; line breaks as sent)
    };

    FakeMailDesktop() {
        for (const char* folder : {"/home", "/config", "/data/applications", "/bin"})
            QDir().mkpath(root() + folder);
        write(root() + "/config/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/mailto=fakemail.desktop\n");
        setClientProgramName("fakemail");
        set("HOME", root() + "/home");
        set("XDG_CONFIG_HOME", root() + "/config");
        set("XDG_DATA_HOME", root() + "/data");
        set("XDG_DATA_DIRS", QString(""));
        set("XDG_CONFIG_DIRS", QString(""));
        set("DISPLAY", QStringLiteral(":97"));
        set("FAKEMAIL_LOG", root() + "/fakemail.log");
        for (const char* name : {"XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                                 "MATE_DESKTOP_SESSION_ID", "DESKTOP_SESSION", "LXQT_SESSION_CONFIG",
                                 "MAILER", "BROWSER", "WAYLAND_DISPLAY", "FAKEMAIL_EXIT", "FAKEMAIL_SLEEP",
                                 "FAKEMAIL_STDERR", "DBUS_SESSION_BUS_ADDRESS"})
            set(name, std::nullopt);
    }

    ~FakeMailDesktop() {
        // Fakes told to stay alive are ended here; the check keeps a reused pid's process safe.
        for (const Message& message : messages())
            if (QFileInfo(QFileInfo(QStringLiteral("/proc/%1/exe").arg(message.pid)).symLinkTarget())
                    .fileName() == clientName_)
                ::kill(static_cast<pid_t>(message.pid), SIGKILL);
        for (const auto& [name, value] : saved_)
            value ? qputenv(name.constData(), *value) : qunsetenv(name.constData());
    }

    FakeMailDesktop(const FakeMailDesktop&) = delete;
    FakeMailDesktop& operator=(const FakeMailDesktop&) = delete;

    [[nodiscard]] QString root() const { return dir_.path(); }
    // The file name the fake client is started under; xdg-email treats "thunderbird" in its own way.
    // A copy, not a link: xdg-email resolves links before it looks at the name.
    void setClientProgramName(const QByteArray& name) {
        const QByteArray program = QFile::encodeName(root()) + "/bin/" + name;
        clientName_ = QFile::decodeName(name);
        QFile::copy(QStringLiteral(KEYLOFT_HELPERS_DIR "/fakemail"), QFile::decodeName(program));
        write(root() + "/data/applications/fakemail.desktop",
              "[Desktop Entry]\nType=Application\nName=Fake Mail\nExec=" + program +
                  " %u\nStartupWMClass=FakeMailWindow\nMimeType=x-scheme-handler/mailto;\n");
    }
    void setClientExit(int status) { set("FAKEMAIL_EXIT", QString::number(status)); }
    void setClientSleep(int seconds) { set("FAKEMAIL_SLEEP", QString::number(seconds)); }
    // Sets (or, when absent, removes) a variable for the rest of the test; restored at the end.
    void set(const char* name, const std::optional<QString>& value) {
        if (!saved_.count(name))
            saved_[name] =
                qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt;
        value ? qputenv(name, value->toLocal8Bit()) : qunsetenv(name);
    }

    // A file of some bytes at `relativePath` under the temporary root; answers its absolute path.
    QString makeFile(const QString& relativePath) const {
        const QString path = root() + QLatin1Char('/') + relativePath;
        QDir().mkpath(QFileInfo(path).path());
        write(path, "PK report");
        return path;
    }

    [[nodiscard]] QList<Message> messages() const {
        QList<Message> result;
        QFile log(root() + "/fakemail.log");
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray& line : log.readAll().split('\n'))
                if (!line.isEmpty())
                    result.append(decode(QJsonDocument::fromJson(line).object()));
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
        Message message{record.value("pid").toInteger(), {}, {}, {}};
        for (const QJsonValue& argument : record.value("arguments").toArray())
            message.arguments.append(argument.toString());
        const QString uri = message.arguments.value(0);
        const qsizetype query = uri.indexOf(QLatin1Char('?'));
        message.to = percentDecoded(uri.mid(7, query < 0 ? -1 : query - 7));
        for (const QString& field : query < 0 ? QStringList() : uri.mid(query + 1).split(QLatin1Char('&')))
            message.fields.insert(field.section(QLatin1Char('='), 0, 0),
                                  percentDecoded(field.section(QLatin1Char('='), 1)));
        return message;
    }

    QTemporaryDir dir_;
    QString clientName_;
    std::map<QByteArray, std::optional<QByteArray>> saved_;
};
