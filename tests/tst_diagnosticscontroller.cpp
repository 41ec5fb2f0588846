#include "AppResources.h"
#include "DiagnosticsController.h"
#include "support/ProgramRuns.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

using Env = std::optional<QByteArray>;
using Url = std::optional<QUrl>;

// Writes a file modified ageSeconds before one fixed moment, so equal ages give equal times.
static void writeAged(const QString& path, const QByteArray& bytes, int ageSeconds = 0) {
    QVERIFY(writeFile(path, bytes));
    static const time_t now = ::time(nullptr);
    const struct timespec times[2] = {{now - ageSeconds, 0}, {now - ageSeconds, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

class TestDiagnosticsController : public QObject {
    Q_OBJECT

    QTemporaryDir dataHome;
    std::optional<ScopedEnv> xdg;

    QString reportFolder() const { return dataHome.filePath("Keyloft 4/Diagnostics"); }

private slots:
    void init() {
        QDir(reportFolder()).removeRecursively();
        xdg.emplace("XDG_DATA_HOME", dataHome.path().toUtf8());
    }

    // The folder is named, never created; before it exists there is no report.
    void folderFollowsTheDataHome_data() {
        QTest::addColumn<Env>("xdgDataHome");
        QTest::addColumn<Env>("home");
        QTest::addColumn<Url>("expected");
        QTest::newRow("data home") << Env(dataHome.path().toUtf8()) << Env("/home/someone")
                                   << Url(QUrl::fromLocalFile(reportFolder()));
        QTest::newRow("relative data home") << Env("relative/share") << Env("/home/someone") << Url();
        QTest::newRow("no data home, no HOME") << Env() << Env() << Url();
    }
    void folderFollowsTheDataHome() {
        QFETCH(Env, xdgDataHome);
        QFETCH(Env, home);
        const ScopedEnv dataEnv("XDG_DATA_HOME", xdgDataHome), homeEnv("HOME", home);
        QTEST(DiagnosticsController::outputFolderURL(), "expected");
        QCOMPARE(DiagnosticsController::generatedReportZipURL(), Url());
        QVERIFY(!QFileInfo::exists(dataHome.filePath("Keyloft 4")));
    }

    void theNewestVisibleFileIsTheReport_data() {
        QTest::addColumn<QStringList>("entries"); // "name:age seconds", a trailing "/" for a folder
        QTest::addColumn<QString>("expected");    // empty: none
        QTest::newRow("old and new") << QStringList{"zz-old.zip:3600", "aa-new.zip:5"} << "aa-new.zip";
        QTest::newRow("hidden file and folder are newer")
            << QStringList{".DS_Store:0", "sub/:0", "report.zip:60"} << "report.zip";
        QTest::newRow("equal times: greater name")
            << QStringList{"b.zip:100", "c.zip:100", "a.zip:100"} << "c.zip";
        QTest::newRow("only hidden") << QStringList{".partial.zip:0"} << "";
    }
    void theNewestVisibleFileIsTheReport() {
        QFETCH(QStringList, entries);
        QFETCH(QString, expected);
        const QDir folder(reportFolder());
        QVERIFY(folder.mkpath("."));
        for (const QString& entry : entries) {
            const QString name = entry.section(':', 0, 0);
            if (name.endsWith('/'))
                QVERIFY(folder.mkdir(name));
            else
                writeAged(folder.filePath(name), name.toUtf8(), entry.section(':', 1, 1).toInt());
        }
        QCOMPARE(DiagnosticsController::generatedReportZipURL(),
                 expected.isEmpty() ? Url() : Url(QUrl::fromLocalFile(folder.filePath(expected))));
    }

    void onlyTheOwnIconGetsTheReportOfTheMomentOfTheDrop() {
        const QDir folder(reportFolder());
        QVERIFY(folder.mkpath("."));
        writeAged(folder.filePath("first.zip"), "first report", 60);
        DiagnosticsController controller;
        DraggableFileImageView icon;
        DraggableFileImageView other;
        QVERIFY(!controller.fileDataForDraggableFileImageView(&icon));
        controller.setDraggableFileView(&icon);
        icon.configureWithFileIcon(vt_reportArtwork(), QUrl::fromLocalFile(folder.filePath("first.zip")),
                                   &controller);
        QVERIFY(!controller.fileDataForDraggableFileImageView(&other));
        QVERIFY(!controller.fileDataForDraggableFileImageView(nullptr));
        QVERIFY(!controller.fileURLForDraggableFileImageView(&other));
        // A newer report arrived after configuration: a drop or a paste hands over that one.
        writeAged(folder.filePath("second.zip"), "second report");
        QCOMPARE(icon.handedOverFile(), Url(QUrl::fromLocalFile(folder.filePath("second.zip"))));
        QTemporaryDir dropFolder;
        const QUrl drop = QUrl::fromLocalFile(dropFolder.path());
        QVERIFY(icon.namesOfPromisedFilesDroppedAtDestination(drop));
        QCOMPARE(readFile(dropFolder.filePath("first.zip")), QByteArray("second report"));
        // Every report removed: nothing to give, and the earlier drop stays as it was.
        QVERIFY(QFile::remove(folder.filePath("first.zip")) && QFile::remove(folder.filePath("second.zip")));
        QVERIFY(!icon.namesOfPromisedFilesDroppedAtDestination(drop));
        QVERIFY(!icon.handedOverFile());
        QCOMPARE(readFile(dropFolder.filePath("first.zip")), QByteArray("second report"));
    }

    void reportArtworkRendersAtTheAskedSize_data() {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<int>("pixels");
        QTest::newRow("2x") << 2.0 << 256;
        QTest::newRow("nonsense ratio") << -1.0 << 128;
    }
    void reportArtworkRendersAtTheAskedSize() {
        QFETCH(qreal, ratio);
        QFETCH(int, pixels);
        const QImage artwork = vt_reportArtwork(128, ratio);
        QCOMPARE(artwork.size(), QSize(pixels, pixels));
        QCOMPARE(artwork.deviceIndependentSize(), QSizeF(128, 128));
        // Not blank: the page is drawn in the middle and the corners stay clear.
        QVERIFY(qAlpha(artwork.pixel(pixels / 2, pixels / 2)) == 255 && qAlpha(artwork.pixel(0, 0)) == 0);
    }
};

QTEST_MAIN(TestDiagnosticsController)
#include "tst_diagnosticscontroller.moc"
