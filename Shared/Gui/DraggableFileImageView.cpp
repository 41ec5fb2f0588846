// The report icon's input and painting: mouse, keys, focus and what the view shows. The derived images
// are in DraggableFileImageViewImages.cpp, handing the file over in DraggableFileImageViewHandOver.cpp,
// what assistive technology sees in DraggableFileImageViewAccessibility.cpp.

#include "DraggableFileImageView.h"

#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kPlaceholderSide = 128;

bool isActivationKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

DraggableFileImageView::DraggableFileImageView(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setUpAccessibility();
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
