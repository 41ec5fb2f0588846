#include "DraggableFileImageView.h"
#include "support/TestSupport.h"

#include <QDrag>
#include <QMimeData>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// A data source that answers what the test set (by default a report file in a temporary folder) and
// counts the requests for its file.
class CountingSource : public QObject, public DraggableFileDataSource {
public:
    QTemporaryDir dir;
    std::optional<QByteArray> bytes = QByteArray("PK\x03\x04 report bytes");
    std::optional<QUrl> file = fileHolding("Report 1.zip", *bytes);
    int requests = 0;

    QUrl fileHolding(const QString& name, const QByteArray& content) const {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(content);
        return QUrl::fromLocalFile(f.fileName());
    }
    std::optional<QByteArray> fileDataForDraggableFileImageView(DraggableFileImageView*) override {
        return bytes;
    }
    std::optional<QUrl> fileURLForDraggableFileImageView(DraggableFileImageView*) override {
        ++requests;
        return file;
    }
};

static QImage filledIcon(QRgb color, QSize size = {32, 32}) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

static void configure(DraggableFileImageView& view, QObject* source, const QString& path) {
    view.configureWithFileIcon(filledIcon(qRgb(200, 100, 50)), QUrl::fromLocalFile(path), source);
}

static QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A shown view, configured with `path` unless it is empty, whose drags go to a recorder, not the window
// system.
struct Fixture {
    DraggableFileImageView view;
    CountingSource source;
    QList<QDrag*> drags;
    Qt::DropActions offered;
    bool sourceAskedDuringDrag = false;

    explicit Fixture(const QString& path = "/r/Report 1.zip") {
        view.resize(128, 128);
        view.setDragRunner([this](QDrag& drag, Qt::DropActions actions, Qt::DropAction) {
            drags.append(&drag);
            offered = actions;
            sourceAskedDuringDrag = source.requests > 0;
            return Qt::CopyAction;
        });
        if (!path.isEmpty())
            configure(view, &source, path);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    QWindow* window() { return view.windowHandle(); }
    void pressAndMove(int delay = -1) {
        QTest::mousePress(window(), Qt::LeftButton, {}, QPoint(60, 60), delay);
        QTest::mouseMove(window(), QPoint(70, 70));
    }
};

class TestDraggableFileImageView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void pressedAndDragImages_data() {
        QTest::addColumn<QRgb>("pixel");
        QTest::addColumn<QRgb>("pressed");
        QTest::addColumn<QRgb>("drag");
        // Opaque colours darken towards black by a fifth of their distance from white.
        QTest::newRow("orange") << qRgba(200, 100, 50, 255) << qRgba(189, 69, 9, 255)
                                << qRgba(140, 70, 35, 179);
        // Half-transparent white (premultiplied): alpha grows as the copy is laid over it.
        QTest::newRow("half white") << qRgba(128, 128, 128, 128) << qRgba(141, 141, 141, 141)
                                    << qRgba(90, 90, 90, 90);
    }
    // Configured twice: everything the view shows derives from the newest icon.
    void pressedAndDragImages() {
        QFETCH(QRgb, pixel);
        DraggableFileImageView view;
        CountingSource source;
        view.configureWithFileIcon(filledIcon(qRgb(0, 0, 255)), QUrl::fromLocalFile("/a/first.zip"), &source);
        const QImage icon = filledIcon(pixel, {3, 2});
        view.configureWithFileIcon(icon, QUrl::fromLocalFile("/b/second.tar"), &source);
        QCOMPARE(view.fileName(), QStringLiteral("second.tar"));
        QCOMPARE(view.shownImage(), icon);
        QTEST(view.selectedIcon().pixel(2, 1), "pressed");
        QTEST(view.dragIcon().pixel(2, 1), "drag");
    }

    void clickShowsPressedImageAndDoubleClickActsOnce() {
        Fixture f;
        QSignalSpy clicks(&f.view, &DraggableFileImageView::clicked);
        QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(f.view.shownImage(), f.view.selectedIcon());
        QCOMPARE(clicks.count(), 0);
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(f.view.shownImage(), f.view.icon());
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks.first().first().value<DraggableFileImageView*>(), &f.view);
        // A double click acts for its first click only.
        QTest::mouseDClick(f.window(), Qt::LeftButton, {}, QPoint(60, 60), 1000);
        QCOMPARE(f.view.shownImage(), f.view.icon());
        QCOMPARE(clicks.count(), 2);
        QVERIFY(f.drags.isEmpty());
    }

    void firstMoveAfterPressStartsTheDrag() {
        Fixture f;
        QSignalSpy clicks(&f.view, &DraggableFileImageView::clicked);
        QTest::mouseMove(f.window(), QPoint(61, 61));
        QVERIFY(f.drags.isEmpty());
        QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QTest::mouseMove(f.window(), QPoint(61, 60));
        QCOMPARE(f.drags.size(), 1);
        QCOMPARE(f.offered, Qt::DropActions(Qt::CopyAction));
        QCOMPARE(f.drags.first()->pixmap().toImage().pixel(5, 5), f.view.dragIcon().pixel(5, 5));
        QVERIFY(!f.sourceAskedDuringDrag);
        // The drag ended: the icon is back, further moves start nothing, the release is no click.
        QCOMPARE(f.view.shownImage(), f.view.icon());
        QTest::mouseMove(f.window(), QPoint(80, 80));
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(80, 80));
        QCOMPARE(f.drags.size(), 1);
        QCOMPARE(clicks.count(), 0);
    }

    // The target receives the data source's own file, asked for only when it reads the drop, and the same
    // file at every read; nothing is copied. A later drag hands over the file of its own moment.
    void theDropHandsOverTheFileOfTheMoment() {
        Fixture f;
        f.pressAndMove();
        const QMimeData* data = f.drags.value(0)->mimeData();
        QVERIFY(data->hasUrls());
        QCOMPARE(f.source.requests, 0);
        QCOMPARE(data->urls(), QList<QUrl>{*f.source.file});
        QCOMPARE(data->urls(), QList<QUrl>{*f.source.file});
        QCOMPARE(f.source.requests, 1);
        QCOMPARE(QDir(f.source.dir.path()).count(), 3U); // ".", ".." and the report: no copy made

        f.source.file = f.source.fileHolding("Report 2.zip", "newer");
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(70, 70));
        f.pressAndMove(1000);
        QCOMPARE(f.drags.value(1)->mimeData()->urls(), QList<QUrl>{*f.source.file});
    }

    // The drop replaces an existing file atomically: a second name for the old file keeps the old bytes.
    void dropReplacesAFileOfTheSameName_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("shorter report") << QByteArray("short");
        QTest::newRow("empty report") << QByteArray("");
    }
    void dropReplacesAFileOfTheSameName() {
        QFETCH(QByteArray, bytes);
        QTemporaryDir folder;
        Fixture f("/x/Diag.zip");
        f.source.bytes = bytes;
        const QString target = folder.filePath("Diag.zip");
        const QString otherLink = folder.filePath("still-the-old-file");
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
        file.close();
        QCOMPARE(::link(QFile::encodeName(target).constData(), QFile::encodeName(otherLink).constData()), 0);
        const auto names =
            f.view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(folder.path()));
        QCOMPARE(names.value_or(QStringList{"<none>"}), QStringList{"Diag.zip"});
        QCOMPARE(readFile(target), bytes);
        QCOMPARE(readFile(otherLink), QByteArray(4096, 'x'));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // Nothing to give (no file name, or no file): the drop writes nothing, a drag that starts offers no
    // file, and a press that starts no drag is a click.
    void nothingToGive_data() {
        QTest::addColumn<QString>("path"); // empty: never configured
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("dragStarts");
        QTest::newRow("not configured") << QString() << QString() << false;
        QTest::newRow("folder's parent") << QString("/x/..") << "counting" << false;
        QTest::newRow("trailing slash") << QString("/x/reports/") << "counting" << false;
        QTest::newRow("source destroyed") << QString("/x/Diag.zip") << "destroyed" << false;
        QTest::newRow("not a data source") << QString("/x/Diag.zip") << "object" << true;
        QTest::newRow("source answers none") << QString("/x/Diag.zip") << "none" << true;
        QTest::newRow("source names a file that is gone") << QString("/x/Diag.zip") << "gone" << true;
    }
    void nothingToGive() {
        QFETCH(QString, path);
        QFETCH(QString, source);
        QFETCH(bool, dragStarts);
        Fixture f(QString{});
        QObject notASource;
        auto destroyed = std::make_unique<CountingSource>();
        if (source == "none" || source == "gone") {
            f.source.bytes.reset();
            f.source.file.reset();
        }
        if (source == "gone")
            f.source.file = QUrl::fromLocalFile(f.source.dir.filePath("removed report.zip"));
        if (!path.isEmpty())
            configure(f.view,
                      source == "object"      ? &notASource
                      : source == "destroyed" ? destroyed.get()
                                              : &f.source,
                      path);
        destroyed.reset();
        QSignalSpy clicks(&f.view, &DraggableFileImageView::clicked);
        QTemporaryDir folder;
        QVERIFY(!f.view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(folder.path())));
        QVERIFY(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        f.pressAndMove();
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(70, 70));
        QCOMPARE(f.drags.size(), dragStarts ? 1 : 0);
        QCOMPARE(clicks.count(), dragStarts ? 0 : 1);
        if (dragStarts)
            QVERIFY(f.drags.first()->mimeData()->urls().isEmpty());
    }

    void unwritableFolderLogsAndWritesNothing() {
        QTemporaryDir folder;
        // A regular file where the destination folder should be: no user, root included, can write there.
        const QString notAFolder = folder.filePath("plain-file");
        QFile file(notAFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        Fixture f("/x/Diag.zip");
        SystemLogCapture log;
        QVERIFY(!f.view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(notAFolder)));
        const QString expectedStart =
            "Error writing report to " + QUrl::fromLocalFile(notAFolder + "/Diag.zip").toString() + ": ";
        QCOMPARE(log.messages().size(), 1);
        QVERIFY2(log.messages()[0].startsWith(expectedStart) &&
                     log.messages()[0].size() > expectedStart.size(),
                 qPrintable(log.messages()[0]));
        QCOMPARE(QFileInfo(notAFolder).size(), 0);
    }
};

QTEST_MAIN(TestDraggableFileImageView)
#include "tst_draggablefileimageview.moc"
