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

    // The child's printed fields, decoded.
    static QMap<QString, QString> windowTextsUnder(const QMap<QString, QString>& locale, QByteArray* errors) {
        QTemporaryDir home;
        QTemporaryDir emptyPath;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            env.remove(name);
        for (auto it = locale.begin(); it != locale.end(); ++it)
            env.insert(it.key(), it.value());
        env.insert("HOME", home.path());
        env.insert("PATH", emptyPath.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--show-window-texts"});
        if (!child.waitForFinished(45000)) {
            child.kill();
            child.waitForFinished();
        }
        *errors = child.readAllStandardError();
        QMap<QString, QString> fields{
            {"exit", QString::number(child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1)}};
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.contains(' '))
                fields.insert(
                    QString::fromLatin1(line.left(line.indexOf(' '))),
                    QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(line.indexOf(' ') + 1))));
        }
        return fields;
    }

private slots:
    void textsFollowTheLocale_data() {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("german");
        QTest::newRow("German, LANG alone") << "de_DE.UTF-8"
                                            << "" << true;
        QTest::newRow("Austrian German") << "de_AT.UTF-8"
                                         << "de_AT" << true;
        QTest::newRow("Turkish") << "tr_TR.UTF-8"
                                 << "tr" << false;
        QTest::newRow("C") << "C"
                           << "" << false;
    }
    void textsFollowTheLocale() {
        QFETCH(QString, lang);
        QFETCH(QString, language);
        QFETCH(bool, german);

        QTranslator translation;
        QVERIFY(translation.load(QStringLiteral(":/i18n/keyloft_de.qm")));
        auto expected = [&](const char* english) {
            if (!german)
                return QString::fromUtf8(english);
            const QString text = translation.translate(kLocalizationContext, english);
            return text.isEmpty() ? QString::fromUtf8(english) : text;
        };
        // The German cases prove something only where the translation differs from the English text.
        QVERIFY(!german || (expected(kFailureTitle) != kFailureTitle && expected(kNoRuby) != kNoRuby));

        QMap<QString, QString> locale{{"LANG", lang}};
        if (!language.isEmpty())
            locale.insert("LANGUAGE", language);
        QByteArray errors;
        const QMap<QString, QString> texts = windowTextsUnder(locale, &errors);
        QVERIFY2(texts.value("exit") == "0", errors.constData());
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
