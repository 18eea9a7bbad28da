// The test host's per-user values in HKEY_CURRENT_USER\Software\Veloran\Veloran ASIO Quillet.
#pragma once

#include <windows.h>

#include <string>

inline constexpr wchar_t kDialogSettingsKey[] = L"Software\\Veloran\\Veloran ASIO Quillet";

struct DialogSettings {
    DWORD lastSampleRate = 44100;     // 44100 selects the first rate, anything else the second
    std::wstring lastAudioFile;       // the last chosen play file
    std::wstring recordFolder;        // ends with a backslash when it is the default folder
    bool recordStereo = true;         // one stereo mix, else one file per input
};

// Reads every value with its default and puts the default record folder in place of an empty or
// missing one. The dialog writes them back at once, so that a first run creates them.
DialogSettings LoadDialogSettings(HWND owner);
void SaveDialogSettings(const DialogSettings& settings);
