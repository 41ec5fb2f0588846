// The report preview: the zip reader against an archive Python's zipfile writes, and the real window after
// a real report, on an X server of the test's own since keys are typed.

#include "MainInterface.h"
#include "ReportPreviewWindow.h"
#include "VantleString.h"
#include "ZipArchive.h"
#include "ui_MainWindow.h"

#include "support/TestSupport.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// The archive's files: a stored one (its bytes stand in the archive as they are, so a test can change
// one), a packed text with a name in UTF-8, and a megabyte of zeros that packs to a kilobyte.
const QByteArray kStored = "stored text: the quick brown fox\n";
const QByteArray kPacked = QByteArray("line of packed text\n").repeated(200);
const QString kPackedName = u"Prüfung/名前.txt"_qs;
constexpr qint64 kZeros = 1 << 20;

// unzip, a reader of its own: the bytes of one file of the report, or (no name) its file names.
QByteArray unzip(const QString& report, const QString& name = {}) {
    QProcess process;
    process.start(u"unzip"_qs, name.isEmpty() ? QStringList{"-Z1", report} : QStringList{"-p", report, name});
    return process.waitForFinished(60000) && process.exitCode() == 0 ? process.readAllStandardOutput()
                                                                     : QByteArray();
}
QStringList namesIn(const QString& report) {
    return QString::fromUtf8(unzip(report)).split('\n', Qt::SkipEmptyParts);
}

// The kind of problem, -1 for an archive that opened.
int problemKind(const VTZipArchive::Opened& opened) {
    const auto* problem = std::get_if<VTZipProblem>(&opened);
    return problem != nullptr ? int(problem->kind) : -1;
}

// Types keys (xdotool key names) into window through the X server, as a keyboard does.
bool typeKeys(const QWidget& window, const QStringList& keys) {
    QProcess xdotool;
    xdotool.start(u"xdotool"_qs,
                  QStringList{"windowfocus", "--sync", QString::number(window.winId()), "key"} + keys);
    return xdotool.waitForFinished(30000) && xdotool.exitCode() == 0;
}

} // namespace

class TestReportPreview : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QByteArray zip_;

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(u"python3"_qs).isEmpty())
            QSKIP("needs python3 to write the test archive");
        const QString path = work_.filePath(u"made.zip"_qs);
        QProcess::execute(u"python3"_qs, {"-c", R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('stored.txt', sys.argv[2], zipfile.ZIP_STORED)
    z.writestr(sys.argv[3], sys.argv[4], zipfile.ZIP_DEFLATED)
    z.writestr('zeros.bin', bytes(int(sys.argv[5])), zipfile.ZIP_DEFLATED)
)",
                                          path, QString::fromUtf8(kStored), kPackedName,
                                          QString::fromUtf8(kPacked), QString::number(kZeros)});
        zip_ = readFile(path);
        QVERIFY(zip_.contains(kStored));
    }

    void aWholeArchiveListsAndReadsEveryFile() {
        VTZipArchive::Opened opened = VTZipArchive::fromBytes(zip_);
        QCOMPARE(problemKind(opened), -1);
        const VTZipArchive& archive = std::get<VTZipArchive>(opened);
        QStringList listed;
        for (const VTZipMember& member : archive.members())
            listed << member.name + u' ' + QString::number(member.size);
        QCOMPARE(listed, QStringList({"stored.txt " + QString::number(kStored.size()),
                                      kPackedName + " " + QString::number(kPacked.size()),
                                      "zeros.bin " + QString::number(kZeros)}));
        const auto whole = std::get<VTZipMemberData>(archive.memberData(1, 1 << 20));
        QCOMPARE(whole.bytes, kPacked);
        QVERIFY(whole.complete);
        const auto part = std::get<VTZipMemberData>(archive.memberData(2, 10));
        QCOMPARE(part.bytes, QByteArray(10, '\0'));
        QVERIFY(!part.complete);
    }

    void damagedForeignAndOversizedArchives_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("file"); // read instead of the bytes when named
        QTest::addColumn<VTZipLimits>("limits");
        QTest::addColumn<int>("problem");
        QByteArray changed = zip_;
        changed[changed.indexOf(kStored) + 5] = 'X';
        const int damaged = int(VTZipProblemKind::Damaged), tooLarge = int(VTZipProblemKind::TooLarge);
        QTest::newRow("a stored byte changed") << changed << QString() << VTZipLimits{} << damaged;
        QTest::newRow("cut short") << zip_.left(zip_.size() * 2 / 3) << QString() << VTZipLimits{} << damaged;
        QTest::newRow("text") << QByteArray("just some text\n") << QString() << VTZipLimits{}
                              << int(VTZipProblemKind::NotZip);
        QTest::newRow("unpacks past the limit (a zip bomb)")
            << zip_ << QString() << VTZipLimits{.unpackedBytes = kZeros / 2} << tooLarge;
        QTest::newRow("more files than the limit")
            << zip_ << QString() << VTZipLimits{.members = 2} << tooLarge;
        QTest::newRow("file larger than the limit")
            << QByteArray() << work_.filePath("made.zip") << VTZipLimits{.archiveBytes = zip_.size() - 1}
            << tooLarge;
        QTest::newRow("no such file") << QByteArray() << work_.filePath("nothing.zip") << VTZipLimits{}
                                      << int(VTZipProblemKind::Unreadable);
    }
    void damagedForeignAndOversizedArchives() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, file);
        QFETCH(VTZipLimits, limits);
        QTEST(problemKind(file.isEmpty() ? VTZipArchive::fromBytes(bytes, limits)
                                         : VTZipArchive::open(file, limits)),
              "problem");
    }

    void ctrlIPreviewsTheRealReport() {
        for (const char* tool : {"xdotool", "unzip"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP("needs xdotool and unzip");
        QTemporaryDir dataHome;
        const ScopedEnv home("XDG_DATA_HOME", dataHome.path().toUtf8());
        DiagnosticsController::setBundlePathForTesting(QStringLiteral(KEYLOFT_BUNDLE_DIR));
        MainInterface app;
        QAction* command = app.ui().actionShowReportContents;
        QVERIFY(!command->isEnabled());
        QVERIFY(app.ui().draggableFileView->actions().contains(command));
        app.controller().awakeFromNib();
        app.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&app.window()));
        // The person confirms every message box (a failed run waits for its alert); the test keeps its text.
        QString alert;
        QTimer alertWatch;
        connect(&alertWatch, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            for (QAbstractButton* button : box != nullptr ? box->buttons() : QList<QAbstractButton*>{})
                if (box->buttonRole(button) == QMessageBox::AcceptRole) {
                    alert = box->text() + box->informativeText();
                    return button->click();
                }
        });
        alertWatch.start(100);
        QTest::mouseClick(app.ui().diagnosticsPerformActionButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(command->isEnabled() || !alert.isEmpty(), 120000);
        QVERIFY2(alert.isEmpty(), qPrintable(alert));

        QVERIFY(typeKeys(app.window(), {"ctrl+i"}));
        QTRY_VERIFY(app.reportPreview() != nullptr && app.reportPreview()->isVisible());
        ReportPreviewWindow* preview = app.reportPreview();
        auto* list = preview->findChild<QTreeWidget*>(u"memberList"_qs);
        auto* text = preview->findChild<QPlainTextEdit*>(u"textView"_qs);
        const QString report = DiagnosticsController::generatedReportZipURL()->toLocalFile();
        QCOMPARE(list->currentItem()->text(0), u"summary.txt"_qs);

        const QStringList names = namesIn(report);
        QVERIFY(names.contains(u"manifest.json"_qs));
        QCOMPARE(list->topLevelItemCount(), names.size());
        for (int row = 0; row < names.size(); ++row) {
            const QByteArray bytes = unzip(report, names[row]);
            QTreeWidgetItem* item = list->topLevelItem(row);
            QCOMPARE(item->text(0), names[row]);
            QCOMPARE(item->text(1), vt_humanReadableSizeStringForBytes(bytes.size()));
            list->setCurrentItem(item);
            QCOMPARE(text->toPlainText(), QString::fromUtf8(bytes));
        }
        // The summary and the manifest stay in every report: they have no box to uncheck.
        for (const QString& required : {u"summary.txt"_qs, u"manifest.json"_qs})
            QVERIFY(!list->topLevelItem(names.indexOf(required))->data(0, Qt::CheckStateRole).isValid());

        // Find, from the keyboard: Ctrl+F, a word (found as it is typed), Enter for the next one.
        QVERIFY(typeKeys(*preview, {"ctrl+f"}));
        QTRY_VERIFY(preview->findChild<QLineEdit*>(u"findField"_qs)->hasFocus());
        list->setCurrentItem(list->topLevelItem(names.indexOf(u"manifest.json"_qs)));
        QVERIFY(typeKeys(*preview, {"s", "h", "a", "2", "5", "6"}));
        QTRY_COMPARE(text->textCursor().selectedText(), u"sha256"_qs);
        const int first = text->textCursor().selectionStart();
        QVERIFY(typeKeys(*preview, {"Return"}));
        QTRY_VERIFY(text->textCursor().selectionStart() > first);
        QCOMPARE(text->textCursor().selectedText(), u"sha256"_qs);

        // Two files left out: the report is written again in its place, without them, and says so.
        const QStringList leftOut{"processes.txt", "environment.txt"}; // in the archive's order
        for (const QString& name : leftOut)
            list->topLevelItem(names.indexOf(name))->setCheckState(0, Qt::Unchecked);
        alert.clear();
        preview->findChild<QPushButton*>(u"leaveOutButton"_qs)->click();
        QVERIFY(alert.contains(u"processes.txt\nenvironment.txt"_qs));
        QCOMPARE(QDir(QFileInfo(report).path()).entryList(QDir::Files | QDir::Hidden),
                 {QFileInfo(report).fileName()});
        QCOMPARE(QFileInfo(report).permissions() & 0x7777, QFileDevice::Permissions(0x6600)); // 0600
        QStringList kept = names;
        kept.removeIf([&](const QString& name) { return leftOut.contains(name); });
        QCOMPARE(namesIn(report), kept);
        QCOMPARE(list->topLevelItemCount(), kept.size());
        const QByteArray summary = unzip(report, "summary.txt");
        QVERIFY(summary.endsWith("\nLeft out by the user before sending: processes.txt, environment.txt\n"));
        const QJsonObject manifest = QJsonDocument::fromJson(unzip(report, "manifest.json")).object();
        QCOMPARE(manifest.value("left_out_by_user").toVariant().toStringList(), leftOut);
        QStringList listed;
        for (const QJsonValue& file : manifest.value("files").toArray())
            if ((listed << file["name"].toString()).last() == "summary.txt")
                QCOMPARE(file["sha256"].toString().toLatin1(),
                         QCryptographicHash::hash(summary, QCryptographicHash::Sha256).toHex());
        kept.removeOne("manifest.json");
        QCOMPARE(listed, kept);

        // A damaged report, newer than the good one, is what the preview reads next time.
        QFile damaged(QFileInfo(report).path() + u"/zz damaged.zip"_qs);
        QVERIFY(damaged.open(QIODevice::WriteOnly) &&
                damaged.write(readFile(report).left(QFileInfo(report).size() / 2)) > 0);
        QVERIFY(
            damaged.setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime));
        damaged.close();
        QVERIFY(typeKeys(app.window(), {"ctrl+i"}));
        QTRY_VERIFY(!list->isVisible());
        QVERIFY(
            preview->findChild<QLabel*>(u"messageField"_qs)->text().startsWith(u"The report is damaged"_qs));
        DiagnosticsController::setBundlePathForTesting(std::nullopt);
    }
};

KEYLOFT_TEST_MAIN_ON_PRIVATE_X_SERVER(TestReportPreview)

#include "tst_reportpreview.moc"
