// What the C++ runtime linked into the DLL keeps per load, given back when a host unloads it.
#pragma once

// From DLL_PROCESS_DETACH when the DLL is unloaded (FreeLibrary), not when the process ends: frees
// the exception runtime's emergency pool, which every load allocates afresh.
void ReleaseStaticRuntime();
