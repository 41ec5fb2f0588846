#pragma once

// The window's busy spinner: a ring of twelve spokes that turns while work is going on and shows
// nothing when stopped (it keeps its place in the layout, so nothing moves when it starts or stops).
// Assistive technology sees a progress bar without a value, busy while it turns; its description says
// whether work is going on and changes when the spinner starts or stops.
//
// Use from the main thread only. From another thread post the call, in order with the other steps:
//   QMetaObject::invokeMethod(indicator, "startAnimation", Qt::QueuedConnection);
//   QMetaObject::invokeMethod(indicator, "stopAnimation", Qt::QueuedConnection);

#include <QBasicTimer>
#include <QWidget>

class ProgressIndicator : public QWidget {
    Q_OBJECT
public:
    explicit ProgressIndicator(QWidget* parent = nullptr);

    [[nodiscard]] bool isAnimating() const { return timer_.isActive(); }
    [[nodiscard]] QSize sizeHint() const override { return {20, 20}; }

public slots:
    // Starting a running spinner, or stopping a stopped one, changes nothing.
    void startAnimation();
    void stopAnimation();

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void describeState();

    QBasicTimer timer_;
    int step_ = 0;
};
