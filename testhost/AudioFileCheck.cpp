#include "AudioFileCheck.h"

#include "HostStrings.h"
#include "RecordingFiles.h"
#include "WaveReader.h"

#include <commdlg.h>

#include <algorithm>
#include <cwchar>

namespace {

int ShowMessage(const MessageBoxFunction& messageBox, HWND owner, const std::wstring& text, int language, UINT style)
{
    const std::wstring title = HostText(kHostStrTitle, language);
    if (messageBox) return messageBox(owner, text, title, style);
    return MessageBoxW(owner, text.c_str(), title.c_str(), style);
}

// The id of the warning a file's format earns, or 0 when the engine can play it. The engine
// reads frames of channels × bits / 8 bytes whatever the stated block align, and plays what a
// cut recording holds.
int FormatProblem(const CWaveReader& reader)
{
    const WAVEFORMATEX& format = reader.Format();
    if (format.nSamplesPerSec != 44100 && format.nSamplesPerSec != 48000) return kHostStrFileRateUnsupported;
    if (format.nChannels != 1 && format.nChannels != 2) return kHostStrFileChannelsUnsupported;
    if (format.wBitsPerSample != 16 && format.wBitsPerSample != 32) return kHostStrFileBitsUnsupported;
    return 0;
}

}  // namespace

bool CheckChosenFile(const std::wstring& path, HWND dialog, int language, int currentRate,
                     const MessageBoxFunction& messageBox)
{
    CWaveReader reader;
    const int problem = FAILED(reader.Open(path)) ? kHostStrFileReadError : FormatProblem(reader);
    const int fileRate = int(reader.Format().nSamplesPerSec);
    reader.Close();
    if (problem) {
        ShowMessage(messageBox, dialog, HostText(problem, language), language, MB_ICONWARNING);
        return false;
    }
    if (fileRate == currentRate) return true;
    wchar_t question[512];
    swprintf(question, 512, HostText(kHostStrFileRateDiffers, language).c_str(), fileRate, currentRate);
    return ShowMessage(messageBox, dialog, question, language, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::optional<std::wstring> ChooseAudioFile(HWND dialog, int language, const std::wstring& lastPath, int currentRate)
{
    const std::wstring initial = !lastPath.empty() && GetFileAttributesW(lastPath.c_str()) != INVALID_FILE_ATTRIBUTES
                                     ? lastPath
                                     : DefaultRecordFolder(dialog) + L"example.wav";
    wchar_t file[260] = {};
    initial.copy(file, std::size(file) - 1);

    // The stored filter separates its parts with "|"; the dialog wants NULs, two at the end.
    std::wstring filter = HostText(kHostStrFileChoiceFilter, language);
    std::replace(filter.begin(), filter.end(), L'|', L'\0');
    const std::wstring title = HostText(kHostStrFileChoiceTitle, language);

    OPENFILENAMEW choice{};
    choice.lStructSize = sizeof(choice);
    choice.hwndOwner = dialog;
    choice.lpstrFilter = filter.c_str();
    choice.lpstrFile = file;
    choice.nMaxFile = DWORD(std::size(file));
    choice.lpstrTitle = title.c_str();
    choice.Flags = OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&choice)) return std::nullopt;
    if (!CheckChosenFile(file, dialog, language, currentRate)) return std::nullopt;
    return std::wstring(file);
}
