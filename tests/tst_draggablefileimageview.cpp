// The report icon with the mouse: its pressed and drag images, clicks, drags and drops.

#include "DraggableFileImageView.h"
#include "support/ReportSource.h"
#include "support/TestSupport.h"

#include <QtTest>
#include <QtWidgets>

#include <unistd.h>

namespace {

QImage filledIcon(QRgb color, QSize size = {32, 32}) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

// A shown view of `path` and a data source, whose drags go to a recorder, not the window system.
struct Fixture {
    DraggableFileImageView view;
    ReportSource source;
    QList<QDrag*> drags;
    Qt::DropActions offered;
    QSignalSpy clicks{&view, &DraggableFileImageView::clicked};

    explicit Fixture(const QString& path = "/r/Report.zip", QObject* dataSource = nullptr) {
        view.resize(128, 128);
        view.setDragRunner([this](QDrag& drag, Qt::DropActions actions, Qt::DropAction) {
            drags.append(&drag);
            offered = actions;
            return Qt::CopyAction;
        });
        view.configureWithFileIcon(filledIcon(qRgb(200, 100, 50)), QUrl::fromLocalFile(path),
                                   dataSource ? dataSource : &source);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    QWindow* window() { return view.windowHandle(); }
    void pressMoveAndRelease() {
        QTest::mousePress(window(), Qt::LeftButton, {}, QPoint(60, 60));
        QTest::mouseMove(window(), QPoint(61, 60));
        QTest::mouseRelease(window(), Qt::LeftButton, {}, QPoint(61, 60));
    }
};

} // namespace

class TestDraggableFileImageView : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Opaque colours darken towards black by a fifth of their distance from white; half-transparent white
    // (premultiplied) grows in alpha as the copy is laid over it. The drag image is 70% of the icon.
    void pressedAndDragImages_data() {
        QTest::addColumn<QRgb>("pixel");
        QTest::addColumn<QRgb>("pressed");
        QTest::addColumn<QRgb>("drag");
        QTest::newRow("orange") << qRgba(200, 100, 50, 255) << qRgba(189, 69, 9, 255)
                                << qRgba(140, 70, 35, 179);
        QTest::newRow("half white") << qRgba(128, 128, 128, 128) << qRgba(141, 141, 141, 141)
                                    << qRgba(90, 90, 90, 90);
    }
    // Configured twice: everything the view shows derives from the newest icon.
    void pressedAndDragImages() {
        QFETCH(QRgb, pixel);
        DraggableFileImageView view;
        view.configureWithFileIcon(filledIcon(qRgb(0, 0, 255)), QUrl::fromLocalFile("/a/first.zip"), nullptr);
        const QImage icon = filledIcon(pixel, {3, 2});
        view.configureWithFileIcon(icon, QUrl::fromLocalFile("/b/second.tar"), nullptr);
        QCOMPARE(view.fileName(), QStringLiteral("second.tar"));
        QCOMPARE(view.shownImage(), icon);
        QTEST(view.selectedIcon().pixel(2, 1), "pressed");
        QTEST(view.dragIcon().pixel(2, 1), "drag");
    }

    // A press shows the pressed icon, its release is one click; a double click acts for its first click only.
    void clickShowsPressedImageAndDoubleClickActsOnce() {
        Fixture f;
        QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(f.view.shownImage(), f.view.selectedIcon());
        QCOMPARE(f.clicks.count(), 0);
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(f.view.shownImage(), f.view.icon());
        QCOMPARE(f.clicks.count(), 1);
        QTest::mouseDClick(f.window(), Qt::LeftButton, {}, QPoint(60, 60), 1000);
        QCOMPARE(f.clicks.count(), 2);
        QVERIFY(f.drags.isEmpty());
    }

    // The release after a drag is no click. The data source is asked for its file only when the target
    // reads the drop, and the target gets the same file at every read.
    void theDragHandsOverTheFileOfTheMoment() {
        Fixture f;
        f.pressMoveAndRelease();
        QCOMPARE(f.drags.size(), 1);
        QCOMPARE(f.offered, Qt::DropActions(Qt::CopyAction));
        QCOMPARE(f.drags.first()->pixmap().toImage().pixel(5, 5), f.view.dragIcon().pixel(5, 5));
        QCOMPARE(f.view.shownImage(), f.view.icon());
        QCOMPARE(f.clicks.count(), 0);
        const QMimeData* data = f.drags.first()->mimeData();
        QCOMPARE(f.source.requests, 0);
        QCOMPARE(data->urls(), QList<QUrl>{*f.source.file});
        QCOMPARE(data->urls(), QList<QUrl>{*f.source.file});
        QCOMPARE(f.source.requests, 1);
    }

    // The drop replaces an existing file atomically: a second name for the old file keeps the old bytes.
    void dropReplacesAFileOfTheSameName() {
        QTemporaryDir folder;
        Fixture f("/x/Diag.zip");
        f.source.bytes = "short";
        const QString target = folder.filePath("Diag.zip");
        ReportSource::write(target, QByteArray(4096, 'x'));
        QCOMPARE(::link(qPrintable(target), qPrintable(folder.filePath("old"))), 0);
        const auto names =
            f.view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(folder.path()));
        QCOMPARE(names.value_or(QStringList{"<none>"}), QStringList{"Diag.zip"});
        QCOMPARE(readFile(target), QByteArray("short"));
        QCOMPARE(readFile(folder.filePath("old")), QByteArray(4096, 'x'));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // No file name or no file: the drop writes nothing, a drag offers no file, a press without a drag clicks.
    void nothingToGive_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("dragStarts");
        QTest::newRow("folder's parent") << QString("/x/..") << "counting" << false;
        QTest::newRow("source destroyed") << QString("/x/Diag.zip") << "destroyed" << false;
        QTest::newRow("not a data source") << QString("/x/Diag.zip") << "object" << true;
        QTest::newRow("source names a file that is gone") << QString("/x/Diag.zip") << "gone" << true;
    }
    void nothingToGive() {
        QFETCH(QString, path);
        QFETCH(QString, source);
        QFETCH(bool, dragStarts);
        QObject notASource;
        auto destroyed = std::make_unique<ReportSource>();
        Fixture f(path, source == "object" ? &notASource : source == "destroyed" ? destroyed.get() : nullptr);
        destroyed.reset();
        if (source == "gone")
            f.source.bytes.reset(), f.source.file = QUrl::fromLocalFile(f.source.dir.filePath("removed.zip"));
        QTemporaryDir folder;
        QVERIFY(!f.view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(folder.path())));
        QVERIFY(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        f.pressMoveAndRelease();
        QCOMPARE(f.drags.size(), dragStarts ? 1 : 0);
        QCOMPARE(f.clicks.count(), dragStarts ? 0 : 1);
        if (dragStarts)
            QVERIFY(f.drags.first()->mimeData()->urls().isEmpty());
    }

    // A regular file where the destination folder should be: no user, root included, can write there.
    void unwritableFolderLogsAndWritesNothing() {
        QTemporaryDir folder;
        const QString notAFolder = folder.filePath("plain-file");
        ReportSource::write(notAFolder, {});
        Fixture f("/x/Diag.zip");
        SystemLogCapture log;
        QVERIFY(!f.view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(notAFolder)));
        QCOMPARE(log.messages().size(), 1);
        QCOMPARE(log.messages()[0].section(": ", 0, 0),
                 "Error writing report to " + QUrl::fromLocalFile(notAFolder + "/Diag.zip").toString());
        QCOMPARE(QFileInfo(notAFolder).size(), 0);
    }
};

QTEST_MAIN(TestDraggableFileImageView)
#include "tst_draggablefileimageview.moc"
