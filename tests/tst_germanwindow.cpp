// The tool in German, walked. Every text, tooltip, status tip and accessible name of the real window, its
// menus, the alerts and sheets, the password dialog and the report preview must come out of a translation.
// The walk runs under the German translations (ours and Qt's) with every translated text marked ⟦…⟧:
// whatever is left unmarked once the known data (file names in the report) is taken out is a text that
// escaped translation, and so is an English text quoted inside a German one. A text added later without a
// translation fails here.
//
// The real programs are started under LANG=de_DE.UTF-8 too: the window and the password dialog carry the
// German title (with the test run's X server), the command line's help and errors are German, and the
// language follows LANG and LANGUAGE.

#include "AskpassDialog.h"
#include "DiagnosticsController.h"
#include "FakeMailDesktop.h"
#include "MainInterface.h"
#include "Platform/Localization.h"
#include "ProgressIndicator.h"
#include "RepairActions.h"
#include "VTScriptUtils.h"
#include "ZipArchive.h"
#include "support/TestSupport.h"
#include "ui_MainWindow.h"

#include <QAccessible>
#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMutex>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

namespace {

const QString kOpen = QStringLiteral("⟦");
const QString kClose = QStringLiteral("⟧");
const QString kGermanTitle = QStringLiteral("Keyloft-Fehlerbehebung");

// The German translations, ours and Qt's, with every text they translate marked. Remembers which English
// texts it translated, so that one of them quoted inside a German text can be found.
class MarkingTranslator : public QTranslator {
public:
    bool loadGerman() {
        return ours_.load(QStringLiteral(":/i18n/keyloft_de.qm")) &&
               qt_.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
    QString translate(const char* context, const char* source, const char* disambiguation,
                      int n) const override {
        QString text = ours_.translate(context, source, disambiguation, n);
        if (text.isEmpty())
            text = qt_.translate(context, source, disambiguation, n);
        if (text.isEmpty())
            return text;
        QMutexLocker lock(&mutex_);
        const QString english = QString::fromUtf8(source).remove(QLatin1Char('&'));
        // A phrase of two words or more that reads differently in German: quoted English, if found.
        if (english.contains(QLatin1Char(' ')) && english != QString(text).remove(QLatin1Char('&')))
            translatedPhrases_.insert(english);
        return kOpen + text + kClose;
    }
    bool isEmpty() const override { return false; }
    QSet<QString> translatedPhrases() const {
        QMutexLocker lock(&mutex_);
        return translatedPhrases_;
    }

private:
    QTranslator ours_, qt_;
    mutable QMutex mutex_;
    mutable QSet<QString> translatedPhrases_;
};

MarkingTranslator* marking = nullptr;

// What remains of a shown text once the translated pieces and the data are taken out, when that still
// holds a word; empty when the text is translated throughout.
QString untranslatedRest(QString text, const QStringList& data) {
    // Innermost first: a translated format may carry translated values.
    static const QRegularExpression piece(QStringLiteral("⟦[^⟦⟧]*⟧"));
    for (QString before; before != text;) {
        before = text;
        text.replace(piece, QStringLiteral(" "));
    }
    for (const QString& datum : data)
        text.replace(datum, QStringLiteral(" "));
    static const QRegularExpression word(QStringLiteral("\\p{L}{2,}"));
    return word.match(text).hasMatch() ? text.simplified() : QString();
}

// Collects every text a person can see or hear in windows, and says which escaped translation.
class Walker {
public:
    // File names and other data that are shown as they are.
    QStringList data;

    void walkWindow(QWidget* window, const QString& state) {
        // An untitled window shows the application's name in its title bar.
        add(state + u" title"_qs, window->windowTitle().isEmpty() ? QGuiApplication::applicationDisplayName()
                                                                  : window->windowTitle());
        walkWidget(window, state);
        for (QWidget* child : window->findChildren<QWidget*>())
            walkWidget(child, state);
    }

    // "where: text" for every text that escaped translation; empty when there is none.
    [[nodiscard]] QStringList problems() const {
        QStringList found;
        QStringList sortedData = data;
        std::sort(sortedData.begin(), sortedData.end(),
                  [](const QString& a, const QString& b) { return a.size() > b.size(); });
        const QSet<QString> phrases = marking->translatedPhrases();
        for (const auto& [where, text] : seen_) {
            if (const QString rest = untranslatedRest(text, sortedData); !rest.isEmpty())
                found << where + u": "_qs + rest;
            for (const QString& phrase : phrases)
                if (QString(text).remove(QLatin1Char('&')).contains(phrase))
                    found << where + u": English inside: "_qs + phrase;
        }
        found.removeDuplicates();
        return found;
    }

private:
    void add(const QString& where, const QString& text) {
        if (!text.trimmed().isEmpty())
            seen_.append({where, text});
    }

    void walkWidget(QWidget* widget, const QString& state) {
        const QString where =
            state + QLatin1Char('/') +
            (widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                            : widget->objectName());
        add(where + u" tooltip"_qs, widget->toolTip());
        add(where + u" status tip"_qs, widget->statusTip());
        add(where + u" what's this"_qs, widget->whatsThis());
        if (QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget)) {
            add(where + u" accessible name"_qs, accessible->text(QAccessible::Name));
            add(where + u" accessible description"_qs, accessible->text(QAccessible::Description));
            add(where + u" accessible help"_qs, accessible->text(QAccessible::Help));
        }
        if (auto* label = qobject_cast<QLabel*>(widget))
            add(where, label->text());
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            add(where, button->text());
        if (auto* menu = qobject_cast<QMenu*>(widget))
            add(where, menu->title());
        // What a person types or reads from a file is not walked; the edit menus Qt offers on them are.
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            add(where + u" placeholder"_qs, edit->placeholderText());
            walkMenu(std::unique_ptr<QMenu>(edit->createStandardContextMenu()).get(), where);
        }
        if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
            add(where + u" placeholder"_qs, edit->placeholderText());
            walkMenu(std::unique_ptr<QMenu>(edit->createStandardContextMenu()).get(), where);
        }
        if (auto* view = qobject_cast<QAbstractItemView*>(widget))
            walkModel(view->model(), where);
        for (QAction* action : widget->actions())
            walkAction(action, where);
    }

    void walkMenu(QMenu* menu, const QString& where) {
        add(where + u" menu"_qs, menu->title());
        for (QAction* action : menu->actions())
            walkAction(action, where + u" menu"_qs);
    }

    void walkAction(QAction* action, const QString& where) {
        const QString at = where + u" action "_qs + action->objectName();
        add(at, action->text());
        add(at + u" tooltip"_qs, action->toolTip());
        add(at + u" status tip"_qs, action->statusTip());
        add(at + u" what's this"_qs, action->whatsThis());
        add(at + u" shortcut"_qs, action->shortcut().toString(QKeySequence::NativeText));
        if (QMenu* menu = action->menu())
            walkMenu(menu, at);
    }

    void walkModel(const QAbstractItemModel* model, const QString& where) {
        if (model == nullptr)
            return;
        constexpr int kRoles[] = {Qt::DisplayRole,   Qt::ToolTipRole,        Qt::StatusTipRole,
                                  Qt::WhatsThisRole, Qt::AccessibleTextRole, Qt::AccessibleDescriptionRole};
        for (int column = 0; column < model->columnCount(); ++column) {
            for (const int role : kRoles)
                add(where + u" header"_qs, model->headerData(column, Qt::Horizontal, role).toString());
            for (int row = 0; row < model->rowCount(); ++row)
                for (const int role : kRoles)
                    add(where + u" item"_qs, model->index(row, column).data(role).toString());
        }
    }

    QList<std::pair<QString, QString>> seen_;
};

// Runs trigger and, once a modal dialog is up, inspect on it (which must close it). False when no modal
// dialog came within the time.
bool whileModal(const std::function<void()>& trigger, const std::function<void(QWidget*)>& inspect) {
    bool inspected = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (inspected || modal == nullptr || !modal->isVisible())
            return;
        inspected = true;
        inspect(modal);
    });
    poll.start(20);
    trigger();
    return QTest::qWaitFor([&] { return inspected; }, 60000);
}

QAbstractButton* buttonWithRole(QMessageBox* box, QMessageBox::ButtonRole role) {
    for (QAbstractButton* button : box->buttons())
        if (box->buttonRole(button) == role)
            return button;
    return nullptr;
}

// A user of the real programs: fresh HOME, the language given, nothing of the caller's display.
QProcessEnvironment userEnvironment(const QString& home, const QStringList& language) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                             "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    for (const QString& variable : language)
        env.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    env.insert(QStringLiteral("HOME"), home);
    return env;
}

const char* const kFailureTitle = "Diagnostic script failed.";
const char* const kNoRuby = "A Ruby interpreter is required to perform your request, however Ruby cannot be "
                            "found on this system. Please contact Vantlesoft for assistance.";

void printField(const char* name, const QString& value) {
    std::printf("%s %s\n", name, value.toUtf8().toPercentEncoding().constData());
    std::fflush(stdout);
}

// The child of textsFollowTheLocale: the window as the application builds it under this process's
// locale, Enter pressed on a system without Ruby, the button's and the alert's texts printed.
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
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
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
    void initTestCase() {
        marking = new MarkingTranslator;
        QVERIFY2(marking->loadGerman(), "the German translations (ours and qtbase_de) must be there");
        QCoreApplication::installTranslator(marking);
    }
    void cleanupTestCase() {
        DiagnosticsController::setBundlePathForTesting(std::nullopt);
        setRubyFixedLocationsForTesting({});
    }

    // The walk itself finds what escaped translation, in each place a text can hide, and lets data and
    // translated text pass.
    void theWalkFindsAnUntranslatedText_data() {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        QTest::newRow("label") << "label"
                               << "Generate Report" << true;
        QTest::newRow("tooltip") << "tooltip"
                                 << "Opens the folder" << true;
        QTest::newRow("accessible name") << "accessible name"
                                         << "Report icon" << true;
        QTest::newRow("menu command") << "action"
                                      << "&Quit" << true;
        QTest::newRow("window title") << "title"
                                      << "" << true; // the English application name shows
        QTest::newRow("English inside German")
            << "label" << kOpen + u"Klicken Sie auf „Create New Mail Message...“."_qs + kClose << true;
        QTest::newRow("translated") << "label" << kOpen + u"Bericht erstellen"_qs + kClose << false;
        QTest::newRow("translated format with data")
            << "label" << kOpen + u"Die Datei summary.txt. Eingabetaste …"_qs + kClose << false;
        QTest::newRow("data") << "label"
                              << "summary.txt" << false;
        QTest::newRow("numbers and key names")
            << "label" << kOpen + u"Strg"_qs + kClose + u"+I 3.5"_qs << false;
    }
    void theWalkFindsAnUntranslatedText() {
        QFETCH(QString, place);
        QFETCH(QString, text);
        (void)vt_localized("Create New Mail Message...");
        QWidget window;
        window.setWindowTitle(place == "title" ? text : kOpen + u"Titel"_qs + kClose);
        auto* label = new QLabel(place == "label" ? text : QString(), &window);
        label->setToolTip(place == "tooltip" ? text : QString());
        label->setAccessibleName(place == "accessible name" ? text : kOpen + u"Name"_qs + kClose);
        auto* menu = new QMenu(&window);
        menu->addAction(place == "action" ? text : QString());
        label->addAction(menu->menuAction());
        Walker walker;
        walker.data << QStringLiteral("summary.txt");
        walker.walkWindow(&window, QStringLiteral("test"));
        QTEST(!walker.problems().isEmpty(), "found");
    }

    // The window before, during and after a report, after handing the report to the mail program, and
    // the sheet that says the mail program failed. The real diagnostics script makes the report.
    void everyTextOfTheWindowIsTranslated() {
        FakeMailDesktop desktop;
        DiagnosticsController::setBundlePathForTesting(QStringLiteral(KEYLOFT_BUNDLE_DIR));
        MainInterface interface;
        Ui::MainWindow& ui = interface.ui();
        interface.controller().awakeFromNib();
        interface.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&interface.window()));
        Walker walker;
        walker.walkWindow(&interface.window(), u"before a report"_qs);

        ui.diagnosticsPerformActionButton->click();
        QTRY_VERIFY(ui.indicator->isAnimating() || interface.controller().diagsLoaded());
        if (ui.indicator->isAnimating())
            walker.walkWindow(&interface.window(), u"while the report is made"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(!interface.controller().isGeneratingDiagnostics(), 120000);
        QVERIFY2(interface.controller().diagsLoaded(), "the diagnostics script made no report");
        QTRY_VERIFY(ui.diagnosticsPerformActionButton->isEnabled());
        const std::optional<QUrl> report = DiagnosticsController::generatedReportZipURL();
        QVERIFY(report);
        walker.data << report->fileName();
        walker.walkWindow(&interface.window(), u"after a report"_qs);

        ui.diagnosticsPerformActionButton->click();
        QTRY_VERIFY(desktop.messages().size() == 1);
        walker.walkWindow(&interface.window(), u"mail handed over"_qs);
        desktop.setClient("geary", "geary.desktop");
        ui.diagnosticsPerformActionButton->click();
        QTRY_VERIFY(desktop.messages().size() == 2);
        walker.walkWindow(&interface.window(), u"mail without attachment"_qs);

        desktop.setClient("fakemail");
        desktop.setClientExit(1);
        ui.diagnosticsPerformActionButton->click();
        QMessageBox* sheet = nullptr;
        QTRY_VERIFY((sheet = interface.window().findChild<QMessageBox*>()) != nullptr && sheet->isVisible());
        walker.walkWindow(sheet, u"mail failure sheet"_qs);
        sheet->buttons().constFirst()->click();

        const QStringList problems = walker.problems();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // The preview of a real report: the files, a search that finds nothing, leaving a file out (the
    // question and the result), and the messages for no report and for a file that is no report.
    void everyTextOfThePreviewIsTranslated() {
        QTemporaryDir home;
        const ScopedEnv data("XDG_DATA_HOME", home.path().toUtf8());
        DiagnosticsController::setBundlePathForTesting(QStringLiteral(KEYLOFT_BUNDLE_DIR));
        const DiagnosticsController::ReportOutcome outcome = DiagnosticsController::makeReport(QByteArray());
        QVERIFY2(outcome.reportPath, qPrintable(outcome.failure));
        Walker walker;
        walker.data << QFileInfo(*outcome.reportPath).fileName();
        VTZipArchive::Opened opened = VTZipArchive::open(*outcome.reportPath);
        QVERIFY(std::holds_alternative<VTZipArchive>(opened));
        for (const VTZipMember& member : std::get<VTZipArchive>(opened).members())
            walker.data << member.name;

        MainInterface interface;
        interface.window().show();
        emit interface.controller().reportShown();
        interface.ui().actionShowReportContents->trigger();
        ReportPreviewWindow* preview = interface.reportPreview();
        QVERIFY(preview != nullptr && QTest::qWaitForWindowExposed(preview));
        auto* list = preview->findChild<QTreeWidget*>(u"memberList"_qs);
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            list->setCurrentItem(list->topLevelItem(row));
            walker.walkWindow(preview, u"preview, file "_qs + QString::number(row));
        }
        QTest::keyClicks(preview->findChild<QLineEdit*>(u"findField"_qs), u"no such text anywhere"_qs);
        walker.walkWindow(preview, u"preview, nothing found"_qs);

        QTreeWidgetItem* optional = nullptr;
        for (int row = 0; row < list->topLevelItemCount() && optional == nullptr; ++row)
            if (list->topLevelItem(row)->data(0, Qt::CheckStateRole).isValid())
                optional = list->topLevelItem(row);
        QVERIFY(optional != nullptr);
        optional->setCheckState(0, Qt::Unchecked);
        QVERIFY(whileModal(
            [&] { preview->findChild<QPushButton*>(u"leaveOutButton"_qs)->click(); },
            [&](QWidget* question) {
                walker.walkWindow(question, u"leave-out question"_qs);
                buttonWithRole(qobject_cast<QMessageBox*>(question), QMessageBox::AcceptRole)->click();
            }));
        walker.walkWindow(preview, u"preview, file left out"_qs);

        preview->showReport(std::nullopt);
        walker.walkWindow(preview, u"preview, no report"_qs);
        QTemporaryFile notZip;
        QVERIFY(notZip.open() && notZip.write("not a zip archive") > 0);
        notZip.close();
        walker.data << QFileInfo(notZip.fileName()).fileName();
        preview->showReport(notZip.fileName());
        walker.walkWindow(preview, u"preview, no zip archive"_qs);

        const QStringList problems = walker.problems();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // The alert of a report run on a system without Ruby, the password dialog with a repair's prompt,
    // a repair's success alert and the alert for a user the system does not know.
    void everyTextOfTheAlertsAndThePasswordDialogIsTranslated() {
        Walker walker;
        {
            QTemporaryDir home, emptyPath;
            const ScopedEnv data("XDG_DATA_HOME", home.path().toUtf8());
            const ScopedEnv path("PATH", emptyPath.path().toUtf8());
            setRubyFixedLocationsForTesting({QStringLiteral("/nonexistent/bin/ruby")});
            MainInterface interface;
            interface.controller().awakeFromNib();
            interface.window().show();
            QVERIFY(whileModal([&] { interface.ui().diagnosticsPerformActionButton->click(); },
                               [&](QWidget* alert) {
                                   walker.walkWindow(alert, u"report failure alert"_qs);
                                   qobject_cast<QDialog*>(alert)->accept();
                               }));
            QTRY_VERIFY(!interface.controller().isGeneratingDiagnostics());
            setRubyFixedLocationsForTesting({});
        }

        const RepairServices standard = RepairServices::standard();
        const auto walkAlert = [&](const QString& state) {
            return [&walker, state](const QString& title, const QString& message) {
                QVERIFY(whileModal([&] { RepairServices::standard().showAlert(title, message); },
                                   [&](QWidget* alert) {
                                       walker.walkWindow(alert, state);
                                       qobject_cast<QDialog*>(alert)->accept();
                                   }));
            };
        };
        // The person at the password dialog is the only stand-in: the dialog is the real one.
        RepairActions(RepairServices{[&](const QString& prompt, const QString&) {
                                         AskpassDialog dialog(prompt);
                                         dialog.show();
                                         walker.walkWindow(&dialog, u"password dialog"_qs);
                                         return true;
                                     },
                                     walkAlert(u"repair alert"_qs), standard.currentAccount})
            .resetLaunchServicesDb();
        RepairActions(RepairServices{standard.runShellWithAuthorization, walkAlert(u"unknown user alert"_qs),
                                     [] { return std::optional<UserAccount>(); }})
            .repairExtendedAttributes();

        const QStringList problems = walker.problems();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // The command line under German: each line of the help and of the errors that holds words reads
    // differently from the English one (the option names and the argument given aside).
    void theCommandLineSpeaksGerman_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("help") << QStringList{"--help"};
        QTest::newRow("unknown option") << QStringList{"--no-such-option"};
        QTest::newRow("stray argument") << QStringList{"no-such-argument"};
    }
    void theCommandLineSpeaksGerman() {
        QFETCH(QStringList, arguments);
        QTemporaryDir home;
        const auto lines = [&](const char* lang) {
            QProcess tool;
            tool.setProcessEnvironment(userEnvironment(home.path(), {QString::fromLatin1(lang)}));
            tool.start(QStringLiteral(KEYLOFT_APP_EXECUTABLE), arguments);
            tool.waitForFinished(60000);
            QStringList words;
            static const QRegularExpression optionOrArgument(
                QStringLiteral("(^|\\s)-\\S+|no-such-\\S+|\\S+/"));
            for (const QString& line :
                 QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError())
                     .split(QLatin1Char('\n')))
                words << QString(line).replace(optionOrArgument, QString()).simplified();
            return words;
        };
        const QStringList english = lines("LANG=C.UTF-8");
        const QStringList german = lines("LANG=de_DE.UTF-8");
        QVERIFY(english.size() > 1);
        QCOMPARE(german.size(), english.size());
        static const QRegularExpression word(QStringLiteral("\\p{L}{2,}"));
        for (qsizetype i = 0; i < german.size(); ++i)
            QVERIFY2(!german[i].contains(word) || german[i] != english[i], qPrintable(german[i]));
    }

    // The real window and password program under LANG=de_DE.UTF-8 show the German title: both load
    // the translations at start. Needs the test run's X server.
    void theRealProgramsStartInGerman_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("window") << QStringLiteral(KEYLOFT_APP_EXECUTABLE) << QStringList{};
        QTest::newRow("password dialog")
            << QStringLiteral(KEYLOFT_BUNDLE_DIR "/Contents/libexec/keyloft-askpass")
            << QStringList{u"Bitte geben Sie Ihr Passwort ein."_qs};
    }
    void theRealProgramsStartInGerman() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        const QString display = qEnvironmentVariable("KEYLOFT_TEST_DISPLAY");
        if (display.isEmpty() || QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty())
            QSKIP("needs the test run's X server (KEYLOFT_TEST_DISPLAY) and xdotool");
        QTemporaryDir home;
        QProcessEnvironment env = userEnvironment(home.path(), {u"LANG=de_DE.UTF-8"_qs});
        env.insert(u"DISPLAY"_qs, display);
        env.insert(u"QT_QPA_PLATFORM"_qs, u"xcb"_qs);
        QProcess tool;
        tool.setProcessEnvironment(env);
        tool.start(program, arguments);
        QVERIFY(tool.waitForStarted());
        // The window found is this process's own: xdotool matches the title and the pid.
        const auto germanWindow = [&] {
            QProcess search;
            search.setProcessEnvironment(env);
            search.start(u"xdotool"_qs,
                         {u"search"_qs, u"--all"_qs, u"--onlyvisible"_qs, u"--pid"_qs,
                          QString::number(tool.processId()), u"--name"_qs, u"^"_qs + kGermanTitle + u"$"_qs});
            search.waitForFinished();
            return !search.readAllStandardOutput().trimmed().isEmpty();
        };
        const bool found = QTest::qWaitFor(germanWindow, 30000);
        tool.kill();
        tool.waitForFinished();
        QVERIFY2(found, qPrintable(program));
    }

    // The language comes from LANG and LANGUAGE as the application reads them: German for German and
    // Austrian German, English for a language without a translation and for C.
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
        const auto expected = [&](const char* context, const char* english) {
            return german ? translation.translate(context, english) : QString::fromUtf8(english);
        };
        QTemporaryDir home, emptyPath;
        QProcessEnvironment env = userEnvironment(home.path(), locale);
        env.insert(u"PATH"_qs, emptyPath.path());
        env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
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
        QCOMPARE(texts.value("button"), expected("MainWindow", "Generate Report"));
        QCOMPARE(texts.value("title"), expected(kLocalizationContext, kFailureTitle));
        QCOMPARE(texts.value("message"), expected(kLocalizationContext, kNoRuby));
    }
};

int main(int argc, char* argv[]) {
    if (argc > 1 && qstrcmp(argv[1], "--show-window-texts") == 0)
        return showWindowTexts(argc, argv);
    QApplication app(argc, argv);
    TestGermanWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_germanwindow.moc"
