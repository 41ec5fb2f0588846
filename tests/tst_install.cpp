// The installed tool: `cmake --install` of this build into a temporary prefix, the layout desktops and
// distributions expect, the validators of the desktop entry and the AppStream metainfo, the installed
// application starting and finding its diagnostics script, and the Debian package CPack makes.

#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <csignal>

namespace {

const QString kAppId = QStringLiteral("com.vantle.KeyloftTroubleshooting");
const QString kProgram = QStringLiteral("keyloft-troubleshooting");
const QString kBundle = QStringLiteral("lib/keyloft-troubleshooting");
const QList<int> kIconSizes{16, 22, 24, 32, 48, 64, 128, 256, 512};

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
    Run result;
    if (!process.waitForStarted(10000)) {
        result.err = process.errorString().toUtf8();
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = "timed out";
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
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

// Text of the first elements with the given names (and the attribute "type" of launchable).
QMap<QString, QString> metainfoFields(const QString& path) {
    QFile file(path);
    QMap<QString, QString> fields;
    if (!file.open(QIODevice::ReadOnly))
        return fields;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QString name = xml.name().toString();
        if (name == QLatin1String("release") && !fields.contains(name))
            fields.insert(name, xml.attributes().value(QLatin1String("version")).toString());
        else if (name == QLatin1String("launchable")) {
            const QString key =
                name + QLatin1Char(':') + xml.attributes().value(QLatin1String("type")).toString();
            fields.insert(key, xml.readElementText());
        } else if ((name == QLatin1String("id") || name == QLatin1String("binary")) && !fields.contains(name))
            fields.insert(name, xml.readElementText());
    }
    return xml.hasError() ? QMap<QString, QString>{{"error", xml.errorString()}} : fields;
}

// The environment of a fresh desktop user: its own HOME and nothing of the caller's XDG folders.
QProcessEnvironment userEnvironment(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        env.remove(name);
    return env;
}

// Ends a started application the way the desktop does and answers its exit status and error output.
Run endApplication(QProcess& app) {
    Run result;
    // A signal before the handler is in place would end it the hard way.
    if (!QTest::qWaitFor([&] { return catchesSignal(app.processId(), SIGTERM); }, 20000))
        result.err = "never handled SIGTERM; ";
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    if (!app.waitForFinished(20000)) {
        app.kill();
        app.waitForFinished();
        result.err = "did not end on SIGTERM";
        return result;
    }
    result.err += app.readAllStandardError();
    result.status = app.exitStatus() == QProcess::NormalExit ? app.exitCode() : -1;
    return result;
}

bool sanitizerClean(const QByteArray& errors) {
    return !errors.contains("ERROR: AddressSanitizer") && !errors.contains("runtime error");
}

// The newest non-hidden file in a folder, or an empty text.
QString newestFile(const QString& folder) {
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Time);
    return files.isEmpty() ? QString() : files.first().filePath();
}

// A private X server for one test, started on a free display; stopped when destroyed.
class PrivateXServer {
public:
    PrivateXServer() {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty())
            return;
        server_.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        if (!server_.waitForStarted(10000))
            return;
        if (!QTest::qWaitFor([&] { return server_.canReadLine(); }, 20000))
            return;
        const QByteArray number = server_.readLine().trimmed();
        if (!number.isEmpty())
            display_ = ":" + QString::fromLatin1(number);
    }
    ~PrivateXServer() {
        if (server_.state() != QProcess::NotRunning) {
            server_.terminate();
            if (!server_.waitForFinished(5000))
                server_.kill();
        }
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;
    [[nodiscard]] const QString& display() const { return display_; }

private:
    QProcess server_;
    QString display_;
};

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir work_;
    QString prefix_;
    Run install_;

    [[nodiscard]] QString installed(const QString& relative) const { return prefix_ + "/" + relative; }
    [[nodiscard]] QString desktopFile() const {
        return installed("share/applications/" + kAppId + ".desktop");
    }
    [[nodiscard]] QString metainfoFile() const {
        return installed("share/metainfo/" + kAppId + ".metainfo.xml");
    }
    [[nodiscard]] QString reportFolder(const QString& home) const {
        return home + "/.local/share/Keyloft 4/Diagnostics";
    }

private slots:
    void initTestCase() {
        QVERIFY(work_.isValid());
        // Installed in one place and moved to another before anything is checked, as a package does
        // (DESTDIR, then unpacked under /): nothing may depend on the folder it was installed to.
        const QString staging = work_.filePath("staging");
        install_ = run(KEYLOFT_CMAKE_COMMAND, {"--install", KEYLOFT_BUILD_DIR, "--prefix", staging});
        QVERIFY2(install_.status == 0, install_.both().constData());
        prefix_ = work_.filePath("moved prefix");
        QVERIFY(QDir().rename(staging, prefix_));
    }

    void layout_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        QTest::newRow("program") << kBundle + "/Contents/bin/" + kProgram << true;
        QTest::newRow("diagnostics script")
            << kBundle + "/Contents/Resources/Scripts/vantletools.rb" << false;
        QTest::newRow("version") << kBundle + "/Contents/Resources/version" << false;
        QTest::newRow("desktop entry") << "share/applications/" + kAppId + ".desktop" << false;
        QTest::newRow("metainfo") << "share/metainfo/" + kAppId + ".metainfo.xml" << false;
        QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/" + kAppId + ".svg" << false;
    }
    void layout() {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        const QFileInfo file(installed(path));
        QVERIFY2(file.isFile() && file.size() > 0, qPrintable(path));
        QCOMPARE(file.isExecutable(), executable);
    }

    void theBinLinkLeadsIntoTheBundle() {
        const QFileInfo link(installed("bin/" + kProgram));
        QVERIFY(link.isSymLink());
        // Relative, so it still leads into the bundle after the tree moved.
        QVERIFY2(QDir::isRelativePath(QFile::symLinkTarget(link.filePath())) ||
                     QFile::symLinkTarget(link.filePath()).startsWith(prefix_),
                 qPrintable(QFile::symLinkTarget(link.filePath())));
        QCOMPARE(link.canonicalFilePath(),
                 QFileInfo(installed(kBundle + "/Contents/bin/" + kProgram)).canonicalFilePath());
    }

    void theBundleCarriesTheVersion() {
        QFile version(installed(kBundle + "/Contents/Resources/version"));
        QVERIFY(version.open(QIODevice::ReadOnly));
        QCOMPARE(version.readAll().trimmed(), QByteArray(KEYLOFT_VERSION));
    }

    void iconsInEveryHicolorSize_data() {
        QTest::addColumn<int>("side");
        for (int side : kIconSizes)
            QTest::addRow("%dx%d", side, side) << side;
    }
    void iconsInEveryHicolorSize() {
        QFETCH(int, side);
        const QString path =
            installed(QStringLiteral("share/icons/hicolor/%1x%1/apps/").arg(side) + kAppId + ".png");
        const QImage icon(path);
        QVERIFY2(!icon.isNull(), qPrintable(path));
        QCOMPARE(icon.size(), QSize(side, side));
        QVERIFY(icon.hasAlphaChannel());
        // Drawn, not blank: some pixels are opaque and some are clear.
        QVERIFY(qAlpha(icon.pixel(side / 2, side / 2)) > 0);
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
    }

    void theDesktopEntryStartsTheInstalledProgram() {
        const QMap<QString, QString> entry = desktopEntry(desktopFile());
        QCOMPARE(entry.value("Type"), u"Application"_qs);
        // Exec names the program the bin link provides; Icon names the installed theme icon.
        QCOMPARE(entry.value("Exec").section(QLatin1Char(' '), 0, 0), kProgram);
        QVERIFY(QFileInfo::exists(installed("bin/" + entry.value("Exec").section(QLatin1Char(' '), 0, 0))));
        QCOMPARE(entry.value("Icon"), kAppId);
        // The window's class (what Qt sets from the program name) ties the window to this entry.
        QCOMPARE(entry.value("StartupWMClass"), kProgram);
        QVERIFY(!entry.value("Name[de]").isEmpty());
    }

    void theMetainfoDescribesThisRelease() {
        const QMap<QString, QString> fields = metainfoFields(metainfoFile());
        QVERIFY2(!fields.contains("error"), qPrintable(fields.value("error")));
        QCOMPARE(fields.value("id"), kAppId);
        QCOMPARE(fields.value("launchable:desktop-id"), kAppId + ".desktop");
        QCOMPARE(fields.value("binary"), kProgram);
        QCOMPARE(fields.value("release"), QString::fromLatin1(KEYLOFT_VERSION));
    }

    void validators_data() {
        QTest::addColumn<QString>("validator");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("file");
        QTest::newRow("desktop-file-validate") << "desktop-file-validate" << QStringList{} << desktopFile();
        QTest::newRow("appstreamcli")
            << "appstreamcli" << QStringList{"validate", "--no-net"} << metainfoFile();
    }
    void validators() {
        QFETCH(QString, validator);
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        if (QStandardPaths::findExecutable(validator).isEmpty())
            QSKIP(qPrintable(validator + " is not installed; the file was not validated"));
        const Run check = run(validator, arguments << file);
        QVERIFY2(check.status == 0, check.both().constData());
        // desktop-file-validate reports problems on standard output even when it exits 0.
        if (validator == "desktop-file-validate")
            QVERIFY2(check.out.trimmed().isEmpty(), check.out.constData());
    }

    // Through the bin link, as the desktop entry starts it: the program comes up and ends cleanly.
    void theInstalledApplicationStarts() {
        QTemporaryDir home;
        QProcessEnvironment env = userEnvironment(home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(installed("bin/" + kProgram), {});
        QVERIFY(app.waitForStarted(10000));
        const Run end = endApplication(app);
        QVERIFY2(end.status == 0, end.err.constData());
        QVERIFY2(sanitizerClean(end.err), end.err.constData());
    }

    // A person presses Enter in the installed tool's window on an X server: the installed diagnostics
    // script runs from the installed bundle and leaves its report in the user's report folder.
    void thePressedInstalledApplicationRunsItsScript() {
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("needs xdotool to press a key in the window");
        PrivateXServer x;
        if (x.display().isEmpty())
            QSKIP("needs Xvfb for a private X server");
        QTemporaryDir home;
        QProcessEnvironment env = userEnvironment(home.path());
        env.insert("DISPLAY", x.display());
        env.insert("QT_QPA_PLATFORM", "xcb");
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(installed("bin/" + kProgram), {});
        QVERIFY(app.waitForStarted(10000));

        const Run window =
            run("xdotool", {"search", "--sync", "--onlyvisible", "--pid", QString::number(app.processId())},
                env, 30000);
        const QString id = QString::fromLatin1(window.out.split('\n').value(0).trimmed());
        QVERIFY2(window.status == 0 && !id.isEmpty(), window.both().constData());
        // The desktop ties the window to the menu entry through its class.
        const QString wmClass = desktopEntry(desktopFile()).value("StartupWMClass");
        const Run properties = run("xprop", {"-id", id, "WM_CLASS"}, env, 30000);
        QVERIFY2(properties.status == 0, properties.both().constData());
        QVERIFY2(properties.out.contains("\"" + wmClass.toUtf8() + "\""), properties.out.constData());

        const Run focus = run("xdotool", {"windowfocus", "--sync", id, "key", "Return"}, env, 30000);
        QVERIFY2(focus.status == 0, focus.both().constData());

        QString report;
        QTRY_VERIFY_WITH_TIMEOUT(!(report = newestFile(reportFolder(home.path()))).isEmpty(), 120000);
        QVERIFY(report.endsWith(".zip"));
        // The script read the installed bundle: its path and the version file beside it.
        const Run tool = run("unzip", {"-p", report, "tool.txt"});
        QVERIFY2(tool.status == 0, tool.both().constData());
        QVERIFY2(tool.out.contains("Tool version: " KEYLOFT_VERSION), tool.out.constData());
        QVERIFY2(tool.out.contains("moved prefix/" + kBundle.toUtf8()), tool.out.constData());

        const Run end = endApplication(app);
        QVERIFY2(end.status == 0, end.err.constData());
        QVERIFY2(sanitizerClean(end.err), end.err.constData());
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
        QVERIFY(fields.out.contains("Package: keyloft-troubleshooting\n"));
        QVERIFY(fields.out.contains("Version: " KEYLOFT_VERSION));
        // Depends as package names, without version constraints.
        QSet<QString> depends;
        const QString dependsLine = QString::fromUtf8(fields.out)
                                        .section(QStringLiteral("Depends: "), 1)
                                        .section(QLatin1Char('\n'), 0, 0);
        for (const QString& item : dependsLine.split(QLatin1Char(','), Qt::SkipEmptyParts))
            depends.insert(item.trimmed().section(QLatin1Char(' '), 0, 0));
        for (const char* needed :
             {"libqt6core6", "libqt6gui6", "libqt6widgets6", "ruby", "sudo", "xdg-utils", "libuuid1"})
            QVERIFY2(depends.contains(needed), qPrintable(needed + (" missing from " + dependsLine)));

        const Run contents = run("dpkg-deb", {"--contents", deb});
        QVERIFY2(contents.status == 0, contents.both().constData());
        const QString listing = QString::fromUtf8(contents.out);
        QStringList expected{"./usr/lib/keyloft-troubleshooting/Contents/bin/" + kProgram,
                             "./usr/lib/keyloft-troubleshooting/Contents/Resources/Scripts/vantletools.rb",
                             "./usr/lib/keyloft-troubleshooting/Contents/Resources/version",
                             "./usr/bin/" + kProgram + " -> ../lib/keyloft-troubleshooting/Contents/bin/" +
                                 kProgram,
                             "./usr/share/applications/" + kAppId + ".desktop",
                             "./usr/share/metainfo/" + kAppId + ".metainfo.xml",
                             "./usr/share/icons/hicolor/scalable/apps/" + kAppId + ".svg"};
        for (int side : kIconSizes)
            expected << QStringLiteral("./usr/share/icons/hicolor/%1x%1/apps/").arg(side) + kAppId + ".png";
        for (const QString& path : expected)
            QVERIFY2(listing.contains(" " + path + "\n"), qPrintable(path));
        // Nothing of the build or test tree slips into the package.
        QVERIFY(!listing.contains("tst_"));
        QVERIFY(!listing.contains("CMakeFiles"));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "support/TestSupport.h"
#include "tst_install.moc"
