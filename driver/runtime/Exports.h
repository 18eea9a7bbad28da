// The DLL's exported entry points, declared for in-process callers.
#pragma once

#include <windows.h>
#include <cstdint>

extern "C" {
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
int32_t SetLanguage(int32_t language);
}
