// Handing the report over: the promised file of a drag, the clipboard, and writing the file at a drop
// folder.

#include "DraggableFileImageView.h"

#include "Platform/SystemLog.h"

#include <QClipboard>
#include <QDir>
#include <QDrag>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QPixmap>
#include <QSaveFile>

#include <memory>

namespace {

constexpr const char* kUriListType = "text/uri-list";
// What GNOME Files, Nemo, Caja and other file managers read to paste a copied file.
constexpr const char* kCopiedFilesType = "x-special/gnome-copied-files";

// Writes bytes as path in one step: readers see the old file or the whole new one, never a part.
// Answers an empty text on success, otherwise the reason.
QString writeAtomically(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

// The promised file as drag data: the data source is not asked until the drop target reads the file
// list. Later reads (targets may read more than once) answer the same file.
class PromisedFileMimeData : public QMimeData {
public:
    explicit PromisedFileMimeData(DraggableFileImageView* view) : view_(view) {}

    [[nodiscard]] QStringList formats() const override { return {QString::fromLatin1(kUriListType)}; }
    [[nodiscard]] bool hasFormat(const QString& mimeType) const override {
        return mimeType == QLatin1String(kUriListType);
    }

protected:
    [[nodiscard]] QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        if (mimeType != QLatin1String(kUriListType))
            return QMimeData::retrieveData(mimeType, type);
        if (!fileUrl_)
            fileUrl_ = view_ != nullptr ? view_->handedOverFile().value_or(QUrl()) : QUrl();
        if (!fileUrl_->isValid())
            return {};
        if (type.id() == QMetaType::QByteArray)
            return QByteArray(fileUrl_->toEncoded() + "\r\n");
        if (type.id() == QMetaType::QString)
            return QString::fromUtf8(fileUrl_->toEncoded() + "\r\n");
        return QVariant(QList<QVariant>{*fileUrl_});
    }

private:
    QPointer<DraggableFileImageView> view_;
    mutable std::optional<QUrl> fileUrl_;
};

} // namespace

std::optional<QStringList>
DraggableFileImageView::namesOfPromisedFilesDroppedAtDestination(const QUrl& folder) {
    auto* source = dynamic_cast<DraggableFileDataSource*>(dataSource_.data());
    if (source == nullptr || fileName_.isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> bytes = source->fileDataForDraggableFileImageView(this);
    if (!bytes)
        return std::nullopt;
    const QString target = QDir(folder.toLocalFile()).filePath(fileName_);
    const QString reason = writeAtomically(target, *bytes);
    if (!reason.isEmpty()) {
        vt_systemLogFormat("Error writing report to %@: %@", QUrl::fromLocalFile(target), reason);
        return std::nullopt;
    }
    return QStringList{fileName_};
}

std::optional<QUrl> DraggableFileImageView::handedOverFile() {
    auto* source = dynamic_cast<DraggableFileDataSource*>(dataSource_.data());
    if (source == nullptr || fileName_.isEmpty())
        return std::nullopt;
    const std::optional<QUrl> file = source->fileURLForDraggableFileImageView(this);
    if (!file || !file->isLocalFile() || !QFileInfo(file->toLocalFile()).isFile())
        return std::nullopt;
    return file;
}

std::unique_ptr<QMimeData> DraggableFileImageView::clipboardDataForFile(const QUrl& file) {
    auto data = std::make_unique<QMimeData>();
    data->setUrls({file});
    data->setData(QString::fromLatin1(kCopiedFilesType), QByteArray("copy\n") + file.toEncoded());
    return data;
}

bool DraggableFileImageView::copyFileToClipboard() {
    const std::optional<QUrl> file = handedOverFile();
    if (!file)
        return false;
    // The clipboard takes ownership of the data.
    QGuiApplication::clipboard()->setMimeData(clipboardDataForFile(*file).release());
    return true;
}

void DraggableFileImageView::startDrag(const QPoint& pressPoint) {
    auto* drag = new QDrag(this);
    drag->setMimeData(new PromisedFileMimeData(this));
    if (!dragIcon_.isNull()) {
        const QRect placed = imageRect(dragIcon_);
        QPixmap pixmap = QPixmap::fromImage(dragIcon_.scaled(placed.size() * dragIcon_.devicePixelRatio(),
                                                             Qt::KeepAspectRatio, Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(dragIcon_.devicePixelRatio());
        drag->setPixmap(pixmap);
        drag->setHotSpot(pressPoint - placed.topLeft());
    }
    // Copy is the only operation offered, so no modifier key can turn the drop into a move or a link.
    if (dragRunner_)
        dragRunner_(*drag, draggingSourceOperationMask(), Qt::CopyAction);
    else
        drag->exec(draggingSourceOperationMask(), Qt::CopyAction);
}
