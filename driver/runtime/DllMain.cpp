#include "MordaneApp.h"
#include "StaticRuntime.h"

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        return TheApp().Startup(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        TheApp().Shutdown();
        // Unloaded by FreeLibrary, in a process that goes on: nothing of this load may stay.
        if (!reserved) ReleaseStaticRuntime();
        break;
    }
    return TRUE;
}
