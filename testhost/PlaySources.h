// The entries of the test host's play-source selector: the internal clip, the files of the last
// recording, and the file of the user's choice.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Refills the selector and selects the entry at the position selected before (the first entry
// when there was none, or when the list got shorter), and widens the drop-down list to the
// widest entry.
void FillPlaySources(HWND combo, int language, const std::vector<std::wstring>& recordedFiles,
                     const std::wstring& chosenFile);
