#include "AppResources.h"

#include "Platform/Localization.h"

#include <QImageReader>

#include <mutex>

static void registerOnce() {
    Q_INIT_RESOURCE(resources);
}

void vt_registerAppResources() {
    static std::once_flag once;
    std::call_once(once, registerOnce);
}

QIcon vt_applicationIcon() {
    vt_registerAppResources();
    return QIcon(QStringLiteral(":/artwork/AppIcon.svg"));
}

QImage vt_reportArtwork(int sideLength, qreal devicePixelRatio) {
    vt_registerAppResources();
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int side = qRound(sideLength * ratio);
    QImageReader reader(QStringLiteral(":/artwork/Diagnostics.svg"));
    reader.setScaledSize(QSize(side, side));
    QImage image = reader.read();
    image.setDevicePixelRatio(ratio);
    return image;
}

QString vt_applicationTitle() {
    return vt_localized(QT_TRANSLATE_NOOP("Localizable", "Keyloft Troubleshooting"));
}
