// `cmake --install` of this build into a prefix that is then moved, and the Debian package CPack makes.

#include "support/ProgramRuns.h"

#include <QImage>
#include <QtTest>

namespace {

const QString kAppId = QStringLiteral("com.vantle.KeyloftTroubleshooting");
const QString kProgram = QStringLiteral("keyloft-troubleshooting");
const QString kBundle = QStringLiteral("lib/keyloft-troubleshooting");

bool hasLine(const QString& text, const QString& pattern) {
    return text.contains(QRegularExpression('^' + pattern + '$', QRegularExpression::MultilineOption));
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString prefix_;

    [[nodiscard]] QString installed(const QString& relative) const { return prefix_ + "/" + relative; }

    // A validator must also be quiet: desktop-file-validate reports problems even when it exits 0.
    static void checkValidator(QStringList command) {
        const QString validator = command.takeFirst();
        if (QStandardPaths::findExecutable(validator).isEmpty())
            QSKIP(qPrintable(validator + " is not installed; the file was not validated"));
        const Run check = run(validator, command);
        QVERIFY2(check.status == 0, check.both().constData());
        if (validator == "desktop-file-validate")
            QVERIFY2(check.out.trimmed().isEmpty(), check.out.constData());
    }

private slots:
    void initTestCase() {
        QVERIFY(work_.isValid());
        // Moved after installing, as a package is (DESTDIR, then /): nothing may depend on the first place.
        const QString staging = work_.filePath("staging");
        const Run install = run(KEYLOFT_CMAKE_COMMAND, {"--install", KEYLOFT_BUILD_DIR, "--prefix", staging});
        QVERIFY2(install.status == 0, install.both().constData());
        prefix_ = work_.filePath("moved prefix");
        QVERIFY(QDir().rename(staging, prefix_));
    }

    // The password program sudo is handed; the report below proves the link, the scripts and the version.
    void theBundleHoldsThePasswordProgram() {
        QVERIFY(QFileInfo(installed(kBundle + "/Contents/libexec/keyloft-askpass")).isExecutable());
    }

    // Drawn, not blank: opaque in the middle, clear in the corner.
    void iconsInEveryHicolorSize() {
        for (int side : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
            const QString path = installed(u"share/icons/hicolor/%1x%1/apps/"_qs.arg(side) + kAppId + ".png");
            const QImage icon(path);
            QVERIFY2(icon.size() == QSize(side, side), qPrintable(path));
            QVERIFY(qAlpha(icon.pixel(side / 2, side / 2)) > 0 && qAlpha(icon.pixel(0, 0)) == 0);
        }
    }

    // The window's class (what Qt sets from the program name) ties the window to this entry.
    void theDesktopEntryStartsTheInstalledProgram() {
        const QString desktopFile = installed("share/applications/" + kAppId + ".desktop");
        const QString id = QRegularExpression::escape(kAppId);
        for (const QString& line : {"Exec=" + kProgram + "( .*)?", "Icon=" + id, "StartupWMClass=" + kProgram,
                                    u"Name\\[de\\]=.+"_qs})
            QVERIFY2(hasLine(QString::fromUtf8(readFile(desktopFile)), line), qPrintable(line));
        QVERIFY(QFileInfo(installed("share/icons/hicolor/scalable/apps/" + kAppId + ".svg")).size() > 0);
        checkValidator({"desktop-file-validate", desktopFile});
    }

    void theMetainfoDescribesThisRelease() {
        const QString metainfoFile = installed("share/metainfo/" + kAppId + ".metainfo.xml");
        const QString text = QString::fromUtf8(readFile(metainfoFile));
        for (const QString& element : {"<id>" + kAppId + "</id>",
                                       "<launchable type=\"desktop-id\">" + kAppId + ".desktop</launchable>",
                                       "<binary>" + kProgram + "</binary>",
                                       QStringLiteral("<release version=\"" KEYLOFT_VERSION "\"")})
            QVERIFY2(text.contains(element), qPrintable(element));
        checkValidator({"appstreamcli", "validate", "--no-net", metainfoFile});
    }

    // A fresh user (own HOME, none of the caller's XDG folders) runs the script from the moved bundle,
    // through the bin link: a relative one, so it still leads into the bundle after the tree moved.
    void theInstalledProgramMakesAReport() {
        QTemporaryDir home;
        const Run report = run(installed("bin/" + kProgram), {"--report"}, freshUserEnvironment(home.path()));
        QVERIFY2(report.status == 0, report.both().constData());
        // The script read the installed bundle: its path and the version file beside it.
        const Run tool = run("unzip", {"-p", QString::fromLocal8Bit(report.out.trimmed()), "tool.txt"});
        QVERIFY2(tool.status == 0, tool.both().constData());
        QVERIFY2(tool.out.contains("Tool version: " KEYLOFT_VERSION), tool.out.constData());
        QVERIFY2(tool.out.contains("moved prefix/" + kBundle.toUtf8()), tool.out.constData());
    }

    void theDebianPackage() {
        if (QStandardPaths::findExecutable("dpkg-deb").isEmpty() ||
            QStandardPaths::findExecutable("dpkg-shlibdeps").isEmpty())
            QSKIP("needs dpkg-deb and dpkg-shlibdeps (dpkg-dev) to build and read a Debian package");
        QTemporaryDir out;
        const Run pack =
            run(KEYLOFT_CPACK_COMMAND,
                {"-G", "DEB", "--config", KEYLOFT_BUILD_DIR "/CPackConfig.cmake", "-B", out.path()});
        QVERIFY2(pack.status == 0, pack.both().constData());
        const QStringList debs = QDir(out.path()).entryList({"*.deb"}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        const QString deb = out.filePath(debs.first());

        const Run fields = run("dpkg-deb", {"-f", deb, "Package", "Version", "Depends"});
        QVERIFY2(fields.status == 0, fields.both().constData());
        const QString control = QString::fromUtf8(fields.out);
        QVERIFY(hasLine(control, "Package: " + kProgram) &&
                hasLine(control, "Version: " KEYLOFT_VERSION ".*"));
        // Depends names each package whole, with or without a version constraint.
        for (const char* needed : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "ruby", "sudo", "xdg-utils",
                                   "libuuid1", "libarchive13", "qt6-translations-l10n"})
            QVERIFY2(hasLine(control, QStringLiteral("Depends: (.*, )?%1( [^,]*)?(, .*)?").arg(needed)),
                     qPrintable(needed + (" missing from " + control)));

        const Run contents = run("dpkg-deb", {"--contents", deb});
        QVERIFY2(contents.status == 0, contents.both().constData());
        const QString listing = QString::fromUtf8(contents.out);
        for (const QString& path : QStringList{
                 "./usr/lib/keyloft-troubleshooting/Contents/Resources/Scripts/vantletools.rb",
                 "./usr/bin/" + kProgram + " -> ../lib/keyloft-troubleshooting/Contents/bin/" + kProgram,
                 "./usr/share/icons/hicolor/512x512/apps/" + kAppId + ".png"})
            QVERIFY2(listing.contains(" " + path + "\n"), qPrintable(path));
        // Nothing of the build or test tree slips into the package.
        QVERIFY(!listing.contains("tst_") && !listing.contains("CMakeFiles"));

        // Debian's own checker covers the copyright file, the changelog and the manual page.
        if (QStandardPaths::findExecutable("lintian").isEmpty())
            QSKIP("needs lintian to check the package");
        const Run lint = run("lintian", {"--fail-on", "error,warning", deb});
        QVERIFY2(lint.status == 0 && !lint.out.contains("E: ") && !lint.out.contains("W: "),
                 lint.both().constData());
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
