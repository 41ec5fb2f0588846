// Repair actions: each runs one command line with administrator rights.

#include "DiagnosticsController.h"
#include "RepairActions.h"

void DiagnosticsController::resetFolderPermissions() {
    RepairActions().resetFolderPermissions();
}

void DiagnosticsController::repairExtendedAttributes() {
    RepairActions().repairExtendedAttributes();
}

void DiagnosticsController::resetLaunchServicesDb() {
    RepairActions().resetLaunchServicesDb();
}
