// The maker's web pages the tray menu opens, through a seam the tests replace.
#pragma once

#include "UpdateCheck.h"

#include <string>

using ShellOpenFunction = void (*)(const std::wstring& url);
// nullptr restores the shell.
void SetShellOpenForTests(ShellOpenFunction open);

// The host key's "Language", French when it has none.
int LinkLanguage(const CSettingsKey& hostKey);

void OpenDriverPage(const UpdateServer& server, bool goToDriver, int language);
void OpenManual(const UpdateServer& server, const std::wstring& version, int language);
