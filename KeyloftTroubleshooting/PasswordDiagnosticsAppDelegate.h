#pragma once

// The application delegate: decides that the tool ends when its last window closes.

#include <QObject>

class PasswordDiagnosticsAppDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The application ends when its one window closes, also after a failed report run closes it.
    [[nodiscard]] bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
};
