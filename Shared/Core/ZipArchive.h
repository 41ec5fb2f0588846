#pragma once

// A zip archive read through libarchive: the list of its files with their sizes, and the bytes of one
// file. Nothing here trusts the archive: a damaged, foreign or hostile one ends in a problem value, never
// a crash, and every read is bounded (the archive's own size, the bytes unpacked, the number of files),
// so an archive that unpacks to gigabytes ("zip bomb") costs bounded memory and time.
//
// The archive's bytes are read once, when it is opened, and kept: the list and every later read come
// from that one copy, even when the file changes or goes away meanwhile. Opening unpacks every file once
// (into a small reused buffer) to check it against its checksum and count its real size, so a listed
// archive is known to be whole. Folder entries are not listed.
//
// No state outside the object; an object may be used from one thread at a time. Blocking: opening reads
// the file and unpacks the archive once; memberData unpacks one file, allFiles all; write writes them.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

struct VTZipLimits {
    // A larger file is not read at all.
    qint64 archiveBytes = qint64(64) << 20;
    // Bytes unpacked, over all files, while the archive is opened.
    qint64 unpackedBytes = qint64(256) << 20;
    // Files listed.
    qsizetype members = 10000;
};

enum class VTZipProblemKind {
    // The file could not be read (gone, no permission, not a regular file).
    Unreadable,
    // The file is no zip archive.
    NotZip,
    // A zip archive whose structure or data is broken (a bad checksum, cut short, inconsistent sizes).
    Damaged,
    // A zip archive using what cannot be read here: encryption or an unknown compression method.
    Unsupported,
    // Beyond one of the limits.
    TooLarge,
};

struct VTZipProblem {
    VTZipProblemKind kind = VTZipProblemKind::Damaged;
    // What libarchive or the file system said, in English, for the log.
    QString detail;
};

struct VTZipMember {
    // The stored name: UTF-8 when it is valid UTF-8, otherwise read as Latin-1; nothing escaped.
    QString name;
    // Unpacked bytes, as counted while opening.
    qint64 size = 0;
};

// One file to write into an archive.
struct VTZipFile {
    QString name;
    QByteArray bytes;
};

struct VTZipMemberData {
    // The member's first bytes, at most as many as were asked for.
    QByteArray bytes;
    // True when bytes is the whole member.
    bool complete = false;
};

class VTZipArchive {
public:
    using Opened = std::variant<VTZipArchive, VTZipProblem>;
    using Read = std::variant<VTZipMemberData, VTZipProblem>;

    // Reads the file at path and checks it as a zip archive.
    [[nodiscard]] static Opened open(const QString& path, const VTZipLimits& limits = {});
    // The same for bytes already in memory.
    [[nodiscard]] static Opened fromBytes(QByteArray bytes, const VTZipLimits& limits = {});

    // The archive's size in bytes (what is sent when the file is sent).
    [[nodiscard]] qint64 archiveSize() const { return bytes_.size(); }
    // The files in the archive's order.
    [[nodiscard]] const QList<VTZipMember>& members() const { return members_; }
    // The first maxBytes bytes (at least 0) of the file at index in members(); a problem for an index
    // out of range.
    [[nodiscard]] Read memberData(qsizetype index, qint64 maxBytes) const;
    // Every file whole, in the order of members(), unpacked in one pass; a problem when one cannot be read.
    [[nodiscard]] std::variant<QList<VTZipFile>, VTZipProblem> allFiles() const;

    // Writes files as a zip archive (deflated, UTF-8 names, each file readable by its owner only) to the
    // open descriptor fd, which stays open; absent on success, else what went wrong (kind Unreadable).
    [[nodiscard]] static std::optional<VTZipProblem> write(int fd, const QList<VTZipFile>& files);

private:
    VTZipArchive() = default;

    QByteArray bytes_;
    QList<VTZipMember> members_;
};
