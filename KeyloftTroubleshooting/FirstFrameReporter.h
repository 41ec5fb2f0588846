#pragma once

// For the startup benchmark: installed on a window (when KEYLOFT_REPORT_FIRST_FRAME is set), prints
// "first-frame <ns>" (wall clock, nanoseconds since the epoch) on standard output once the window's
// first frame has been painted. The benchmark's baseline program measures itself with the same class.

#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <ctime>

class FirstFrameReporter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Painting ends with the frame going to the screen; report on the next turn of the loop.
            QTimer::singleShot(0, this, [] {
                timespec now{};
                clock_gettime(CLOCK_REALTIME, &now);
                std::printf("first-frame %lld\n",
                            static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
                std::fflush(stdout);
            });
        }
        return false;
    }
};
