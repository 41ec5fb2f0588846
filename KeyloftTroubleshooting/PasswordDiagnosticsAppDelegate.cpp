#include "PasswordDiagnosticsAppDelegate.h"
