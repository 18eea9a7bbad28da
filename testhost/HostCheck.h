// The scripted check: runs the dialog hidden for the given time and writes the report.
#pragma once

#include "StartupOptions.h"

class CQuilletDlg;

// Returns the process exit code.
int RunHostCheck(CQuilletDlg& dialog, const StartupOptions& options);
