// The checks applied to a WAV file the user picks as play source, and the picking itself.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

// Shows a message box and returns the button pressed; MessageBoxW unless a test puts its own.
using MessageBoxFunction = std::function<int(HWND owner, const std::wstring& text, const std::wstring& title, UINT style)>;

// Accepts a file the engine can play: 44100 or 48000 Hz, mono or stereo, 16 or 32 bits, with a
// consistent frame size and all of its data present. Anything else is rejected with a warning;
// a rate other than currentRate is accepted only when the user answers Yes.
bool CheckChosenFile(const std::wstring& path, HWND dialog, int language, int currentRate,
                     const MessageBoxFunction& messageBox = {});

// The system's open-file dialog, starting at lastPath when it exists, else at "example.wav" in the
// default folder. A chosen file must pass CheckChosenFile; nothing on cancel or rejection.
std::optional<std::wstring> ChooseAudioFile(HWND dialog, int language, const std::wstring& lastPath, int currentRate);
