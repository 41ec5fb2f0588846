#pragma once

// The application's embedded artwork (":/artwork/…"): the report's "Diagnostics" picture and the
// application icon. The resources live in a static library, so they are registered on first use.
// And the application's name as the person reads it, for the title of every window and alert.

#include <QIcon>
#include <QImage>
#include <QString>

// Registers the embedded artwork once; safe to call again and from any thread.
void vt_registerAppResources();

// The application icon (also the window's).
[[nodiscard]] QIcon vt_applicationIcon();

// The "Diagnostics" picture that stands for the report: sideLength device-independent pixels square,
// rendered for devicePixelRatio (values below or equal to 0 count as 1). Any thread.
[[nodiscard]] QImage vt_reportArtwork(int sideLength = 128, qreal devicePixelRatio = 1.0);

// "Keyloft Troubleshooting", localized: the title of an alert or dialog that has no title of its own (the
// desktop would show the untranslated application name instead).
[[nodiscard]] QString vt_applicationTitle();
