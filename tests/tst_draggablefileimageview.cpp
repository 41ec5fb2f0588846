#include "DraggableFileImageView.h"
#include "support/TestSupport.h"

#include <QDrag>
#include <QMimeData>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

// A data source that counts its requests and answers what the test set.
class CountingSource : public QObject, public DraggableFileDataSource {
public:
    std::optional<QByteArray> bytes = QByteArray("PK\x03\x04 report bytes");
    int requests = 0;
    std::optional<QByteArray> fileDataForDraggableFileImageView(DraggableFileImageView*) override {
        ++requests;
        return bytes;
    }
};

static QImage solidIcon(QRgb color, int side = 32) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

static QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

static QUrl localUrl(const QString& path) {
    return QUrl::fromLocalFile(path);
}

class TestDraggableFileImageView : public QObject {
    Q_OBJECT

    // A shown view (configured unless asked not to) whose drags go to a recorder, not the window system.
    struct Fixture {
        DraggableFileImageView view;
        CountingSource source;
        QList<QDrag*> drags;
        Qt::DropActions offered;
        bool sourceAskedDuringDrag = false;

        explicit Fixture(bool configure = true) {
            view.resize(128, 128);
            view.setDragRunner([this](QDrag& drag, Qt::DropActions actions, Qt::DropAction) {
                drags.append(&drag);
                offered = actions;
                sourceAskedDuringDrag = source.requests > 0;
                return Qt::CopyAction;
            });
            if (configure)
                view.configureWithFileIcon(solidIcon(qRgb(200, 100, 50)), localUrl("/r/Report 1.zip"),
                                           &source);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
        }
        QWindow* window() { return view.windowHandle(); }
        void pressAndMove(int delay = -1) {
            QTest::mousePress(window(), Qt::LeftButton, {}, QPoint(60, 60), delay);
            QTest::mouseMove(window(), QPoint(70, 70));
        }
    };

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void pressedAndDragImages_data() {
        QTest::addColumn<QRgb>("pixel");
        QTest::addColumn<QRgb>("pressed");
        QTest::addColumn<QRgb>("drag");
        // Opaque colours darken towards black by a fifth of their distance from white; white stays.
        QTest::newRow("white") << qRgba(255, 255, 255, 255) << qRgba(255, 255, 255, 255)
                               << qRgba(179, 179, 179, 179);
        QTest::newRow("orange") << qRgba(200, 100, 50, 255) << qRgba(189, 69, 9, 255)
                                << qRgba(140, 70, 35, 179);
        QTest::newRow("transparent") << qRgba(0, 0, 0, 0) << qRgba(0, 0, 0, 0) << qRgba(0, 0, 0, 0);
        // Half-transparent white (premultiplied): alpha grows as the copy is laid over it.
        QTest::newRow("half white") << qRgba(128, 128, 128, 128) << qRgba(141, 141, 141, 141)
                                    << qRgba(90, 90, 90, 90);
    }
    void pressedAndDragImages() {
        QFETCH(QRgb, pixel);
        QImage icon(3, 2, QImage::Format_ARGB32_Premultiplied);
        icon.fill(pixel);
        const QImage pressedImage = DraggableFileImageView::pressedImageForIcon(icon);
        const QImage dragImage = DraggableFileImageView::dragImageForIcon(icon);
        QTEST(pressedImage.pixel(2, 1), "pressed");
        QTEST(dragImage.pixel(2, 1), "drag");
    }

    void derivedImagesFollowTheNewestIcon() {
        DraggableFileImageView view;
        CountingSource source;
        view.configureWithFileIcon(solidIcon(qRgb(0, 0, 255)), localUrl("/a/first.zip"), &source);
        const QImage newIcon = solidIcon(qRgb(255, 0, 0), 48);
        view.configureWithFileIcon(newIcon, localUrl("/b/second.tar"), &source);
        QCOMPARE(view.fileName(), QStringLiteral("second.tar"));
        QCOMPARE(view.selectedIcon(), DraggableFileImageView::pressedImageForIcon(newIcon));
        QCOMPARE(view.dragIcon(), DraggableFileImageView::dragImageForIcon(newIcon));
        QCOMPARE(view.shownImage(), newIcon);
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

    void promisedFileIsWrittenWhenTheTargetReadsIt() {
        QString staged;
        {
            Fixture f;
            f.pressAndMove();
            QCOMPARE(f.drags.size(), 1);
            const QMimeData* data = f.drags.first()->mimeData();
            QVERIFY(data->hasUrls());
            QCOMPARE(f.source.requests, 0);
            const QList<QUrl> urls = data->urls();
            QCOMPARE(f.source.requests, 1);
            QCOMPARE(urls.size(), 1);
            staged = urls.first().toLocalFile();
            QCOMPARE(QFileInfo(staged).fileName(), QStringLiteral("Report 1.zip"));
            QCOMPARE(readFile(staged), *f.source.bytes);
            // A target that reads again gets the same file; the source is not asked twice.
            QCOMPARE(data->urls(), urls);
            QCOMPARE(f.source.requests, 1);

            // The next drag stages its own copy, with the bytes of that moment; the first one stays.
            f.source.bytes = QByteArray("newer bytes");
            QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(70, 70));
            f.pressAndMove(1000);
            QCOMPARE(f.drags.size(), 2);
            const QList<QUrl> second = f.drags.last()->mimeData()->urls();
            QCOMPARE(second.size(), 1);
            QVERIFY(second.first() != urls.first());
            QCOMPARE(readFile(second.first().toLocalFile()), QByteArray("newer bytes"));
            QCOMPARE(readFile(staged), QByteArray("PK\x03\x04 report bytes"));
        }
        QVERIFY(!QFileInfo::exists(staged)); // staged copies go with the view
    }

    // The drop replaces an existing file atomically: a second name for the old file keeps the old bytes.
    void writesIntoTheDestinationFolder_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("shorter report") << QByteArray("short");
        QTest::newRow("empty report") << QByteArray("");
    }
    void writesIntoTheDestinationFolder() {
        QFETCH(QByteArray, bytes);
        QTemporaryDir folder;
        DraggableFileImageView view;
        CountingSource source;
        source.bytes = bytes;
        view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), localUrl("/x/Diag.zip"), &source);
        const QString target = folder.filePath("Diag.zip");
        const QString otherLink = folder.filePath("still-the-old-file");
        const QByteArray existing(4096, 'x');
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(existing) == existing.size());
        file.close();
        QCOMPARE(::link(QFile::encodeName(target).constData(), QFile::encodeName(otherLink).constData()), 0);
        const auto names = view.namesOfPromisedFilesDroppedAtDestination(localUrl(folder.path()));
        QCOMPARE(names.value_or(QStringList{"<none>"}), QStringList{"Diag.zip"});
        QCOMPARE(readFile(target), bytes);
        QCOMPARE(readFile(otherLink), existing);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // No data: neither a dropped file nor a staged one for a drag.
    void noDataWritesNothing_data() {
        QTest::addColumn<QString>("source");
        QTest::newRow("not a data source") << "object";
        QTest::newRow("source answers none") << "none";
        QTest::newRow("source destroyed") << "destroyed";
    }
    void noDataWritesNothing() {
        QFETCH(QString, source);
        QTemporaryDir folder;
        Fixture f;
        QObject notASource;
        auto counting = std::make_unique<CountingSource>();
        counting->bytes.reset();
        f.view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), localUrl("/x/Diag.zip"),
                                     source == "object" ? &notASource : counting.get());
        if (source == "destroyed") {
            counting = std::make_unique<CountingSource>();
            f.view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), localUrl("/x/Diag.zip"), counting.get());
            counting.reset();
        }
        QVERIFY(!f.view.namesOfPromisedFilesDroppedAtDestination(localUrl(folder.path())));
        QVERIFY(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        f.pressAndMove(); // a drag, if one starts, offers no file
        QVERIFY(f.drags.isEmpty() || f.drags.first()->mimeData()->urls().isEmpty());
    }

    // No file to give (never configured, or a folder's name): no drag, no drop, the source not asked.
    void noFileNoDrag_data() {
        QTest::addColumn<QString>("path"); // empty: never configured
        QTest::newRow("not configured") << "";
        QTest::newRow("parent") << "/x/..";
        QTest::newRow("trailing slash") << "/x/reports/";
    }
    void noFileNoDrag() {
        QFETCH(QString, path);
        Fixture f(false);
        if (!path.isEmpty())
            f.view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), localUrl(path), &f.source);
        QSignalSpy clicks(&f.view, &DraggableFileImageView::clicked);
        QTemporaryDir outer;
        QVERIFY(QDir(outer.path()).mkdir("drop"));
        QVERIFY(!f.view.namesOfPromisedFilesDroppedAtDestination(localUrl(outer.filePath("drop"))));
        f.pressAndMove();
        QCOMPARE(f.view.shownImage().isNull(), path.isEmpty());
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(70, 70));
        QVERIFY(f.drags.isEmpty());
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"drop"});
        QCOMPARE(f.source.requests, 0);
    }

    void unwritableFolderLogsAndWritesNothing() {
        QTemporaryDir folder;
        // A regular file where the destination folder should be: no user, root included, can write there.
        const QString notAFolder = folder.filePath("plain-file");
        QFile file(notAFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        DraggableFileImageView view;
        CountingSource source;
        view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), localUrl("/x/Diag.zip"), &source);
        SystemLogCapture log;
        QVERIFY(!view.namesOfPromisedFilesDroppedAtDestination(localUrl(notAFolder)));
        const QStringList logged = log.messages();
        QCOMPARE(logged.size(), 1);
        const QString expectedStart =
            QStringLiteral("Error writing report to %1: ").arg(localUrl(notAFolder + "/Diag.zip").toString());
        QVERIFY2(logged.first().startsWith(expectedStart) && logged.first().size() > expectedStart.size(),
                 qPrintable(logged.first()));
        QCOMPARE(QFileInfo(notAFolder).size(), 0);
    }
};

QTEST_MAIN(TestDraggableFileImageView)
#include "tst_draggablefileimageview.moc"
