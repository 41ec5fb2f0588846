#include "ProgressIndicator.h"

#include "Platform/Localization.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPainter>
#include <QTimerEvent>

#include <mutex>

namespace {
constexpr int kSpokes = 12;
constexpr int kFrameMilliseconds = 80;
const char* const kIdle = QT_TRANSLATE_NOOP("Localizable", "Idle");
const char* const kWorking = QT_TRANSLATE_NOOP("Localizable", "Working, please wait");

// A progress bar without a value: screen readers announce it as such and read its busy state.
class AccessibleProgressIndicator : public QAccessibleWidget {
public:
    explicit AccessibleProgressIndicator(ProgressIndicator* indicator)
        : QAccessibleWidget(indicator, QAccessible::ProgressBar) {}

    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State result = QAccessibleWidget::state();
        result.busy = static_cast<ProgressIndicator*>(widget())->isAnimating();
        return result;
    }
};

QAccessibleInterface* accessibleIndicatorFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("ProgressIndicator") || object == nullptr || !object->isWidgetType())
        return nullptr;
    return new AccessibleProgressIndicator(static_cast<ProgressIndicator*>(object));
}
} // namespace

ProgressIndicator::ProgressIndicator(QWidget* parent) : QWidget(parent) {
    static std::once_flag factoryInstalled;
    std::call_once(factoryInstalled, [] { QAccessible::installFactory(accessibleIndicatorFactory); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(vt_localized(QT_TRANSLATE_NOOP("Localizable", "Progress")));
    setAccessibleDescription(vt_localized(kIdle));
}

void ProgressIndicator::describeState() {
    setAccessibleDescription(vt_localized(isAnimating() ? kWorking : kIdle));
    // Screen readers announce the busy state when told it changed.
    QAccessible::State changed;
    changed.busy = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void ProgressIndicator::startAnimation() {
    if (timer_.isActive())
        return;
    step_ = 0;
    timer_.start(kFrameMilliseconds, this);
    describeState();
    update();
}

void ProgressIndicator::stopAnimation() {
    if (!timer_.isActive())
        return;
    timer_.stop();
    describeState();
    update();
}

void ProgressIndicator::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    step_ = (step_ + 1) % kSpokes;
    update();
}

void ProgressIndicator::paintEvent(QPaintEvent*) {
    if (!timer_.isActive())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    const qreal outer = side / 2.0;
    const qreal inner = outer * 0.45;
    const QColor base = palette().color(QPalette::WindowText);
    QPen pen(base);
    pen.setWidthF(qMax(1.5, side / 10.0));
    pen.setCapStyle(Qt::RoundCap);
    painter.translate(width() / 2.0, height() / 2.0);
    for (int i = 0; i < kSpokes; ++i) {
        // The newest spoke is darkest; the ones behind it fade out.
        const int age = (step_ - i + kSpokes) % kSpokes;
        QColor color = base;
        color.setAlphaF(1.0 - 0.75 * age / (kSpokes - 1));
        pen.setColor(color);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / kSpokes);
        painter.drawLine(QPointF(0, -inner), QPointF(0, -outer + pen.widthF() / 2));
        painter.restore();
    }
}
