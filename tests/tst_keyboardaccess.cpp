// The window from the keyboard alone and for a screen reader.

#include "DraggableFileImageView.h"
#include "MainInterface.h"
#include "ProgressIndicator.h"
#include "support/ReportSource.h"
#include "ui_MainWindow.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// Sends one key event the way a keyboard does: to the focus widget, passed up while unused.
void sendKey(QWidget* target, QEvent::Type type, int key, bool repeat = false) {
    QKeyEvent event(type, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString(),
                    repeat);
    QApplication::sendEvent(target, &event);
}

// The shown main window with its controls cut off from the controller (the test counts the clicks
// instead of starting report runs or opening folders), and a report on its icon.
struct Window {
    MainInterface interface;
    Ui::MainWindow& ui = interface.ui();
    DraggableFileImageView& icon = *ui.draggableFileView;
    ReportSource source;
    QSignalSpy buttonClicks{ui.diagnosticsPerformActionButton, &QPushButton::clicked};
    QSignalSpy iconClicks{&icon, &DraggableFileImageView::clicked};

    Window() {
        QObject::disconnect(ui.diagnosticsPerformActionButton, nullptr, &interface.controller(), nullptr);
        QObject::disconnect(&icon, nullptr, &interface.controller(), nullptr);
        QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(qRgb(40, 120, 200));
        icon.configureWithFileIcon(image, *source.file, &source);
        interface.window().show();
        QApplication::setActiveWindow(&interface.window());
    }
    bool ready() { return QTest::qWaitForWindowActive(&interface.window()); }
    QWidget* focused() const { return QApplication::focusWidget(); }
    // Gives the focus to the icon, the button or (anything else) the window itself.
    QWidget* focus(const QString& name) {
        QWidget* target = name == "button" ? static_cast<QWidget*>(ui.diagnosticsPerformActionButton)
                          : name == "icon" ? static_cast<QWidget*>(&icon)
                                           : &interface.window();
        target->setFocus();
        return QTest::qWaitFor([&] { return focused() == target; }) ? target : nullptr;
    }
};

} // namespace

class TestKeyboardAccess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QAccessible::setActive(true);
    }

    // Keys are held for a few auto-repeats: each control acts once per press all the same (a repeated
    // mail is a real harm).
    void enterReachesTheDefaultButtonUnlessTheFocusUsesIt_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("buttonClicks");
        QTest::addColumn<int>("iconClicks");
        QTest::newRow("button, Return") << "button" << int(Qt::Key_Return) << true << 1 << 0;
        QTest::newRow("nothing focused, keypad Enter") << "window" << int(Qt::Key_Enter) << true << 1 << 0;
        QTest::newRow("nothing focused, button disabled")
            << "window" << int(Qt::Key_Return) << false << 0 << 0;
        QTest::newRow("icon uses keypad Enter") << "icon" << int(Qt::Key_Enter) << true << 0 << 1;
        QTest::newRow("icon uses Space") << "icon" << int(Qt::Key_Space) << true << 0 << 1;
    }
    void enterReachesTheDefaultButtonUnlessTheFocusUsesIt() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(bool, enabled);
        Window w;
        QVERIFY(w.ready());
        w.ui.diagnosticsPerformActionButton->setEnabled(enabled);
        QWidget* target = w.focus(focus);
        QVERIFY(target);
        sendKey(target, QEvent::KeyPress, key);
        for (int i = 0; i < 5; ++i) {
            sendKey(target, QEvent::KeyRelease, key, true);
            sendKey(target, QEvent::KeyPress, key, true);
        }
        sendKey(target, QEvent::KeyRelease, key);
        QTEST(int(w.buttonClicks.count()), "buttonClicks");
        QTEST(int(w.iconClicks.count()), "iconClicks");
    }

    // The focus starts on the default button; Tab and Shift+Tab go round in reading order.
    void everyControlIsReachedFromTheKeyboard() {
        Window w;
        QVERIFY(w.ready());
        QPushButton* button = w.ui.diagnosticsPerformActionButton;
        QCOMPARE(w.focused(), button);
        QList<QWidget*> visited;
        for (int i = 0; i < 5 && !visited.contains(w.focused()); ++i) {
            visited.append(w.focused());
            QTest::keyClick(w.focused(), Qt::Key_Tab);
        }
        QCOMPARE(visited, (QList<QWidget*>{button, &w.icon}));
        QTest::keyClick(button, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(w.focused(), &w.icon);
        QTest::keyClick(&w.interface.window(), Qt::Key_R, Qt::AltModifier);
        QTRY_VERIFY(w.ui.repairMenu->isVisible());
    }

    // Focus leaving while Space is down cancels the press, as for a button.
    void spaceShowsThePressedIconWhileHeldAndFocusShows() {
        Window w;
        QVERIFY(w.ready() && w.focus("icon"));
        const QPoint edge(w.icon.width() / 2, 1);
        const QRgb highlight = w.icon.palette().color(QPalette::Highlight).rgb();
        QCOMPARE(w.icon.grab().toImage().pixel(edge), highlight);
        sendKey(&w.icon, QEvent::KeyPress, Qt::Key_Space);
        QCOMPARE(w.icon.shownImage(), w.icon.selectedIcon());
        QCOMPARE(w.iconClicks.count(), 0);
        sendKey(&w.icon, QEvent::KeyRelease, Qt::Key_Space);
        QCOMPARE(w.icon.shownImage(), w.icon.icon());
        QCOMPARE(w.iconClicks.count(), 1);
        sendKey(&w.icon, QEvent::KeyPress, Qt::Key_Space);
        w.icon.clearFocus();
        sendKey(&w.icon, QEvent::KeyRelease, Qt::Key_Space);
        QCOMPARE(w.icon.shownImage(), w.icon.icon());
        QCOMPARE(w.iconClicks.count(), 1);
        QVERIFY(w.icon.grab().toImage().pixel(edge) != highlight);
    }

    // For file managers too; once the report is gone the clipboard is left alone.
    void copyPutsTheReportFileOnTheClipboard() {
        Window w;
        QVERIFY(w.ready() && w.focus("icon"));
        QClipboard* clipboard = QGuiApplication::clipboard();
        QTest::keyClick(&w.icon, Qt::Key_C, Qt::ControlModifier);
        const QMimeData* data = clipboard->mimeData();
        QCOMPARE(data->urls(), QList<QUrl>{*w.source.file});
        QCOMPARE(data->data("x-special/gnome-copied-files"), "copy\n" + w.source.file->toEncoded());

        clipboard->setText(u"kept"_qs);
        w.source.file.reset();
        QTest::keyClick(&w.icon, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), u"kept"_qs);
    }

    void aScreenReaderIsToldWhatEachControlIsAndDoes() {
        Window w;
        for (QWidget* control : QList<QWidget*>{&w.icon, w.ui.indicator, w.ui.diagnosticsPerformActionButton})
            for (const QAccessible::Text kind : {QAccessible::Name, QAccessible::Description})
                QVERIFY2(!QAccessible::queryAccessibleInterface(control)->text(kind).trimmed().isEmpty(),
                         qPrintable(control->objectName()));
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(&w.icon);
        QCOMPARE(button->role(), QAccessible::Button);
        QVERIFY(button->text(QAccessible::Description).contains(u"Diagnostics Report 1.zip"_qs));
        button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(w.iconClicks.count(), 1);
        QAccessibleInterface* progress = QAccessible::queryAccessibleInterface(w.ui.indicator);
        const QString idle = progress->text(QAccessible::Description);
        w.ui.indicator->startAnimation();
        QVERIFY(progress->state().busy);
        QVERIFY(progress->text(QAccessible::Description) != idle);
        w.ui.indicator->stopAnimation();
        QVERIFY(!progress->state().busy);
    }
};

QTEST_MAIN(TestKeyboardAccess)
#include "tst_keyboardaccess.moc"
