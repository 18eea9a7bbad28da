#include "MordaneApp.h"

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        return TheApp().Startup(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        TheApp().Shutdown();
        break;
    }
    return TRUE;
}
