#include "Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString vt_bundlePathForExecutableDir(const QString& executableDir) {
    const QString dir = executableDir.isEmpty() ? QStringLiteral("/") : QDir::cleanPath(executableDir);
    if (dir.endsWith(QLatin1String("/Contents/bin")))
        return QDir::cleanPath(dir + QLatin1String("/../.."));
    return dir;
}

namespace {

// The running executable's folder; /proc/self/exe works before (and without) an application object.
QString executableDir() {
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
}

} // namespace

QString vt_bundlePath() {
    return vt_bundlePathForExecutableDir(executableDir());
}
