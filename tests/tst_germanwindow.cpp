// The tool in German, walked: every text, tooltip and accessible name of the real window, its menus, alerts,
// sheets, password dialog and report preview comes from a translation, marked ⟦…⟧ here. Whatever is left
// unmarked but data (file names) escaped translation, as does an English phrase inside a German text.

#include "AskpassDialog.h"
#include "FakeMailDesktop.h"
#include "MainInterface.h"
#include "ProgressIndicator.h"
#include "RepairActions.h"
#include "VTScriptUtils.h"
#include "support/ProgramRuns.h"
#include "ui_MainWindow.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// Ours and Qt's German, marking every text translated; remembers the English phrases, to find them quoted.
class MarkingTranslator : public QTranslator {
public:
    bool loadGerman() {
        return ours_.load(u":/i18n/keyloft_de.qm"_qs) &&
               qt_.load(u"qtbase_de"_qs, QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    }
    QString translate(const char* context, const char* source, const char* disambiguation,
                      int n) const override {
        QString text = ours_.translate(context, source, disambiguation, n);
        if (text.isEmpty() && (text = qt_.translate(context, source, disambiguation, n)).isEmpty())
            return text;
        const QString english = QString::fromUtf8(source).remove(u'&');
        if (english.contains(u' ') && english != QString(text).remove(u'&')) {
            QMutexLocker lock(&mutex_);
            phrases_.insert(english);
        }
        return u"⟦"_qs + text + u"⟧"_qs;
    }
    bool isEmpty() const override { return false; }
    QSet<QString> phrases() const {
        QMutexLocker lock(&mutex_);
        return phrases_;
    }

private:
    QTranslator ours_, qt_;
    mutable QMutex mutex_;
    mutable QSet<QString> phrases_;
};

MarkingTranslator* marking = nullptr;

// Collects every text a person can see or hear in windows, and says which escaped translation.
class Walker {
public:
    QStringList data; // file names and the like, shown as they are

    void walkWindow(QWidget* window, const QString& state) {
        // An untitled window shows the application's name in its title bar.
        add(state + u" title"_qs, window->windowTitle().isEmpty() ? QGuiApplication::applicationDisplayName()
                                                                  : window->windowTitle());
        for (QWidget* widget : window->findChildren<QWidget*>() + QList<QWidget*>{window})
            walkWidget(widget,
                       state + u'/' + widget->objectName() + u' ' + widget->metaObject()->className());
    }

    // "where: what" for every text that escaped translation.
    [[nodiscard]] QStringList problems() const {
        static const QRegularExpression piece(u"⟦[^⟦⟧]*⟧"_qs), word(u"\\p{L}{2,}"_qs);
        QStringList found;
        for (const auto& [where, text] : seen_) {
            QString shown = text;
            for (const QString& datum : data)
                shown.replace(datum, u" "_qs);
            QString rest = shown;
            // Innermost first: a translated format may carry translated values.
            for (QString before; before != rest;)
                before = std::exchange(rest, QString(rest).replace(piece, u" "_qs));
            if (rest.contains(word))
                found << where + u": "_qs + rest.simplified();
            for (const QString& phrase : marking->phrases())
                if (shown.remove(u'&').contains(phrase))
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

    void walkWidget(QWidget* widget, const QString& where) {
        add(where + u" tips"_qs, widget->toolTip() + widget->statusTip() + widget->whatsThis());
        if (QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget))
            for (const QAccessible::Text kind :
                 {QAccessible::Name, QAccessible::Description, QAccessible::Help})
                add(where + u" accessible"_qs, accessible->text(kind));
        if (!qobject_cast<QLineEdit*>(widget)) // labels, buttons, menus; not what a person types
            add(where, widget->property("text").toString() + u' ' + widget->property("title").toString());
        // What a person types or reads from a file is not walked; the edit menus Qt offers on it are.
        std::unique_ptr<QMenu> editMenu;
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            editMenu.reset(edit->createStandardContextMenu());
        if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
            editMenu.reset(edit->createStandardContextMenu());
        if (auto* view = qobject_cast<QAbstractItemView*>(widget))
            walkModel(*view->model(), where);
        for (QAction* action : widget->actions() + (editMenu ? editMenu->actions() : QList<QAction*>{}))
            walkAction(action, where);
    }

    void walkAction(QAction* action, const QString& where) {
        const QString at = where + u" action "_qs + action->objectName();
        add(at, action->text() + u' ' + action->toolTip() + action->statusTip() + action->whatsThis());
        add(at + u" shortcut"_qs, action->shortcut().toString(QKeySequence::NativeText));
        if (QMenu* menu = action->menu()) {
            add(at, menu->title());
            for (QAction* entry : menu->actions())
                walkAction(entry, at);
        }
    }

    void walkModel(const QAbstractItemModel& model, const QString& where) {
        for (int column = 0; column < model.columnCount(); ++column)
            for (const int role : {Qt::DisplayRole, Qt::ToolTipRole, Qt::AccessibleTextRole}) {
                add(where + u" header"_qs, model.headerData(column, Qt::Horizontal, role).toString());
                for (int row = 0; row < model.rowCount(); ++row)
                    add(where + u" item"_qs, model.index(row, column).data(role).toString());
            }
    }

    QList<std::pair<QString, QString>> seen_;
};

// Walks the modal dialog trigger brings up and agrees to it as a person would; false when none came.
bool walkModal(Walker& walker, const std::function<void()>& trigger, const QString& state) {
    bool walked = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (walked || modal == nullptr || !modal->isVisible())
            return;
        walked = true;
        walker.walkWindow(modal, state);
        auto* box = qobject_cast<QMessageBox*>(modal);
        for (QAbstractButton* button : box != nullptr ? box->buttons() : QList<QAbstractButton*>{})
            if (box->buttonRole(button) == QMessageBox::AcceptRole)
                return button->click();
        modal->accept();
    });
    poll.start(20);
    trigger();
    return QTest::qWaitFor([&] { return walked; }, 60000);
}

} // namespace

class TestGermanWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<PrivateXServer> xServer_; // for the real programs, started with the first

private slots:
    void initTestCase() {
        marking = new MarkingTranslator;
        QVERIFY2(marking->loadGerman(), "the German translations (ours and qtbase_de) must be there");
        QCoreApplication::installTranslator(marking);
        DiagnosticsController::setBundlePathForTesting(QStringLiteral(KEYLOFT_BUNDLE_DIR));
    }
    void cleanupTestCase() { xServer_.reset(); }

    // Every state a person meets, each named where it is walked: a real report, the mail, the preview, the
    // alerts and the repairs' password dialog.
    void everyTextIsTranslated() {
        FakeMailDesktop desktop;
        MainInterface interface;
        Ui::MainWindow& ui = interface.ui();
        interface.controller().awakeFromNib();
        interface.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&interface.window()));
        Walker walker;
        const auto click = [&] { ui.diagnosticsPerformActionButton->click(); };
        walker.walkWindow(&interface.window(), u"before a report"_qs);
        click();
        QTRY_VERIFY(ui.indicator->isAnimating() || interface.controller().diagsLoaded());
        walker.walkWindow(&interface.window(), u"while the report is made"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(ui.diagnosticsPerformActionButton->isEnabled(), 120000);
        const std::optional<QUrl> report = DiagnosticsController::generatedReportZipURL();
        QVERIFY2(report, "the diagnostics script made no report");
        walker.data << report->fileName();
        walker.walkWindow(&interface.window(), u"after a report"_qs);
        click();
        walker.walkWindow(&interface.window(), u"mail handed over"_qs);
        desktop.setClient("geary", "geary.desktop");
        click();
        walker.walkWindow(&interface.window(), u"mail without attachment"_qs);
        QCOMPARE(desktop.messages().size(), 2);

        desktop.setClient("fakemail");
        desktop.setClientExit(1);
        QVERIFY(walkModal(walker, click, u"mail failure sheet"_qs));
        desktop.setClient("fakemail", "none.desktop"); // no file manager either
        QVERIFY(walkModal(
            walker, [&] { interface.controller().showDiagnostics(); }, u"folder sheet"_qs));

        ui.actionShowReportContents->trigger();
        ReportPreviewWindow* preview = interface.reportPreview();
        QVERIFY(preview != nullptr);
        auto* list = preview->findChild<QTreeWidget*>(u"memberList"_qs);
        // Every file of the report is text well under the part shown: one file's view stands for all.
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            walker.data << list->topLevelItem(row)->text(0);
        walker.walkWindow(preview, u"preview"_qs);
        QTest::keyClicks(preview->findChild<QLineEdit*>(u"findField"_qs), u"no such text"_qs);
        walker.walkWindow(preview, u"preview, nothing found"_qs);
        list->findItems(u"processes.txt"_qs, Qt::MatchExactly).constFirst()->setCheckState(0, Qt::Unchecked);
        QVERIFY(walkModal(
            walker, [&] { preview->findChild<QPushButton*>(u"leaveOutButton"_qs)->click(); },
            u"leave-out question"_qs));
        QVERIFY(preview->findChild<QLabel*>(u"messageField"_qs)->isVisible());
        walker.walkWindow(preview, u"preview, file left out"_qs);
        preview->showReport(std::nullopt);
        walker.walkWindow(preview, u"preview, no report"_qs);
        walker.data << u"not a report.zip"_qs;
        preview->showReport(desktop.makeFile(u"not a report.zip"_qs));
        walker.walkWindow(preview, u"preview, no zip archive"_qs);

        {
            QTemporaryDir home, emptyPath;
            const ScopedEnv data("XDG_DATA_HOME", home.path().toUtf8());
            const ScopedEnv path("PATH", emptyPath.path().toUtf8());
            setRubyFixedLocationsForTesting({u"/nonexistent/bin/ruby"_qs});
            MainInterface noRuby;
            noRuby.window().show();
            QVERIFY(walkModal(
                walker, [&] { noRuby.ui().diagnosticsPerformActionButton->click(); },
                u"report failure alert"_qs));
            QTRY_VERIFY(!noRuby.controller().isGeneratingDiagnostics());
            setRubyFixedLocationsForTesting({});
        }
        const RepairServices standard = RepairServices::standard();
        const auto alert = [&](const QString& state) {
            return [&, state](const QString& title, const QString& message) {
                QVERIFY(walkModal(
                    walker, [&] { standard.showAlert(title, message); }, state));
            };
        };
        // The person at the password dialog is the one stand-in: the dialog is the real one.
        const auto askPassword = [&](const QString& prompt, const QString&) {
            AskpassDialog dialog(prompt);
            dialog.show();
            walker.walkWindow(&dialog, u"password dialog"_qs);
            return true;
        };
        RepairActions({askPassword, alert(u"repair alert"_qs), standard.currentAccount})
            .resetLaunchServicesDb();
        RepairActions(
            {askPassword, alert(u"unknown user alert"_qs), [] { return std::optional<UserAccount>(); }})
            .repairExtendedAttributes();

        const QStringList problems = walker.problems();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // Every line of --help with words in it differs from the English one, Qt's "Usage:" and "Options:" too.
    void theCommandLineHelpIsGerman() {
        QTemporaryDir home;
        const auto help = [&](const QString& lang) {
            QProcessEnvironment env = freshUserEnvironment(home.path());
            env.insert(u"LANG"_qs, lang);
            static const QRegularExpression pathsAndOptions(u"\\S+/|(^|\\s)-\\S+"_qs);
            return QString::fromUtf8(run(QStringLiteral(KEYLOFT_APP_EXECUTABLE), {u"--help"_qs}, env).out)
                .replace(pathsAndOptions, QString())
                .split(u'\n');
        };
        const QStringList english = help(u"C.UTF-8"_qs);
        const QStringList german = help(u"de_DE.UTF-8"_qs);
        QVERIFY(english.size() > 3);
        QCOMPARE(german.size(), english.size());
        for (qsizetype i = 0; i < german.size(); ++i)
            QVERIFY2(german[i] != english[i] || !german[i].contains(QRegularExpression(u"\\p{L}{2}"_qs)),
                     qPrintable(german[i]));
    }

    // The real window and password program show a German title, on an X server of this test's own.
    void theRealProgramsFollowTheLocale_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("locale");
        QTest::newRow("window, Austrian German")
            << KEYLOFT_APP_EXECUTABLE << QStringList{"LANG=de_AT.UTF-8", "LANGUAGE=de_AT"};
        QTest::newRow("password dialog, German")
            << KEYLOFT_BUNDLE_DIR "/Contents/libexec/keyloft-askpass" << QStringList{"LANG=de_DE.UTF-8"};
    }
    void theRealProgramsFollowTheLocale() {
        QFETCH(QString, program);
        QFETCH(QStringList, locale);
        if (QStandardPaths::findExecutable(u"xdotool"_qs).isEmpty())
            QSKIP("needs xdotool");
        if (!xServer_)
            xServer_ = std::make_unique<PrivateXServer>();
        QVERIFY2(!xServer_->display().isEmpty(), "Xvfb could not be started");
        QTemporaryDir home;
        QProcessEnvironment env = freshUserEnvironment(home.path());
        for (const QString& variable : locale)
            env.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        env.insert(u"DISPLAY"_qs, QString::fromLatin1(xServer_->display()));
        QProcess tool, search;
        tool.setProcessEnvironment(env);
        tool.start(program, program.endsWith(u"askpass"_qs) ? QStringList{u"Passwort?"_qs} : QStringList{});
        QVERIFY(tool.waitForStarted());
        search.setProcessEnvironment(env); // waits for the program's window with the German title
        search.start(u"xdotool"_qs,
                     {u"search"_qs, u"--sync"_qs, u"--all"_qs, u"--pid"_qs, QString::number(tool.processId()),
                      u"--name"_qs, u"^Keyloft-Fehlerbehebung$"_qs});
        const bool found = search.waitForFinished(30000) && search.exitCode() == 0;
        tool.kill();
        tool.waitForFinished();
        QVERIFY2(found, tool.readAllStandardError().constData());
    }
};

QTEST_MAIN(TestGermanWindow)
#include "tst_germanwindow.moc"
