#include "DraggableFileImageView.h"
#include "MainInterface.h"
#include "ProgressIndicator.h"
#include "ui_MainWindow.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Report bytes with a NUL and a byte that is no UTF-8, so nothing on the way may treat them as text.
constexpr char kReportBytes[] = "PK\x03\x04 report \x00\xff bytes";

// The report as a file in a temporary folder.
class ReportSource : public QObject, public DraggableFileDataSource {
public:
    QTemporaryDir dir;
    std::optional<QByteArray> bytes = QByteArray(kReportBytes, sizeof kReportBytes - 1);
    std::optional<QUrl> file = QUrl::fromLocalFile(dir.filePath("Diagnostics Report 1.zip"));

    ReportSource() {
        QFile report(file->toLocalFile());
        if (report.open(QIODevice::WriteOnly))
            report.write(*bytes);
    }
    std::optional<QByteArray> fileDataForDraggableFileImageView(DraggableFileImageView*) override {
        return bytes;
    }
    std::optional<QUrl> fileURLForDraggableFileImageView(DraggableFileImageView*) override { return file; }
};

// Sends one key event the way a keyboard does: to the focus widget, passed up while unused.
void sendKey(QWidget* target, QEvent::Type type, int key, bool repeat) {
    QKeyEvent event(type, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString(),
                    repeat);
    QApplication::sendEvent(target, &event);
}

// A key held for `repeats` auto-repeated presses before it is released.
void holdKey(QWidget* target, int key, int repeats) {
    sendKey(target, QEvent::KeyPress, key, false);
    for (int i = 0; i < repeats; ++i) {
        sendKey(target, QEvent::KeyRelease, key, true);
        sendKey(target, QEvent::KeyPress, key, true);
    }
    sendKey(target, QEvent::KeyRelease, key, false);
}

// The shown main window with its controls cut off from the controller: the test counts the clicks
// instead of starting report runs or opening folders.
struct Window {
    MainInterface interface;
    Ui::MainWindow& ui = interface.ui();
    QSignalSpy buttonClicks{ui.diagnosticsPerformActionButton, &QPushButton::clicked};
    QSignalSpy iconClicks{ui.draggableFileView, &DraggableFileImageView::clicked};

    Window() {
        QObject::disconnect(ui.diagnosticsPerformActionButton, nullptr, &interface.controller(), nullptr);
        QObject::disconnect(ui.draggableFileView, nullptr, &interface.controller(), nullptr);
        interface.window().show();
        QApplication::setActiveWindow(&interface.window());
    }
    bool ready() { return QTest::qWaitForWindowActive(&interface.window()); }
    QWidget* focused() const { return QApplication::focusWidget(); }
    QWidget* control(const QString& name) {
        return name == "button" ? static_cast<QWidget*>(ui.diagnosticsPerformActionButton)
               : name == "icon" ? static_cast<QWidget*>(ui.draggableFileView)
                                : &interface.window();
    }
};

// A shown, focused report icon with a report.
struct Icon {
    DraggableFileImageView view;
    ReportSource source;
    QSignalSpy clicks{&view, &DraggableFileImageView::clicked};

    Icon() {
        QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
        image.fill(qRgb(40, 120, 200));
        view.configureWithFileIcon(image, *source.file, &source);
        view.resize(128, 128);
        view.show();
    }
    bool ready() {
        const bool active = QTest::qWaitForWindowActive(&view);
        view.setFocus();
        return active;
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
        QTest::newRow("nothing focused, Return") << "window" << int(Qt::Key_Return) << true << 1 << 0;
        QTest::newRow("nothing focused, keypad Enter") << "window" << int(Qt::Key_Enter) << true << 1 << 0;
        QTest::newRow("nothing focused, button disabled")
            << "window" << int(Qt::Key_Return) << false << 0 << 0;
        QTest::newRow("icon uses Return") << "icon" << int(Qt::Key_Return) << true << 0 << 1;
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
        QWidget* target = w.control(focus);
        target->setFocus();
        QTRY_COMPARE(w.focused(), target);
        holdKey(target, key, 5);
        QTEST(int(w.buttonClicks.count()), "buttonClicks");
        QTEST(int(w.iconClicks.count()), "iconClicks");
    }

    // The focus starts on the default button; Tab goes round the report icon and the button in reading
    // order, Shift+Tab back; Alt+R opens the Repair menu.
    void everyControlIsReachedFromTheKeyboard() {
        Window w;
        QVERIFY(w.ready());
        QPushButton* button = w.ui.diagnosticsPerformActionButton;
        QCOMPARE(w.focused(), button);
        QVERIFY(button->isDefault());
        QList<QWidget*> visited;
        for (int i = 0; i < 5 && !visited.contains(w.focused()); ++i) {
            visited.append(w.focused());
            QTest::keyClick(w.focused(), Qt::Key_Tab);
        }
        QCOMPARE(visited, (QList<QWidget*>{button, w.ui.draggableFileView}));
        QCOMPARE(w.focused(), button);
        QTest::keyClick(button, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(w.focused(), w.ui.draggableFileView);
        QTest::keyClick(&w.interface.window(), Qt::Key_R, Qt::AltModifier);
        QTRY_VERIFY(w.ui.repairMenu->isVisible());
    }

    void spaceShowsThePressedIconWhileHeld() {
        Icon icon;
        QVERIFY(icon.ready());
        DraggableFileImageView& view = icon.view;
        sendKey(&view, QEvent::KeyPress, Qt::Key_Space, false);
        QCOMPARE(view.shownImage(), view.selectedIcon());
        QCOMPARE(icon.clicks.count(), 0);
        sendKey(&view, QEvent::KeyRelease, Qt::Key_Space, false);
        QCOMPARE(view.shownImage(), view.icon());
        QCOMPARE(icon.clicks.count(), 1);
        // Focus leaving while Space is down cancels the press, as for a button.
        sendKey(&view, QEvent::KeyPress, Qt::Key_Space, false);
        view.clearFocus();
        sendKey(&view, QEvent::KeyRelease, Qt::Key_Space, false);
        QCOMPARE(view.shownImage(), view.icon());
        QCOMPARE(icon.clicks.count(), 1);
    }

    void theFocusedIconShowsAFocusFrame() {
        Icon icon;
        QVERIFY(icon.ready());
        const QColor highlight = icon.view.palette().color(QPalette::Highlight);
        const QPoint edge(64, 1);
        QTRY_VERIFY(icon.view.hasFocus());
        QCOMPARE(icon.view.grab().toImage().pixelColor(edge).rgb(), highlight.rgb());
        icon.view.clearFocus();
        QVERIFY(icon.view.grab().toImage().pixelColor(edge) != highlight);
    }

    void copyPutsTheReportFileOnTheClipboard() {
        Icon icon;
        QVERIFY(icon.ready());
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        QTest::keyClick(&icon.view, Qt::Key_C, Qt::ControlModifier);
        const QMimeData* data = clipboard->mimeData();
        QVERIFY(data != nullptr);
        QCOMPARE(data->urls().size(), 1);
        const QUrl file = data->urls().first();
        QCOMPARE(file, *icon.source.file);
        QCOMPARE(data->data("x-special/gnome-copied-files"), QByteArray("copy\n") + file.toEncoded());

        // Without a report (it is gone, or there never was one) the clipboard is left alone.
        clipboard->setText(u"kept"_qs);
        icon.source.file.reset();
        QTest::keyClick(&icon.view, Qt::Key_C, Qt::ControlModifier);
        DraggableFileImageView unconfigured;
        QTest::keyClick(&unconfigured, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), u"kept"_qs);
        QVERIFY(!clipboard->mimeData()->hasUrls());
    }

    void aScreenReaderIsToldWhatEachControlIsAndDoes() {
        MainInterface interface;
        Ui::MainWindow& ui = interface.ui();
        for (QWidget* control :
             QList<QWidget*>{ui.draggableFileView, ui.indicator, ui.diagnosticsPerformActionButton}) {
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
            QVERIFY2(!accessible->text(QAccessible::Name).trimmed().isEmpty(),
                     qPrintable(control->objectName()));
            QVERIFY2(!accessible->text(QAccessible::Description).trimmed().isEmpty(),
                     qPrintable(control->objectName()));
        }
        // The report icon is a button that names its file and can be pressed.
        Icon icon;
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(&icon.view);
        QCOMPARE(button->role(), QAccessible::Button);
        QVERIFY(button->text(QAccessible::Description).contains(u"Diagnostics Report 1.zip"_qs));
        QVERIFY(button->actionInterface() != nullptr);
        button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(icon.clicks.count(), 1);
        // The spinner tells whether it is busy.
        ProgressIndicator& spinner = *ui.indicator;
        QAccessibleInterface* progress = QAccessible::queryAccessibleInterface(&spinner);
        const QString idle = progress->text(QAccessible::Description);
        spinner.startAnimation();
        QVERIFY(progress->state().busy);
        QVERIFY(progress->text(QAccessible::Description) != idle);
        spinner.stopAnimation();
        QVERIFY(!progress->state().busy);
    }
};

QTEST_MAIN(TestKeyboardAccess)
#include "tst_keyboardaccess.moc"
