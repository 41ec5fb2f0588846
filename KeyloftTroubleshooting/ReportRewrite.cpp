#include "ReportRewrite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kManifest = QStringLiteral("manifest.json");
const QString kSummary = QStringLiteral("summary.txt");

QString systemError(const char* step) {
    return QString::fromUtf8(step) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

// The manifest with the left-out files taken out of its list and named, and the summary's entry brought
// up to date; absent when the manifest is no JSON object.
std::optional<QByteArray> rewrittenManifest(const QByteArray& manifest, const QStringList& leftOut,
                                            const std::optional<QByteArray>& summary) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(manifest, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QJsonObject root = document.object();
    QJsonArray files;
    for (const QJsonValue& value : root.value(QStringLiteral("files")).toArray()) {
        QJsonObject file = value.toObject();
        const QString name = file.value(QStringLiteral("name")).toString();
        if (leftOut.contains(name))
            continue;
        if (name == kSummary && summary) {
            file.insert(QStringLiteral("size"), summary->size());
            file.insert(
                QStringLiteral("sha256"),
                QString::fromLatin1(QCryptographicHash::hash(*summary, QCryptographicHash::Sha256).toHex()));
        }
        files.append(file);
    }
    root.insert(QStringLiteral("files"), files);
    root.insert(QStringLiteral("left_out_by_user"), QJsonArray::fromStringList(leftOut));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// Writes files into a new hidden file in folder and renames it to target once it is complete on disk.
std::optional<QString> replaceAtomically(const QString& target, const QList<VTZipFile>& files) {
    // Hidden, so that the newest-report lookup never takes a half-written file for a report.
    QTemporaryFile temporary(QFileInfo(target).dir().filePath(QStringLiteral(".keyloft-report-XXXXXX.part")));
    if (!temporary.open())
        return QStringLiteral("creating a temporary file: ") + temporary.errorString();
    if (auto problem = VTZipArchive::write(temporary.handle(), files))
        return problem->detail;
    if (::fchmod(temporary.handle(), 0600) != 0 || ::fsync(temporary.handle()) != 0)
        return systemError("writing the temporary file");
    if (::rename(QFile::encodeName(temporary.fileName()).constData(),
                 QFile::encodeName(target).constData()) != 0)
        return systemError("putting the new report in place");
    temporary.setAutoRemove(false);
    if (const int folder =
            ::open(QFile::encodeName(QFileInfo(target).path()).constData(), O_RDONLY | O_DIRECTORY);
        folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return std::nullopt;
}

} // namespace

bool vt_reportFileIsRequired(const QString& name) {
    return name == kManifest || name == kSummary;
}

std::optional<QString> vt_rewriteReportWithout(const QString& reportPath, const VTZipArchive& report,
                                               const QSet<qsizetype>& leftOut) {
    auto read = report.allFiles();
    if (const auto* problem = std::get_if<VTZipProblem>(&read))
        return problem->detail;
    QList<VTZipFile> files = std::move(std::get<QList<VTZipFile>>(read));
    QStringList leftOutNames;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (!leftOut.contains(i))
            continue;
        if (vt_reportFileIsRequired(files.at(i).name))
            return files.at(i).name + QStringLiteral(" cannot be left out");
        leftOutNames << files.at(i).name;
    }
    if (leftOutNames.isEmpty())
        return QStringLiteral("no file to leave out");

    QList<VTZipFile> kept;
    VTZipFile* manifest = nullptr;
    std::optional<QByteArray> summary;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (leftOut.contains(i))
            continue;
        kept.append(std::move(files[i]));
        VTZipFile& file = kept.last();
        if (file.name == kSummary) {
            file.bytes +=
                "\nLeft out by the user before sending: " + leftOutNames.join(QStringLiteral(", ")).toUtf8() +
                "\n";
            summary = file.bytes;
        }
    }
    for (VTZipFile& file : kept) {
        if (file.name == kManifest)
            manifest = &file;
    }
    if (manifest == nullptr)
        return QStringLiteral("the report has no manifest.json");
    const std::optional<QByteArray> newManifest = rewrittenManifest(manifest->bytes, leftOutNames, summary);
    if (!newManifest)
        return QStringLiteral("manifest.json is no JSON object");
    manifest->bytes = *newManifest;
    return replaceAtomically(reportPath, kept);
}
