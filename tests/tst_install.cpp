// The installed tool: `cmake --install` of this build into a temporary prefix, its desktop files, the
// installed program making a report, and the Debian package CPack makes.

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kAppId = QStringLiteral("com.vantle.KeyloftTroubleshooting");
const QString kProgram = QStringLiteral("keyloft-troubleshooting");
const QString kBundle = QStringLiteral("lib/keyloft-troubleshooting");

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
    [[nodiscard]] QByteArray both() const { return out + err; }
};

Run run(const QString& program, const QStringList& arguments,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(), int timeoutMs = 240000) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    // Not started or not finished in time (QProcess ends it then): the reason stands as the error output.
    if (!process.waitForFinished(timeoutMs))
        return Run{-1, {}, process.errorString().toUtf8()};
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
               process.readAllStandardOutput(), process.readAllStandardError()};
}

// The [Desktop Entry] group of a desktop file as key → value (localized keys kept with their [xx]).
QMap<QString, QString> desktopEntry(const QString& path) {
    QFile file(path);
    QMap<QString, QString> entry;
    if (!file.open(QIODevice::ReadOnly))
        return entry;
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')))
            entry.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return entry;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString prefix_;

    [[nodiscard]] QString installed(const QString& relative) const { return prefix_ + "/" + relative; }
    [[nodiscard]] QString desktopFile() const {
        return installed("share/applications/" + kAppId + ".desktop");
    }
    [[nodiscard]] QString metainfoFile() const {
        return installed("share/metainfo/" + kAppId + ".metainfo.xml");
    }

    // Runs a validator on an installed file; it must be quiet (desktop-file-validate reports problems on
    // standard output even when it exits 0).
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
        // Installed in one place and moved to another before anything is checked, as a package does
        // (DESTDIR, then unpacked under /): nothing may depend on the folder it was installed to.
        const QString staging = work_.filePath("staging");
        const Run install = run(KEYLOFT_CMAKE_COMMAND, {"--install", KEYLOFT_BUILD_DIR, "--prefix", staging});
        QVERIFY2(install.status == 0, install.both().constData());
        prefix_ = work_.filePath("moved prefix");
        QVERIFY(QDir().rename(staging, prefix_));
    }

    // The bin link is relative, so it still leads into the bundle after the tree moved; the bundle holds
    // the diagnostics script, the redactor it loads beside it, and the password program.
    void theBundleHoldsWhatTheProgramRuns() {
        const QFileInfo link(installed("bin/" + kProgram));
        QVERIFY(link.isSymLink());
        QCOMPARE(link.canonicalFilePath(),
                 QFileInfo(installed(kBundle + "/Contents/bin/" + kProgram)).canonicalFilePath());
        for (const char* file : {"Resources/Scripts/vantletools.rb", "Resources/Scripts/redaction.rb",
                                 "Resources/version", "libexec/keyloft-askpass"})
            QVERIFY2(QFileInfo(installed(kBundle + "/Contents/" + file)).size() > 0, file);
    }

    // In every hicolor size, drawn and not blank: some pixels are opaque and some are clear.
    void iconsInEveryHicolorSize() {
        for (int side : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
            const QString path =
                installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/").arg(side) + kAppId + ".png");
            const QImage icon(path);
            QVERIFY2(icon.size() == QSize(side, side), qPrintable(path));
            QVERIFY(qAlpha(icon.pixel(side / 2, side / 2)) > 0 && qAlpha(icon.pixel(0, 0)) == 0);
        }
    }

    // Exec names the program the bin link provides, Icon the installed theme icon; the window's class
    // (what Qt sets from the program name) ties the window to this entry.
    void theDesktopEntryStartsTheInstalledProgram() {
        const QMap<QString, QString> entry = desktopEntry(desktopFile());
        QCOMPARE(entry.value("Exec").section(QLatin1Char(' '), 0, 0), kProgram);
        QCOMPARE(entry.value("Icon"), kAppId);
        QVERIFY(QFileInfo(installed("share/icons/hicolor/scalable/apps/" + kAppId + ".svg")).size() > 0);
        QCOMPARE(entry.value("StartupWMClass"), kProgram);
        QVERIFY(!entry.value("Name[de]").isEmpty());
        checkValidator({"desktop-file-validate", desktopFile()});
    }

    void theMetainfoDescribesThisRelease() {
        QFile file(metainfoFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        for (const QString& element : {"<id>" + kAppId + "</id>",
                                       "<launchable type=\"desktop-id\">" + kAppId + ".desktop</launchable>",
                                       "<binary>" + kProgram + "</binary>",
                                       QStringLiteral("<release version=\"" KEYLOFT_VERSION "\"")})
            QVERIFY2(text.contains(element.toUtf8()), qPrintable(element));
        checkValidator({"appstreamcli", "validate", "--no-net", metainfoFile()});
    }

    // Run through the bin link by a fresh user (its own HOME, nothing of the caller's XDG folders): the
    // installed script runs from the moved bundle, with the redactor beside it, and leaves its report.
    void theInstalledProgramMakesAReport() {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "DISPLAY"})
            env.remove(name);
        env.insert("HOME", home.path());
        const Run report = run(installed("bin/" + kProgram), {"--report"}, env);
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
        QVERIFY(fields.out.contains("Package: keyloft-troubleshooting\n") &&
                fields.out.contains("Version: " KEYLOFT_VERSION));
        // Depends names each package whole, with or without a version constraint.
        const QString depends = QString::fromUtf8(fields.out).section(u"Depends: "_qs, 1).section('\n', 0, 0);
        for (const char* needed : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "ruby", "sudo", "xdg-utils",
                                   "libuuid1", "libarchive13", "qt6-translations-l10n"})
            QVERIFY2(depends.contains(QRegularExpression(QStringLiteral("(^|, )%1( |,|$)").arg(needed))),
                     qPrintable(needed + (" missing from " + depends)));

        const Run contents = run("dpkg-deb", {"--contents", deb});
        QVERIFY2(contents.status == 0, contents.both().constData());
        const QString listing = QString::fromUtf8(contents.out);
        for (const QString& path : QStringList{
                 "./usr/lib/keyloft-troubleshooting/Contents/Resources/Scripts/vantletools.rb",
                 "./usr/lib/keyloft-troubleshooting/Contents/Resources/Scripts/redaction.rb",
                 "./usr/bin/" + kProgram + " -> ../lib/keyloft-troubleshooting/Contents/bin/" + kProgram,
                 "./usr/share/icons/hicolor/512x512/apps/" + kAppId + ".png"})
            QVERIFY2(listing.contains(" " + path + "\n"), qPrintable(path));
        // Nothing of the build or test tree slips into the package.
        QVERIFY(!listing.contains("tst_") && !listing.contains("CMakeFiles"));

        // Debian's own checker has no error and no warning (among them: the copyright file, the changelog,
        // the manual page and how man reads it, the description's lines).
        if (QStandardPaths::findExecutable("lintian").isEmpty())
            QSKIP("needs lintian to check the package");
        const Run lint = run("lintian", {"--fail-on", "error,warning", deb});
        QVERIFY2(lint.status == 0 && !lint.out.contains("E: ") && !lint.out.contains("W: "),
                 lint.both().constData());
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
