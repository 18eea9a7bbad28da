// The test host's application: prepares the process, reads the command line, runs the dialog.
#pragma once

#include <windows.h>

class CQuilletApp {
public:
    // The process exit code: 0 after the dialog, the check's result, or 2 for a bad command line.
    int Run(HINSTANCE instance);
};
