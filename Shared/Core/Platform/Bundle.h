#pragma once

// The application bundle: the folder that holds the executable (in Contents/bin) and its resources
// (Contents/Resources). The build tree and an installed copy are laid out the same way.

#include <QString>

// The bundle folder of the running executable, as an absolute clean path without a final "/".
// When the executable does not live in "<bundle>/Contents/bin" (a test program, say), its own folder
// is the answer. Never empty. Safe on any thread; asks the file system once per call.
[[nodiscard]] QString vt_bundlePath();

// The bundle folder for an executable living in executableDir (absolute): two levels up when the
// folder is ".../Contents/bin", otherwise executableDir itself (cleaned).
[[nodiscard]] QString vt_bundlePathForExecutableDir(const QString& executableDir);
