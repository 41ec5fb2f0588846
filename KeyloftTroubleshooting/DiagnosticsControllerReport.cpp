// Report generation: runs the shipped diagnostics script and shows the report in the window.

#include "DiagnosticsController.h"

// Awaiting the report-generation issue (#6): this placeholder only lets the application link.
void DiagnosticsController::generateDiagnostics() {}
