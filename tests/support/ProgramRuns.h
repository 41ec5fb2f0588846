#pragma once

// Running the tool's programs as a fresh user, and the scratch files around them, for the test programs.

#include "TestSupport.h"

// How a program ended: its exit code, or -1 when a signal ended it, it did not start or did not finish
// in time (the reason then stands as the error output).
struct Run {
    int status = -1;
    QByteArray out, err;
    [[nodiscard]] QByteArray both() const { return out + err; }
};

// Blocks until the program ends; one that outlives the time-out is killed.
inline Run run(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               int timeoutMs = 240000) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs))
        return Run{-1, {}, process.errorString().toUtf8()};
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               process.readAllStandardOutput(), process.readAllStandardError()};
}

// This environment as a fresh user's: its own HOME, none of the caller's XDG folders, no display,
// English messages.
inline QProcessEnvironment freshUserEnvironment(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
          "XDG_RUNTIME_DIR", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    return env;
}

// Writes the file, and the folders it needs, with these permissions; false when a step fails.
inline bool writeFile(const QString& path, const QByteArray& contents,
                      QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(contents) == contents.size() && file.flush() && file.setPermissions(permissions);
}
