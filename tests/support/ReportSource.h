#pragma once

// The report icon's data source in the tests: a report file in a temporary folder (its bytes hold a NUL and a
// byte that is no UTF-8), or whatever a test sets instead; counts the requests for the file.

#include "DraggableFileImageView.h"

#include <QtCore>

class ReportSource : public QObject, public DraggableFileDataSource {
public:
    QTemporaryDir dir;
    std::optional<QByteArray> bytes = QByteArray("PK\x03\x04 report \x00\xff bytes", 20);
    std::optional<QUrl> file = write(dir.filePath(u"Diagnostics Report 1.zip"_qs), *bytes);
    int requests = 0;

    std::optional<QByteArray> fileDataForDraggableFileImageView(DraggableFileImageView*) override {
        return bytes;
    }
    std::optional<QUrl> fileURLForDraggableFileImageView(DraggableFileImageView*) override {
        ++requests;
        return file;
    }
    static QUrl write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return QUrl::fromLocalFile(path);
    }
};
