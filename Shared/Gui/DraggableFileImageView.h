#pragma once

// The report icon: an image view that stands for one file.
//
// Once configured with an icon, a file location and a data source, it shows the icon, lets the user
// drag the file into another application and tells its owner about single clicks:
// - While the mouse button is down it shows a darkened copy of the icon (the icon drawn over itself
//   with "plus darker" at opacity 0.2); at rest the icon itself. The pointing-hand cursor covers the
//   whole view. Unconfigured, it shows an empty frame where the file will appear.
// - The first move with the button down after a press starts a drag when the view is configured.
//   The drag offers the copy operation only (modifier keys change nothing) and shows the icon at 70 %
//   opacity. The file is promised: the data source is asked for it only when the drop target reads the
//   dropped data, and the target receives the file itself (see handedOverFile).
// - A release that ends a single click (not the second click of a double click) emits clicked().
// - Keyboard: the view takes focus (Tab or a click) and then shows a focus frame. Enter or Return sends
//   clicked() once per press; Space shows the pressed image while held and sends clicked() on release;
//   held keys (auto-repeat) send nothing more. Ctrl+C (the platform's copy keys) puts the file on the
//   clipboard as file managers expect it (see copyFileToClipboard).
// - Assistive technology sees a push button named by the accessible name, whose press action is the
//   click; once configured, its description names the file and what the keys do.
//
// Ownership: the view owns its images and names; the data source is not owned (it is tracked and seen
// as absent once destroyed). A drag object belongs to Qt, which keeps it (and the promised data) alive
// as long as the window system may still ask for the data. Everything here runs on the main thread.

#include <QByteArray>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class DraggableFileImageView;
class QDrag;
class QMimeData;

// Supplies the file a view stands for. A data source is any QObject that also derives from this
// interface; the view checks that with dynamic_cast before it asks. Called on the main thread.
class DraggableFileDataSource {
public:
    virtual ~DraggableFileDataSource() = default;
    // The complete file content at this moment, or absent when there is none.
    [[nodiscard]] virtual std::optional<QByteArray>
    fileDataForDraggableFileImageView(DraggableFileImageView* view) = 0;
    // The file itself at this moment (a local file URL), or absent when there is none.
    [[nodiscard]] virtual std::optional<QUrl>
    fileURLForDraggableFileImageView(DraggableFileImageView* view) = 0;

protected:
    DraggableFileDataSource() = default;
    DraggableFileDataSource(const DraggableFileDataSource&) = default;
    DraggableFileDataSource& operator=(const DraggableFileDataSource&) = default;
};

class DraggableFileImageView : public QLabel {
    Q_OBJECT
public:
    // Runs a prepared drag to its end, offering the given operations, and answers the operation the
    // target chose. The default is QDrag::exec; a test puts a stand-in for the drop target here.
    using DragRunner =
        std::function<Qt::DropAction(QDrag& drag, Qt::DropActions offered, Qt::DropAction defaultAction)>;

    explicit DraggableFileImageView(QWidget* parent = nullptr);
    ~DraggableFileImageView() override;

    // Makes the view stand for the file at url: keeps icon, the file name (url's last path component;
    // none for a url ending in "/", "." or "..", and then no drag starts) and dataSource, derives the pressed
    // and drag images from icon, and shows icon. May be called again to stand for another file; the derived
    // images then follow the new icon.
    void configureWithFileIcon(const QImage& icon, const QUrl& url, QObject* dataSource);

    // Writes the data source's bytes as "<folder>/<file name>" atomically (replacing a file of that name)
    // and answers the names written: the file name alone. Absent, with nothing written, when the view has
    // no data source, the data source answers no bytes, or the write fails; a failed write logs
    // "Error writing report to <location>: <reason>" to the system log.
    std::optional<QStringList> namesOfPromisedFilesDroppedAtDestination(const QUrl& folder);

    // The file a drop or a paste hands over: the data source's own file of this moment, when it names a
    // regular file that exists; absent otherwise (no data source, or it names none). Nothing is copied
    // or read: the file keeps its mode and lasts as long as its owner keeps it, so a mail draft, a
    // clipboard manager or a delayed paste that reads it after this tool has ended still finds it.
    // Only the copy operation is ever offered for it.
    [[nodiscard]] std::optional<QUrl> handedOverFile();

    // Puts the handed-over file on the clipboard: its URL as text/uri-list and as
    // x-special/gnome-copied-files ("copy" and the URL on the next line), so a file manager pastes a
    // copy. False, with the clipboard unchanged, when there is no file to hand over.
    bool copyFileToClipboard();

    // The clipboard data for one file, as copyFileToClipboard sets it.
    [[nodiscard]] static std::unique_ptr<QMimeData> clipboardDataForFile(const QUrl& file);

    // Sends clicked(), as a finished single click would; what Enter, Space and the accessible press do.
    void activate();

    // The operations a drag offers: copy, wherever the target is.
    [[nodiscard]] static Qt::DropActions draggingSourceOperationMask() { return Qt::CopyAction; }

    [[nodiscard]] const QImage& icon() const { return icon_; }
    [[nodiscard]] const QImage& selectedIcon() const { return selectedIcon_; }
    [[nodiscard]] const QImage& dragIcon() const { return dragIcon_; }
    [[nodiscard]] const QString& fileName() const { return fileName_; }
    // The image the view shows now (null when it shows none).
    [[nodiscard]] const QImage& shownImage() const { return shown_; }

    void setDragRunner(DragRunner runner);

    // The darkened pressed image and the 70 % drag image for an icon; both keep the icon's size.
    [[nodiscard]] static QImage pressedImageForIcon(const QImage& icon);
    [[nodiscard]] static QImage dragImageForIcon(const QImage& icon);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

signals:
    // A single click on the view ended; the owner opens whatever the view stands for.
    void clicked(DraggableFileImageView* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void showImage(const QImage& image);
    void startDrag(const QPoint& pressPoint);
    [[nodiscard]] QRect imageRect(const QImage& image) const;
    void paintFocusFrame(QPainter& painter) const;
    // Once per process: the accessible interface for every view; for this view its accessible name.
    void setUpAccessibility();
    void describeForAssistiveTechnology();
    [[nodiscard]] bool isConfigured() const { return !fileName_.isEmpty() && dataSource_ != nullptr; }

    QImage icon_;
    QImage selectedIcon_;
    QImage dragIcon_;
    QString fileName_;
    QPointer<QObject> dataSource_;

    QImage shown_;
    bool pressed_ = false;
    bool secondClick_ = false;
    bool dragStarted_ = false;
    bool spaceHeld_ = false;
    QPoint pressPoint_;
    DragRunner dragRunner_;
};
