// The report icon's derived images: the darkened pressed image and the 70 % drag image.

#include "DraggableFileImageView.h"

#include <algorithm>

namespace {

// Premultiplied channel arithmetic on 0…255 values.
int scaled(int value, double fraction) {
    return std::clamp(static_cast<int>(value * fraction + 0.5), 0, 255);
}

QImage premultiplied(const QImage& image) {
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

QImage DraggableFileImageView::pressedImageForIcon(const QImage& icon) {
    // "Plus darker" of the icon drawn over itself at opacity 0.2, per premultiplied channel:
    // the darkness (alpha minus colour) of both layers adds up, alpha composes as source-over.
    constexpr double kFraction = 0.2;
    QImage result = premultiplied(icon);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const QRgb d = line[x];
            const int da = qAlpha(d);
            const int sa = scaled(da, kFraction);
            const int ra = sa + da - (sa * da + 127) / 255;
            auto channel = [&](int dc) {
                const int sc = scaled(dc, kFraction);
                return std::clamp(ra - (sa - sc) - (da - dc), 0, ra);
            };
            line[x] = qRgba(channel(qRed(d)), channel(qGreen(d)), channel(qBlue(d)), ra);
        }
    }
    return result;
}

QImage DraggableFileImageView::dragImageForIcon(const QImage& icon) {
    constexpr double kFraction = 0.7;
    QImage result = premultiplied(icon);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgba(scaled(qRed(p), kFraction), scaled(qGreen(p), kFraction),
                            scaled(qBlue(p), kFraction), scaled(qAlpha(p), kFraction));
        }
    }
    return result;
}
