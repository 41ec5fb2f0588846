// Repair actions: each runs one command line with administrator rights.

#include "DiagnosticsController.h"

// Awaiting the repairs issue (#8): these placeholders only let the application link.
void DiagnosticsController::resetFolderPermissions() {}

void DiagnosticsController::repairExtendedAttributes() {}

void DiagnosticsController::resetLaunchServicesDb() {}
