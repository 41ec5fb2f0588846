#include "DraggableFileImageView.h"

#include "Platform/SystemLog.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QDir>
#include <QDrag>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

constexpr int kPlaceholderSide = 128;
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

// Premultiplied channel arithmetic on 0…255 values.
int scaled(int value, double fraction) {
    return std::clamp(static_cast<int>(value * fraction + 0.5), 0, 255);
}

QImage premultiplied(const QImage& image) {
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
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

// The view as assistive technology sees it: a push button whose press action is the view's click.
class AccessibleFileImage : public QAccessibleWidget {
public:
    explicit AccessibleFileImage(DraggableFileImageView* view)
        : QAccessibleWidget(view, QAccessible::Button) {}

    [[nodiscard]] QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    [[nodiscard]] QStringList keyBindingsForAction(const QString& actionName) const override {
        if (actionName == pressAction())
            return {QStringLiteral("Return"), QStringLiteral("Space")};
        return QAccessibleWidget::keyBindingsForAction(actionName);
    }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction()) {
            static_cast<DraggableFileImageView*>(widget())->activate();
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }
};

QAccessibleInterface* accessibleFileImageFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("DraggableFileImageView") || object == nullptr || !object->isWidgetType())
        return nullptr;
    return new AccessibleFileImage(static_cast<DraggableFileImageView*>(object));
}

bool isActivationKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

DraggableFileImageView::DraggableFileImageView(QWidget* parent) : QLabel(parent) {
    static std::once_flag factoryInstalled;
    std::call_once(factoryInstalled, [] { QAccessible::installFactory(accessibleFileImageFactory); });
    setAlignment(Qt::AlignCenter);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Report"));
}

DraggableFileImageView::~DraggableFileImageView() = default;

QSize DraggableFileImageView::sizeHint() const {
    return {kPlaceholderSide, kPlaceholderSide};
}

QSize DraggableFileImageView::minimumSizeHint() const {
    return {kPlaceholderSide / 2, kPlaceholderSide / 2};
}

void DraggableFileImageView::setDragRunner(DragRunner runner) {
    dragRunner_ = std::move(runner);
}

void DraggableFileImageView::configureWithFileIcon(const QImage& icon, const QUrl& url, QObject* dataSource) {
    fileName_ = QFileInfo(url.path()).fileName();
    // "." and ".." name folders, not files: writing under them would land outside the drop folder.
    if (fileName_ == QLatin1String(".") || fileName_ == QLatin1String(".."))
        fileName_.clear();
    icon_ = icon;
    dataSource_ = dataSource;
    selectedIcon_ = pressedImageForIcon(icon_);
    dragIcon_ = dragImageForIcon(icon_);
    showImage(icon_);
    describeForAssistiveTechnology();
    repaint();
}

void DraggableFileImageView::describeForAssistiveTechnology() {
    // Without a file name the view stands for nothing that can be copied: keep what the owner said.
    if (fileName_.isEmpty())
        return;
    setAccessibleDescription(
        tr("The file %1. Enter or Space shows it, Ctrl+C copies it, and dragging it into "
           "another application copies it there.")
            .arg(fileName_));
}

QImage DraggableFileImageView::pressedImageForIcon(const QImage& icon) {
    // "Plus darker" of the icon drawn over itself at opacity 0.2, per premultiplied channel:
    // the darkness (alpha minus colour) of both layers adds up, alpha composes as source-over.
    constexpr double kFraction = 0.2;
    QImage result = premultiplied(icon);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const QRgb d = line[x];
            const int da = qAlpha(d);
            const int sa = scaled(da, kFraction);
            const int ra = sa + da - (sa * da + 127) / 255;
            auto channel = [&](int dc) {
                const int sc = scaled(dc, kFraction);
                return std::clamp(ra - (sa - sc) - (da - dc), 0, ra);
            };
            line[x] = qRgba(channel(qRed(d)), channel(qGreen(d)), channel(qBlue(d)), ra);
        }
    }
    return result;
}

QImage DraggableFileImageView::dragImageForIcon(const QImage& icon) {
    constexpr double kFraction = 0.7;
    QImage result = premultiplied(icon);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgba(scaled(qRed(p), kFraction), scaled(qGreen(p), kFraction),
                            scaled(qBlue(p), kFraction), scaled(qAlpha(p), kFraction));
        }
    }
    return result;
}

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

void DraggableFileImageView::activate() {
    emit clicked(this);
}

void DraggableFileImageView::showImage(const QImage& image) {
    shown_ = image;
    update();
}

QRect DraggableFileImageView::imageRect(const QImage& image) const {
    // Scaled down proportionally to fit, never up, and centred.
    const QSizeF natural = image.deviceIndependentSize();
    QSizeF fitted = natural;
    if (natural.width() > width() || natural.height() > height())
        fitted = natural.scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QSize whole = fitted.toSize();
    return {QPoint((width() - whole.width()) / 2, (height() - whole.height()) / 2), whole};
}

void DraggableFileImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!shown_.isNull()) {
        painter.drawImage(imageRect(shown_), shown_);
    } else if (!isConfigured()) {
        // Where the report will appear: a quiet dashed frame.
        QPen pen(palette().color(QPalette::Mid), 1.5, Qt::DashLine);
        painter.setPen(pen);
        const QRectF frame = QRectF(rect()).adjusted(8.5, 8.5, -8.5, -8.5);
        painter.drawRoundedRect(frame, 12, 12);
    }
    if (hasFocus())
        paintFocusFrame(painter);
}

void DraggableFileImageView::paintFocusFrame(QPainter& painter) const {
    // Along the view's edge in the selection colour, clear of the icon, so keyboard users see where they are.
    QPen pen(palette().color(QPalette::Highlight), 2.0);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
}

bool DraggableFileImageView::event(QEvent* event) {
    // Copy belongs to the focused view even when some window action claims the same keys.
    if (event->type() == QEvent::ShortcutOverride &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        return true;
    }
    return QLabel::event(event);
}

void DraggableFileImageView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (event->matches(QKeySequence::Copy)) {
        if (!event->isAutoRepeat())
            copyFileToClipboard();
        return;
    }
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!plain || (key != Qt::Key_Space && !isActivationKey(key))) {
        QLabel::keyPressEvent(event);
        return;
    }
    // Accepted even when repeated, so a held key never reaches the window's default button.
    if (event->isAutoRepeat())
        return;
    if (key == Qt::Key_Space) {
        spaceHeld_ = true;
        showImage(selectedIcon_);
        return;
    }
    activate();
}

void DraggableFileImageView::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space || !spaceHeld_) {
        QLabel::keyReleaseEvent(event);
        return;
    }
    if (event->isAutoRepeat())
        return;
    spaceHeld_ = false;
    showImage(icon_);
    activate();
}

void DraggableFileImageView::focusInEvent(QFocusEvent* event) {
    update();
    QLabel::focusInEvent(event);
}

void DraggableFileImageView::focusOutEvent(QFocusEvent* event) {
    // Focus leaving while Space is held cancels that press, as it does for a button.
    if (spaceHeld_) {
        spaceHeld_ = false;
        showImage(icon_);
    }
    update();
    QLabel::focusOutEvent(event);
}

void DraggableFileImageView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    pressed_ = true;
    secondClick_ = false;
    dragStarted_ = false;
    pressPoint_ = event->position().toPoint();
    showImage(selectedIcon_);
}

void DraggableFileImageView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double click: pressed look as usual, but its release sends no action.
    mousePressEvent(event);
    secondClick_ = pressed_;
}

void DraggableFileImageView::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_ || dragStarted_ || !(event->buttons() & Qt::LeftButton))
        return;
    if (!isConfigured())
        return;
    dragStarted_ = true;
    startDrag(pressPoint_);
    // The drag consumed the release; whatever happened, the view is at rest again.
    pressed_ = false;
    showImage(icon_);
}

void DraggableFileImageView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    pressed_ = false;
    showImage(icon_);
    if (!secondClick_ && !dragStarted_)
        emit clicked(this);
    QLabel::mouseReleaseEvent(event);
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
