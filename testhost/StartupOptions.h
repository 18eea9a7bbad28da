// What the command line and the start-up key chord decide before the dialog runs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct StartupOptions {
    int language = 9;                     // 12 French, 9 English
    bool defaultDevicesAllowed = false;   // the driver may add the system's default devices
    bool defaultDevicesOnly = false;      // the driver uses only the system's default devices
    // "/check SECONDS [/report FILE]": a hidden, scripted run that writes a report.
    bool check = false;
    int checkSeconds = 0;
    std::wstring reportPath;
};

// The reply to the driver's private message: 292 only default devices, 291 allowed, else 0.
long PrivateMessageReply(const StartupOptions& options);

// 12 when the primary language of the id is French, else 9.
int LanguageFromLangId(LANGID langId);

// Applies the arguments after the program name, in order. False, with an English message that
// names the problem and shows the usage, when "/check" or "/report" is malformed; the options
// are then left as they were.
bool ParseStartupArguments(const std::vector<std::wstring>& args, StartupOptions& options, std::wstring& error);

// Ctrl+Shift+left Alt: default devices only; Ctrl+Shift: allowed. Never clears a flag.
void ApplyKeyChord(StartupOptions& options, bool ctrl, bool shift, bool leftAlt);
