// Reads the X clipboard as a file manager's paste does: prints each file URL it offers, one a line, and
// ends with status 0; status 1 when the clipboard offers no file.

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QUrl>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr || !data->hasUrls())
        return 1;
    for (const QUrl& url : data->urls())
        std::printf("%s\n", url.toEncoded().constData());
    return 0;
}
