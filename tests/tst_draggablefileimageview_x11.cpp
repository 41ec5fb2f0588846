// The report icon's drag through a real X server of the test's own (its pointer is moved): a drop into
// another application's window.

#include "DraggableFileImageView.h"
#include "support/ReportSource.h"
#include "support/TestSupport.h"

#include <QtTest>
#include <QtWidgets>

class TestDraggableFileImageViewX11 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            QSKIP("needs xdotool");
        QStandardPaths::setTestModeEnabled(true);
    }

    // The target prints "enter" when the drag enters and "dropped <url> <bytes as hex>" at the drop.
    void dropIntoAnotherApplication() {
        QProcess target;
        target.start(QStringLiteral(KEYLOFT_HELPERS_DIR "/droptarget"), {"600", "100"});
        QTRY_VERIFY_WITH_TIMEOUT(target.canReadLine(), 20000);
        QCOMPARE(target.readLine(), QByteArray("ready\n"));

        ReportSource source;
        DraggableFileImageView view;
        view.setGeometry(100, 100, 128, 128);
        QImage icon(64, 64, QImage::Format_ARGB32_Premultiplied);
        icon.fill(qRgb(40, 120, 200));
        view.configureWithFileIcon(icon, QUrl::fromLocalFile("/nowhere/Diagnostics Report.zip"), &source);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        // What the source had answered when the drag entered the other window: nothing yet.
        int requestsAtEnter = -1;
        QByteArray lastLine;
        connect(&target, &QProcess::readyReadStandardOutput, this, [&] {
            while (target.canReadLine()) {
                lastLine = target.readLine().trimmed();
                if (lastLine == "enter" && requestsAtEnter < 0)
                    requestsAtEnter = source.requests;
            }
        });

        // The person at the mouse: press on the icon, move across to the other window, let go.
        QProcess hand;
        hand.start("xdotool",
                   QStringLiteral("mousemove 164 164 sleep 0.3 mousedown 1 sleep 0.3 mousemove 170 170 "
                                  "sleep 0.3 mousemove 400 200 sleep 0.3 mousemove 700 200 sleep 0.5 "
                                  "mousemove 710 210 sleep 0.5 mouseup 1")
                       .split(' '));
        QVERIFY(hand.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(target.state() == QProcess::NotRunning, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(hand.state() == QProcess::NotRunning, 10000);

        QCOMPARE(requestsAtEnter, 0);
        QCOMPARE(source.requests, 1);
        QCOMPARE(lastLine, "dropped " + source.file->toEncoded() + ' ' + source.bytes->toHex());
    }
};

KEYLOFT_TEST_MAIN_ON_PRIVATE_X_SERVER(TestDraggableFileImageViewX11)

#include "tst_draggablefileimageview_x11.moc"
