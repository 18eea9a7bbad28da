// Formats, names and folders of the test host's recordings.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <string>

enum class RecordMode {
    StereoMix,  // every input mixed into one stereo file
    PerInput,   // one mono file per input
};

// PCM at the current rate: 2 channels for the stereo mix, 1 per input.
WAVEFORMATEX RecordingFormat(RecordMode mode, DWORD samplesPerSecond, WORD bitsPerSample);

// The file name; for a per-input file the characters that Windows forbids in names become "_".
std::wstring RecordingFileName(RecordMode mode, int samplesPerSecond, int bitsPerSample,
                               const std::wstring& inputName = {});

// The name inside folder, joined with one backslash whether or not folder ends with one.
std::wstring RecordingFilePath(const std::wstring& folder, RecordMode mode, int samplesPerSecond, int bitsPerSample,
                               const std::wstring& inputName = {});

// The user's documents folder, else the root of the Windows directory's drive; always ends with "\".
std::wstring DefaultRecordFolder(HWND owner = nullptr);
