#pragma once

// A desktop whose default mail client is the fakemail helper, for tests that run the real xdg-email: this
// process's environment (inherited by children) points at a temporary HOME with the client's desktop entry,
// the fakes first on PATH, no desktop session and a DISPLAY that need not exist, until the object goes.

#include <QtCore>

#include <csignal>
#include <set>

class FakeMailDesktop {
public:
    // One start of a fake program: its name, its arguments, and the first mailto URI among them decoded into
    // its recipient and fields (subject, body, attach; line breaks as sent).
    struct Message {
        qint64 pid = 0;
        QString program;
        QStringList arguments;
        QString to;
        QMap<QString, QString> fields;
    };

    FakeMailDesktop() {
        for (const char* folder : {"/home", "/config", "/data/applications", "/bin"})
            QDir().mkpath(root() + folder);
        setClient("fakemail");
        set("PATH", root() + "/bin:" + qEnvironmentVariable("PATH"));
        set("HOME", root() + "/home");
        set("XDG_CONFIG_HOME", root() + "/config");
        set("XDG_DATA_HOME", root() + "/data");
        set("FAKEMAIL_LOG", root() + "/fakemail.log");
        set("XDG_DATA_DIRS", QString(""));
        set("XDG_CONFIG_DIRS", QString(""));
        set("DISPLAY", QStringLiteral(":97"));
        for (const char* name :
             {"XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
              "MATE_DESKTOP_SESSION_ID", "DESKTOP_SESSION", "LXQT_SESSION_CONFIG", "MAILER", "BROWSER",
              "WAYLAND_DISPLAY", "TERMINAL", "FAKEMAIL_EXIT", "FAKEMAIL_SLEEP", "FAKEMAIL_STDERR",
              "FAKEMAIL_FLOOD", "DBUS_SESSION_BUS_ADDRESS"})
            set(name, std::nullopt);
    }

    ~FakeMailDesktop() {
        // Fakes told to stay alive are ended here; the check keeps a reused pid's process safe.
        for (const Message& message : messages())
            if (programs_.count(QFileInfo(QStringLiteral("/proc/%1/exe").arg(message.pid)).symLinkTarget()))
                ::kill(static_cast<pid_t>(message.pid), SIGKILL);
        for (const auto& [name, value] : saved_)
            value ? qputenv(name.constData(), *value) : qunsetenv(name.constData());
    }
    FakeMailDesktop(const FakeMailDesktop&) = delete;
    FakeMailDesktop& operator=(const FakeMailDesktop&) = delete;

    [[nodiscard]] QString root() const { return dir_.path(); }
    // Makes the fake client, started as `name`, the default mailto handler through the desktop entry
    // `desktopId`; a terminal client also gets a fake x-terminal-emulator on PATH. A copy, not a link:
    // xdg-email resolves links before it looks at the name.
    void setClient(const QByteArray& name, const QByteArray& desktopId = "fakemail.desktop",
                   bool terminal = false) {
        const QByteArray program = installFake(name);
        if (terminal)
            installFake("x-terminal-emulator");
        write(root() + "/config/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/mailto=" + desktopId + "\n");
        write(root() + "/data/applications/" + QString::fromUtf8(desktopId),
              "[Desktop Entry]\nType=Application\nName=Fake Mail\nExec=" + program +
                  " %u\nStartupWMClass=FakeMailWindow\nMimeType=x-scheme-handler/mailto;\n" +
                  (terminal ? "Terminal=true\n" : ""));
    }
    void setClientExit(int status) { set("FAKEMAIL_EXIT", QString::number(status)); }
    void setClientSleep(int seconds) { set("FAKEMAIL_SLEEP", QString::number(seconds)); }
    // Sets (or, when absent, removes) a variable for the rest of the test; restored at the end.
    void set(const char* name, const std::optional<QString>& value) {
        if (!saved_.count(name))
            saved_[name] = qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
        value ? qputenv(name, value->toLocal8Bit()) : qunsetenv(name);
    }

    // A file of some bytes at `relativePath` under the temporary root; answers its absolute path.
    QString makeFile(const QString& relativePath) const {
        const QString path = root() + QLatin1Char('/') + relativePath;
        QDir().mkpath(QFileInfo(path).path());
        write(path, "PK report");
        return path;
    }

    // Every start of a fake program so far, in order.
    [[nodiscard]] QList<Message> messages() const {
        QList<Message> result;
        for (const QJsonObject& record : records())
            if (record.contains("arguments"))
                result.append(decode(record));
        return result;
    }

    // The bytes the flooding fake client with this pid got written; absent until it has finished.
    [[nodiscard]] std::optional<qint64> floodedBytes(qint64 pid) const {
        for (const QJsonObject& record : records())
            if (record.value("pid").toInteger() == pid && record.contains("flooded"))
                return record.value("flooded").toInteger();
        return std::nullopt;
    }

    static QString percentDecoded(const QString& text) {
        return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toLatin1()));
    }

private:
    QByteArray installFake(const QByteArray& name) {
        const QString program = root() + "/bin/" + QString::fromUtf8(name);
        programs_.insert(program);
        QFile::copy(QStringLiteral(KEYLOFT_HELPERS_DIR "/fakemail"), program);
        return QFile::encodeName(program);
    }

    [[nodiscard]] QList<QJsonObject> records() const {
        QList<QJsonObject> result;
        QFile log(root() + "/fakemail.log");
        if (log.open(QIODevice::ReadOnly))
            for (const QByteArray& line : log.readAll().split('\n'))
                if (!line.isEmpty())
                    result.append(QJsonDocument::fromJson(line).object());
        return result;
    }

    static void write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    static Message decode(const QJsonObject& record) {
        Message message{record.value("pid").toInteger(), record.value("program").toString(), {}, {}, {}};
        for (const QJsonValue& argument : record.value("arguments").toArray())
            message.arguments.append(argument.toString());
        const qsizetype at = message.arguments.indexOf(QRegularExpression("mailto:.*"));
        if (at < 0)
            return message;
        const QString uri = message.arguments[at].mid(7);
        message.to = percentDecoded(uri.section(u'?', 0, 0));
        for (const QString& field : uri.section(u'?', 1).split(u'&', Qt::SkipEmptyParts))
            message.fields.insert(field.section(u'=', 0, 0), percentDecoded(field.section(u'=', 1)));
        return message;
    }

    QTemporaryDir dir_;
    std::set<QString> programs_; // the fakes' paths
    std::map<QByteArray, std::optional<QByteArray>> saved_;
};
