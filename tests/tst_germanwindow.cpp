// Under a German locale the texts that go through the localization lookup are German, elsewhere English.
// The locale is read once per process, so each case runs this program again (--show-window-texts) under
// its LANG and LANGUAGE: the child builds the window, presses Enter and prints the alert that a system
// without Ruby ends with.

#include "MainInterface.h"
#include "Platform/Localization.h"
#include "VTScriptUtils.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

namespace {

const char* const kFailureTitle = "Diagnostic script failed.";
const char* const kNoRuby = "A Ruby interpreter is required to perform your request, however Ruby cannot be "
                            "found on this system. Please contact Vantlesoft for assistance.";

void printField(const char* name, const QString& value) {
    std::printf("%s %s\n", name, value.toUtf8().toPercentEncoding().constData());
    std::fflush(stdout);
}

// The child: the window as the application builds it, Enter pressed, the alert's texts printed.
int showWindowTexts(int argc, char* argv[]) {
    QApplication app(argc, argv);
    vt_installTranslations(app);
    setRubyFixedLocationsForTesting({QStringLiteral("/nonexistent/bin/ruby")});
    MainInterface interface;
    interface.controller().awakeFromNib();
    interface.window().show();
    if (!QTest::qWaitForWindowExposed(&interface.window()))
        return 3;
    printField("button", interface.ui().diagnosticsPerformActionButton->text());
    QTest::keyClick(&interface.window(), Qt::Key_Return);

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible())
                continue;
            printField("title", box->text());
            printField("message", box->informativeText());
            box->accept();
        }
    });
    poll.start(50);
    QTimer::singleShot(30000, &app, [] { QCoreApplication::exit(2); });
    // The failed run closes the window, which ends the application.
    return QApplication::exec();
}

} // namespace

class TestGermanWindow : public QObject {
    Q_OBJECT

private slots:
    void textsFollowTheLocale_data() {
        QTest::addColumn<QStringList>("locale");
        QTest::addColumn<bool>("german");
        QTest::newRow("German, LANG alone") << QStringList{"LANG=de_DE.UTF-8"} << true;
        QTest::newRow("Austrian German") << QStringList{"LANG=de_AT.UTF-8", "LANGUAGE=de_AT"} << true;
        QTest::newRow("Turkish") << QStringList{"LANG=tr_TR.UTF-8", "LANGUAGE=tr"} << false;
        QTest::newRow("C") << QStringList{"LANG=C"} << false;
    }
    void textsFollowTheLocale() {
        QFETCH(QStringList, locale);
        QFETCH(bool, german);
        QTranslator translation;
        QVERIFY(translation.load(QStringLiteral(":/i18n/keyloft_de.qm")));
        auto expected = [&](const char* english) {
            return german ? translation.translate(kLocalizationContext, english) : QString::fromUtf8(english);
        };
        // The German cases prove something only where the translation differs from the English text.
        QVERIFY(!german || (expected(kFailureTitle) != kFailureTitle && expected(kNoRuby) != kNoRuby));

        QTemporaryDir home, emptyPath;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.remove(name);
        for (const QString& variable : locale)
            env.insert(variable.section('=', 0, 0), variable.section('=', 1));
        env.insert("HOME", home.path());
        env.insert("PATH", emptyPath.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--show-window-texts"});
        // A child still running when this fails is ended by QProcess.
        QVERIFY2(child.waitForFinished(45000) && child.exitStatus() == QProcess::NormalExit &&
                     child.exitCode() == 0,
                 child.readAllStandardError().constData());
        QMap<QString, QString> texts;
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            const qsizetype space = line.indexOf(' ');
            if (space > 0)
                texts.insert(QString::fromLatin1(line.left(space)),
                             QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(space + 1))));
        }
        QCOMPARE(texts.value("title"), expected(kFailureTitle));
        QCOMPARE(texts.value("message"), expected(kNoRuby));
        // Texts outside the lookup stay as they are in every language.
        QCOMPARE(texts.value("button"), u"Generate Report"_qs);
    }
};

int main(int argc, char* argv[]) {
    if (argc > 1 && qstrcmp(argv[1], "--show-window-texts") == 0)
        return showWindowTexts(argc, argv);
    QCoreApplication app(argc, argv);
    TestGermanWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_germanwindow.moc"
