#pragma once

// Gives a main window the default-button behaviour dialogs have: Enter or Return pressed anywhere in the
// window, and not used by the control that has the focus, clicks the window's default button. A disabled
// or hidden button ignores it, and a held key (auto-repeat) clicks once only, also when the button
// itself has the focus.
//
// The button keeps the keyboard focus across its own state changes (it is disabled only by its own
// press): while it is disabled no other control holds the focus, so Return and Space do nothing instead
// of acting on whatever control came next, and once enabled again the button takes the focus back. A
// control the user moves to with Tab or a click keeps its own keys until the button's next change.
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
    void followButtonState();

    QPointer<QPushButton> button_;
};
