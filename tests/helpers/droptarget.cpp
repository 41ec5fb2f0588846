// droptarget X Y: a drop target in a process of its own, for the drag test under X11. Opens a 300×300
// window at X,Y and prints, one line each: "ready" once shown; "enter" when a drag enters; "dropped <url>
// <bytes as hex>" at the drop, reading the dropped file at that moment, then ends with status 0.

#include <QtWidgets>

#include <cstdio>

namespace {

void say(const QByteArray& line) {
    std::puts(line.constData());
    std::fflush(stdout);
}

class DropTarget : public QWidget {
public:
    DropTarget() { setAcceptDrops(true); }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        // Only the list of offered formats is looked at here, as a file manager does before the drop.
        say("enter");
        if (event->mimeData()->formats().contains(QStringLiteral("text/uri-list")))
            event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override {
        const QUrl url = event->mimeData()->urls().value(0);
        QFile file(url.toLocalFile());
        say("dropped " + url.toEncoded() + ' ' +
            (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()).toHex());
        event->acceptProposedAction();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    DropTarget target;
    target.setWindowTitle(QStringLiteral("Drop target"));
    target.setGeometry(QByteArray(argv[1]).toInt(), QByteArray(argv[2]).toInt(), 300, 300);
    target.show();
    QTimer::singleShot(200, [] { say("ready"); });
    return QApplication::exec();
}
