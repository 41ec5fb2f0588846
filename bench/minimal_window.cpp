// The startup benchmark's baseline: the smallest Qt Widgets window (one button), reporting its first
// painted frame the same way the application does ("first-frame <ns since the epoch>" on stdout).

#include "FirstFrameReporter.h"

#include <QApplication>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QPushButton(QStringLiteral("Button")));
    window.installEventFilter(new FirstFrameReporter(&window));
    window.show();
    return QApplication::exec();
}
