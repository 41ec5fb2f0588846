#include "ZipArchive.h"

#include "VantleString.h"

#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <optional>

namespace {

// One pass over the archive's entries, from the kept bytes. Owns the libarchive reader.
class EntryReader {
public:
    explicit EntryReader(const QByteArray& bytes) : archive_(archive_read_new()) {
        // Zip alone, and no compression filters: a gzip or tar file is "not a zip", not unpacked. The
        // archive is read through its central directory, as every other zip reader reads it: one whose
        // directory is lost counts as damaged even when its files could still be found one by one.
        archive_read_support_format_zip_seekable(archive_);
        opened_ = archive_read_open_memory(archive_, bytes.constData(), static_cast<size_t>(bytes.size()));
        looksLikeZip_ = bytes.startsWith("PK\x03\x04");
    }
    ~EntryReader() { archive_read_free(archive_); }
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // Absent once the reader is ready; otherwise a problem: no zip archive, or one that begins like a
    // zip but has no directory left to find (damage further inside shows when the entries are read).
    [[nodiscard]] std::optional<VTZipProblem> openProblem() const {
        if (opened_ == ARCHIVE_OK)
            return std::nullopt;
        return problem(looksLikeZip_ ? VTZipProblemKind::Damaged : VTZipProblemKind::NotZip);
    }

    // The next file entry (folders are passed over); absent at the end or on a problem (then in problem).
    [[nodiscard]] archive_entry* nextFile(std::optional<VTZipProblem>& failure) {
        archive_entry* entry = nullptr;
        for (;;) {
            const int status = archive_read_next_header(archive_, &entry);
            if (status == ARCHIVE_EOF)
                return nullptr;
            // A warning here concerns the name's character set only; the name is read as bytes below.
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
                failure = problem(VTZipProblemKind::Damaged);
                return nullptr;
            }
            if (archive_entry_filetype(entry) != AE_IFDIR)
                return entry;
        }
    }

    // Unpacks the current entry's data into buffer in pieces; sink(piece, length) answers false to stop.
    // Absent when the data ended or sink stopped, otherwise the problem.
    template <class Sink>
    [[nodiscard]] std::optional<VTZipProblem> readData(archive_entry* entry, Sink sink) {
        std::array<char, 64 * 1024> buffer{};
        for (;;) {
            const la_ssize_t length = archive_read_data(archive_, buffer.data(), buffer.size());
            if (length == 0)
                return std::nullopt;
            if (length < 0)
                return problem(archive_entry_is_encrypted(entry) != 0 ? VTZipProblemKind::Unsupported
                                                                      : dataProblemKind());
            if (!sink(buffer.data(), static_cast<qint64>(length)))
                return std::nullopt;
        }
    }

private:
    // libarchive says "unsupported" for compression methods it does not know; everything else is damage.
    [[nodiscard]] VTZipProblemKind dataProblemKind() const {
        const char* text = archive_error_string(archive_);
        const bool unsupported = text != nullptr && (QByteArray(text).contains("nsupported") ||
                                                     QByteArray(text).contains("ncrypted"));
        return unsupported ? VTZipProblemKind::Unsupported : VTZipProblemKind::Damaged;
    }

    [[nodiscard]] VTZipProblem problem(VTZipProblemKind kind) const {
        const char* text = archive_error_string(archive_);
        return VTZipProblem{kind,
                            text != nullptr ? QString::fromUtf8(text) : QStringLiteral("libarchive error")};
    }

    archive* archive_;
    int opened_ = ARCHIVE_FATAL;
    bool looksLikeZip_ = false;
};

// The name as stored. libarchive converts names to the current locale's character set, which fails for
// UTF-8 names under the C locale; its UTF-8 form comes first, the stored bytes as the last resort.
QString entryName(archive_entry* entry) {
    if (const char* utf8 = archive_entry_pathname_utf8(entry))
        return QString::fromUtf8(utf8);
    const char* raw = archive_entry_pathname(entry);
    return raw != nullptr ? vt_utf8stringWithCString(raw).value_or(QString()) : QString();
}

} // namespace

VTZipArchive::Opened VTZipArchive::open(const QString& path, const VTZipLimits& limits) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return VTZipProblem{VTZipProblemKind::Unreadable, path + QStringLiteral(": ") + file.errorString()};
    // One byte more than allowed tells a file that grew past the limit while it was read.
    const QByteArray bytes = file.read(limits.archiveBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return VTZipProblem{VTZipProblemKind::Unreadable, path + QStringLiteral(": ") + file.errorString()};
    if (bytes.size() > limits.archiveBytes)
        return VTZipProblem{VTZipProblemKind::TooLarge,
                            QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(limits.archiveBytes)};
    return fromBytes(bytes, limits);
}

VTZipArchive::Opened VTZipArchive::fromBytes(QByteArray bytes, const VTZipLimits& limits) {
    VTZipArchive archive;
    archive.bytes_ = std::move(bytes);
    EntryReader reader(archive.bytes_);
    if (auto failure = reader.openProblem())
        return *failure;
    qint64 unpacked = 0;
    std::optional<VTZipProblem> failure;
    while (archive_entry* entry = reader.nextFile(failure)) {
        if (archive.members_.size() >= limits.members)
            return VTZipProblem{VTZipProblemKind::TooLarge,
                                QStringLiteral("more than %1 files").arg(limits.members)};
        VTZipMember member{entryName(entry), 0};
        failure = reader.readData(entry, [&](const char*, qint64 length) {
            member.size += length;
            unpacked += length;
            return unpacked <= limits.unpackedBytes;
        });
        if (failure)
            return *failure;
        if (unpacked > limits.unpackedBytes)
            return VTZipProblem{VTZipProblemKind::TooLarge,
                                QStringLiteral("unpacks to more than %1 bytes").arg(limits.unpackedBytes)};
        archive.members_.append(std::move(member));
    }
    if (failure)
        return *failure;
    return archive;
}

VTZipArchive::Read VTZipArchive::memberData(qsizetype index, qint64 maxBytes) const {
    if (index < 0 || index >= members_.size())
        return VTZipProblem{VTZipProblemKind::Unreadable, QStringLiteral("no file number %1").arg(index)};
    EntryReader reader(bytes_);
    if (auto failure = reader.openProblem())
        return *failure;
    std::optional<VTZipProblem> failure;
    for (qsizetype seen = 0; archive_entry* entry = reader.nextFile(failure); ++seen) {
        if (seen != index)
            continue;
        const qint64 size = members_.at(index).size;
        const qint64 wanted = std::clamp<qint64>(maxBytes, 0, size);
        VTZipMemberData data;
        data.bytes.reserve(static_cast<qsizetype>(wanted));
        failure = reader.readData(entry, [&](const char* piece, qint64 length) {
            data.bytes.append(piece, static_cast<qsizetype>(std::min(length, wanted - data.bytes.size())));
            return data.bytes.size() < wanted;
        });
        if (failure)
            return *failure;
        data.complete = data.bytes.size() == size;
        return data;
    }
    return failure.value_or(VTZipProblem{VTZipProblemKind::Damaged, QStringLiteral("a file went missing")});
}

std::variant<QList<VTZipFile>, VTZipProblem> VTZipArchive::allFiles() const {
    EntryReader reader(bytes_);
    if (auto failure = reader.openProblem())
        return *failure;
    QList<VTZipFile> files;
    std::optional<VTZipProblem> failure;
    while (archive_entry* entry = reader.nextFile(failure)) {
        if (files.size() >= members_.size())
            return VTZipProblem{VTZipProblemKind::Damaged, QStringLiteral("more files than listed")};
        VTZipFile file{members_.at(files.size()).name, {}};
        file.bytes.reserve(static_cast<qsizetype>(members_.at(files.size()).size));
        failure = reader.readData(entry, [&](const char* piece, qint64 length) {
            file.bytes.append(piece, static_cast<qsizetype>(length));
            return true;
        });
        if (failure)
            return *failure;
        files.append(std::move(file));
    }
    if (failure)
        return *failure;
    return files;
}

std::optional<VTZipProblem> VTZipArchive::write(int fd, const QList<VTZipFile>& files) {
    archive* writer = archive_write_new();
    archive_entry* entry = archive_entry_new();
    const auto problem = [writer](const char* step) {
        const char* text = archive_error_string(writer);
        return VTZipProblem{
            VTZipProblemKind::Unreadable,
            QString::fromUtf8(step) + QStringLiteral(": ") +
                (text != nullptr ? QString::fromUtf8(text) : QStringLiteral("libarchive error"))};
    };
    std::optional<VTZipProblem> failure;
    if (archive_write_set_format_zip(writer) != ARCHIVE_OK ||
        archive_write_set_options(writer, "zip:compression=deflate,zip:hdrcharset=UTF-8") != ARCHIVE_OK ||
        archive_write_open_fd(writer, fd) != ARCHIVE_OK)
        failure = problem("opening");
    const time_t now = ::time(nullptr);
    for (qsizetype i = 0; !failure && i < files.size(); ++i) {
        const QByteArray name = files.at(i).name.toUtf8();
        const QByteArray& bytes = files.at(i).bytes;
        archive_entry_clear(entry);
        archive_entry_update_pathname_utf8(entry, name.constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0600);
        archive_entry_set_size(entry, bytes.size());
        archive_entry_set_mtime(entry, now, 0);
        if (archive_write_header(writer, entry) != ARCHIVE_OK ||
            (!bytes.isEmpty() &&
             archive_write_data(writer, bytes.constData(), static_cast<size_t>(bytes.size())) !=
                 static_cast<la_ssize_t>(bytes.size())))
            failure = problem("writing");
    }
    if (!failure && archive_write_close(writer) != ARCHIVE_OK)
        failure = problem("closing");
    archive_entry_free(entry);
    archive_write_free(writer);
    return failure;
}
