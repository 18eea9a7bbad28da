// Self-registration: the COM class entries and the ASIO driver list entry.
#pragma once

#include "../core/SettingsKey.h"

#include <windows.h>

// Both return S_OK or a failure HRESULT; a failed registration removes what it wrote. They touch
// only the class key and the ASIO entry's "CLSID" and "Description": the hosts' settings under
// that entry stay, and unregistration removes the entry only when nothing else is left in it.
HRESULT RegisterServer(const CSettingsKey& key, HMODULE module);
HRESULT UnregisterServer(const CSettingsKey& key);

// Deletes parent\name with every subkey; leaves it in place when a subkey cannot be removed.
void DeleteKeyRecursive(HKEY parent, const wchar_t* name);
