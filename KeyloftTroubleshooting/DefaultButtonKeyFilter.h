#pragma once

// Gives a main window the default-button behaviour dialogs have: Enter or Return pressed anywhere in the
// window, and not used by the control that has the focus, clicks the window's default button. A disabled
// or hidden button ignores it, and a held key (auto-repeat) clicks once only, also when the button
// itself has the focus.
//
// Install it on the window (it also watches the button); it is owned by the window (parent) and holds the
// button weakly, so either may go first. Main thread only.

#include <QObject>
#include <QPointer>
#include <QPushButton>

class DefaultButtonKeyFilter : public QObject {
    Q_OBJECT
public:
    // Makes button the default button of window and installs the filter there.
    static DefaultButtonKeyFilter* install(QWidget* window, QPushButton* button);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DefaultButtonKeyFilter(QWidget* window, QPushButton* button);

    QPointer<QPushButton> button_;
};
