#include "RecordingFiles.h"

#include "WaveWriter.h"

#include <shlobj.h>

#include <cwchar>

namespace {

std::wstring WithBackslash(std::wstring folder)
{
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    return folder;
}

}  // namespace

WAVEFORMATEX RecordingFormat(RecordMode mode, DWORD samplesPerSecond, WORD bitsPerSample)
{
    return PcmFormat(mode == RecordMode::StereoMix ? 2 : 1, samplesPerSecond, bitsPerSample);
}

std::wstring RecordingFileName(RecordMode mode, int samplesPerSecond, int bitsPerSample, const std::wstring& inputName)
{
    // The stereo-mix name is fixed text and numbers, so only the per-input name needs cleaning.
    if (mode == RecordMode::StereoMix) {
        wchar_t name[96];
        swprintf(name, 96, L"VeloranAsio_StereoMix_%d_Hz_%d_Bits.wav", samplesPerSecond, bitsPerSample);
        return name;
    }
    std::wstring name = L"VeloranAsio_Input_" + inputName;
    wchar_t tail[64];
    swprintf(tail, 64, L"_%d_Hz_%d_Bits.wav", samplesPerSecond, bitsPerSample);
    name += tail;
    for (wchar_t& c : name)
        if (c && std::wcschr(L"\\/:*?\"<>|", c)) c = L'_';
    return name;
}

std::wstring RecordingFilePath(const std::wstring& folder, RecordMode mode, int samplesPerSecond, int bitsPerSample,
                               const std::wstring& inputName)
{
    return WithBackslash(folder) + RecordingFileName(mode, samplesPerSecond, bitsPerSample, inputName);
}

std::wstring DefaultRecordFolder(HWND owner)
{
    wchar_t path[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(owner, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_DEFAULT, path)) && path[0])
        return WithBackslash(path);
    // Recordings need a writable place: the drive's root rather than the Windows directory itself.
    const UINT length = GetWindowsDirectoryW(path, MAX_PATH);
    if (length >= 2 && length < MAX_PATH && path[1] == L':') return std::wstring(path, 2) + L'\\';
    return L"C:\\";
}
