// Self-registration: the COM class entries and the ASIO driver list entry.
#pragma once

#include "../core/SettingsKey.h"

#include <windows.h>

// Both return S_OK or a failure HRESULT; a failed registration removes what it wrote.
HRESULT RegisterServer(const CSettingsKey& key, HMODULE module);
HRESULT UnregisterServer(const CSettingsKey& key);

// Deletes parent\name with every subkey; leaves it in place when a subkey cannot be removed.
void DeleteKeyRecursive(HKEY parent, const wchar_t* name);
