#include "DraggableFileImageView.h"
#include "Platform/SystemLog.h"

#include <QDrag>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// A data source that counts its requests and answers what the test set.
class CountingSource : public QObject, public DraggableFileDataSource {
public:
    std::optional<QByteArray> bytes = QByteArray("PK\x03\x04 report bytes");
    int requests = 0;
    DraggableFileImageView* askedBy = nullptr;

    std::optional<QByteArray> fileDataForDraggableFileImageView(DraggableFileImageView* view) override {
        ++requests;
        askedBy = view;
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

class TestDraggableFileImageView : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    // A shown, configured view whose drags go to the returned recorder instead of the window system.
    struct Fixture {
        DraggableFileImageView view;
        CountingSource source;
        QList<QDrag*> drags;
        Qt::DropActions offered;
        Qt::DropAction defaultAction = Qt::IgnoreAction;
        bool sourceAskedDuringDrag = false;

        explicit Fixture(bool configure = true) {
            view.resize(128, 128);
            view.setDragRunner([this](QDrag& drag, Qt::DropActions actions, Qt::DropAction preferred) {
                drags.append(&drag);
                offered = actions;
                defaultAction = preferred;
                sourceAskedDuringDrag = source.requests > 0;
                return Qt::CopyAction;
            });
            if (configure)
                view.configureWithFileIcon(solidIcon(qRgb(200, 100, 50)),
                                           QUrl::fromLocalFile("/r/Report 1.zip"), &source);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
        }
        QWindow* window() { return view.windowHandle(); }
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
        QTest::newRow("mid grey") << qRgba(128, 128, 128, 255) << qRgba(103, 103, 103, 255)
                                  << qRgba(90, 90, 90, 179);
        QTest::newRow("black") << qRgba(0, 0, 0, 255) << qRgba(0, 0, 0, 255) << qRgba(0, 0, 0, 179);
        QTest::newRow("orange") << qRgba(200, 100, 50, 255) << qRgba(189, 69, 9, 255)
                                << qRgba(140, 70, 35, 179);
        QTest::newRow("transparent") << qRgba(0, 0, 0, 0) << qRgba(0, 0, 0, 0) << qRgba(0, 0, 0, 0);
        // Half-transparent white (premultiplied): alpha grows as the copy is laid over it.
        QTest::newRow("half white") << qRgba(128, 128, 128, 128) << qRgba(141, 141, 141, 141)
                                    << qRgba(90, 90, 90, 90);
    }
    void pressedAndDragImages() {
        QFETCH(QRgb, pixel);
        QFETCH(QRgb, pressed);
        QFETCH(QRgb, drag);
        QImage icon(3, 2, QImage::Format_ARGB32_Premultiplied);
        icon.fill(pixel);
        const QImage pressedImage = DraggableFileImageView::pressedImageForIcon(icon);
        const QImage dragImage = DraggableFileImageView::dragImageForIcon(icon);
        QCOMPARE(pressedImage.size(), icon.size());
        QCOMPARE(dragImage.size(), icon.size());
        QCOMPARE(pressedImage.pixel(2, 1), pressed);
        QCOMPARE(dragImage.pixel(2, 1), drag);
    }

    void derivedImagesFollowTheNewestIcon() {
        DraggableFileImageView view;
        CountingSource source;
        view.configureWithFileIcon(solidIcon(qRgb(0, 0, 255)), QUrl::fromLocalFile("/a/first.zip"), &source);
        const QImage newIcon = solidIcon(qRgb(255, 0, 0), 48);
        view.configureWithFileIcon(newIcon, QUrl::fromLocalFile("/b/second.tar"), &source);
        QCOMPARE(view.fileName(), QStringLiteral("second.tar"));
        QCOMPARE(view.selectedIcon(), DraggableFileImageView::pressedImageForIcon(newIcon));
        QCOMPARE(view.dragIcon(), DraggableFileImageView::dragImageForIcon(newIcon));
        QCOMPARE(view.shownImage(), newIcon);
    }

    void clickShowsPressedImageAndSendsActionOnce() {
        Fixture f;
        QSignalSpy clicks(&f.view, &DraggableFileImageView::clicked);
        QCOMPARE(f.view.cursor().shape(), Qt::PointingHandCursor);
        QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(f.view.shownImage(), f.view.selectedIcon());
        QCOMPARE(clicks.count(), 0);
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(f.view.shownImage(), f.view.icon());
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(clicks.first().first().value<DraggableFileImageView*>(), &f.view);
        QVERIFY(f.drags.isEmpty());
    }

    void doubleClickSendsActionForTheFirstClickOnly() {
        Fixture f;
        QSignalSpy clicks(&f.view, &DraggableFileImageView::clicked);
        QTest::mouseDClick(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QCOMPARE(f.view.shownImage(), f.view.icon());
        QCOMPARE(clicks.count(), 1);
        // Another click later is a new single click.
        QTest::mouseClick(f.window(), Qt::LeftButton, {}, QPoint(60, 60), 1000);
        QCOMPARE(clicks.count(), 2);
    }

    void unconfiguredViewShowsNothingAndStartsNoDrag() {
        Fixture f(false);
        QSignalSpy clicks(&f.view, &DraggableFileImageView::clicked);
        QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QVERIFY(f.view.shownImage().isNull());
        QTest::mouseMove(f.window(), QPoint(90, 90));
        QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(90, 90));
        QVERIFY(f.view.shownImage().isNull());
        QVERIFY(f.drags.isEmpty());
        QCOMPARE(clicks.count(), 1);
    }

    void firstMoveAfterPressStartsTheDrag_data() {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("none") << Qt::KeyboardModifiers();
        QTest::newRow("control+shift") << Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier);
    }
    void firstMoveAfterPressStartsTheDrag() {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        Fixture f;
        QSignalSpy clicks(&f.view, &DraggableFileImageView::clicked);
        QTest::mouseMove(f.window(), QPoint(61, 61));
        QVERIFY(f.drags.isEmpty());
        QTest::mousePress(f.window(), Qt::LeftButton, modifiers, QPoint(60, 60));
        QTest::mouseMove(f.window(), QPoint(61, 60));
        QCOMPARE(f.drags.size(), 1);
        QCOMPARE(f.offered, Qt::DropActions(Qt::CopyAction));
        QCOMPARE(f.defaultAction, Qt::CopyAction);
        QVERIFY(!f.drags.first()->pixmap().isNull());
        QCOMPARE(f.drags.first()->pixmap().toImage().pixel(5, 5), f.view.dragIcon().pixel(5, 5));
        QVERIFY(!f.sourceAskedDuringDrag);
        // The drag ended: the icon is back, further moves start nothing, the release is no click.
        QCOMPARE(f.view.shownImage(), f.view.icon());
        QTest::mouseMove(f.window(), QPoint(80, 80));
        QTest::mouseRelease(f.window(), Qt::LeftButton, modifiers, QPoint(80, 80));
        QCOMPARE(f.drags.size(), 1);
        QCOMPARE(clicks.count(), 0);
    }

    void promisedFileIsWrittenWhenTheTargetReadsIt() {
        QString staged;
        {
            Fixture f;
            QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
            QTest::mouseMove(f.window(), QPoint(70, 70));
            QCOMPARE(f.drags.size(), 1);
            const QMimeData* data = f.drags.first()->mimeData();
            QVERIFY(data->hasUrls());
            QCOMPARE(f.source.requests, 0);

            const QList<QUrl> urls = data->urls();
            QCOMPARE(f.source.requests, 1);
            QCOMPARE(f.source.askedBy, &f.view);
            QCOMPARE(urls.size(), 1);
            QVERIFY(urls.first().isLocalFile());
            staged = urls.first().toLocalFile();
            QCOMPARE(QFileInfo(staged).fileName(), QStringLiteral("Report 1.zip"));
            QVERIFY(staged.startsWith(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/"));
            QCOMPARE(readFile(staged), *f.source.bytes);
            // A target that reads again gets the same file; the source is not asked twice.
            QCOMPARE(data->urls(), urls);
            QCOMPARE(f.source.requests, 1);

            // The next drag stages its own copy, with the bytes of that moment; the first one stays.
            f.source.bytes = QByteArray("newer bytes");
            QTest::mouseRelease(f.window(), Qt::LeftButton, {}, QPoint(70, 70));
            QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60), 1000);
            QTest::mouseMove(f.window(), QPoint(70, 70));
            QCOMPARE(f.drags.size(), 2);
            const QList<QUrl> second = f.drags.last()->mimeData()->urls();
            QCOMPARE(second.size(), 1);
            QVERIFY(second.first() != urls.first());
            QCOMPARE(readFile(second.first().toLocalFile()), QByteArray("newer bytes"));
            QCOMPARE(readFile(staged), QByteArray("PK\x03\x04 report bytes"));
        }
        // Staged copies go with the view.
        QVERIFY(!QFileInfo::exists(staged));
    }

    void promisedFileWithoutBytesGivesNoFile() {
        Fixture f;
        f.source.bytes.reset();
        QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QTest::mouseMove(f.window(), QPoint(70, 70));
        QCOMPARE(f.drags.size(), 1);
        QVERIFY(f.drags.first()->mimeData()->urls().isEmpty());
        QCOMPARE(f.source.requests, 1);
    }

    void writesIntoTheDestinationFolder_data() {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("new file") << QByteArray() << QByteArray("fresh report");
        QTest::newRow("replaces a longer file") << QByteArray(4096, 'x') << QByteArray("short");
        QTest::newRow("empty report") << QByteArray("old") << QByteArray("");
    }
    void writesIntoTheDestinationFolder() {
        QFETCH(QByteArray, existing);
        QFETCH(QByteArray, bytes);
        QTemporaryDir folder;
        DraggableFileImageView view;
        CountingSource source;
        source.bytes = bytes;
        view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), QUrl::fromLocalFile("/x/Diag.zip"), &source);
        const QString target = folder.filePath("Diag.zip");
        const QString otherLink = folder.filePath("still-the-old-file");
        if (!existing.isEmpty()) {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(existing);
            file.close();
            // A second name for the old file: an atomic replace leaves it untouched.
            QCOMPARE(::link(QFile::encodeName(target).constData(), QFile::encodeName(otherLink).constData()),
                     0);
        }
        const auto names = view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(folder.path()));
        QVERIFY(names.has_value());
        QCOMPARE(*names, QStringList{"Diag.zip"});
        QCOMPARE(readFile(target), bytes);
        if (!existing.isEmpty())
            QCOMPARE(readFile(otherLink), existing);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 existing.isEmpty() ? 1 : 2);
    }

    void noSourceOrNoBytesWritesNothing() {
        QTemporaryDir folder;
        DraggableFileImageView view;
        QObject notASource;
        view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), QUrl::fromLocalFile("/x/Diag.zip"), &notASource);
        QVERIFY(!view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(folder.path())));
        CountingSource empty;
        empty.bytes.reset();
        view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), QUrl::fromLocalFile("/x/Diag.zip"), &empty);
        QVERIFY(!view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(folder.path())));
        QCOMPARE(empty.requests, 1);
        QVERIFY(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void aFolderNameIsNoFileName_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("parent") << "/x/..";
        QTest::newRow("self") << "/x/.";
        QTest::newRow("trailing slash") << "/x/reports/";
    }
    void aFolderNameIsNoFileName() {
        QFETCH(QString, path);
        Fixture f;
        f.view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), QUrl::fromLocalFile(path), &f.source);
        QTemporaryDir outer;
        QVERIFY(QDir(outer.path()).mkdir("drop"));
        QVERIFY(
            !f.view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(outer.filePath("drop"))));
        QTest::mousePress(f.window(), Qt::LeftButton, {}, QPoint(60, 60));
        QTest::mouseMove(f.window(), QPoint(70, 70));
        QVERIFY(f.drags.isEmpty());
        QCOMPARE(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"drop"});
        QCOMPARE(f.source.requests, 0);
    }

    void sourceDestroyedCountsAsNone() {
        QTemporaryDir folder;
        DraggableFileImageView view;
        auto source = std::make_unique<CountingSource>();
        view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), QUrl::fromLocalFile("/x/Diag.zip"),
                                   source.get());
        source.reset();
        QVERIFY(!view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(folder.path())));
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
        view.configureWithFileIcon(solidIcon(qRgb(1, 2, 3)), QUrl::fromLocalFile("/x/Diag.zip"), &source);
        QStringList logged;
        const auto previous = vt_setSystemLogSink([&logged](const QString& line) { logged.append(line); });
        const auto names = view.namesOfPromisedFilesDroppedAtDestination(QUrl::fromLocalFile(notAFolder));
        vt_setSystemLogSink(previous);
        QVERIFY(!names);
        QCOMPARE(logged.size(), 1);
        const QString expectedStart = QStringLiteral("Error writing report to %1: ")
                                          .arg(QUrl::fromLocalFile(notAFolder + "/Diag.zip").toString());
        QVERIFY2(logged.first().startsWith(expectedStart), qPrintable(logged.first()));
        QVERIFY(logged.first().size() > expectedStart.size());
        QCOMPARE(QFileInfo(notAFolder).size(), 0);
    }
};

QTEST_MAIN(TestDraggableFileImageView)
#include "tst_draggablefileimageview.moc"
