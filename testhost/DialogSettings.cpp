#include "DialogSettings.h"

#include "RecordingFiles.h"

#include <veloran/RegKey.h>

#include <vector>

namespace {

constexpr wchar_t kLastSampleRate[] = L"LastSR";
constexpr wchar_t kLastAudioFile[] = L"LastAudioFilePlay";
constexpr wchar_t kRecordFolder[] = L"LastFolderAudioRecord";
constexpr wchar_t kRecordStereo[] = L"RecordModeStereo";

DWORD ReadDword(HKEY key, const wchar_t* name, DWORD fallback)
{
    DWORD value = 0, type = 0, size = sizeof(value);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return fallback;
    return value;
}

std::wstring ReadString(HKEY key, const wchar_t* name)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return {};
    // The stored text need not carry its terminator.
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return {};
    return std::wstring(text.data());
}

void WriteDword(HKEY key, const wchar_t* name, DWORD value)
{
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void WriteString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool FolderExists(const std::wstring& folder)
{
    return !folder.empty() && GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

DialogSettings LoadDialogSettings(HWND owner)
{
    DialogSettings settings;
    const RegKey key = RegKey::Create(HKEY_CURRENT_USER, kDialogSettingsKey, KEY_READ | KEY_WRITE);
    if (key) {
        settings.lastSampleRate = ReadDword(key.get(), kLastSampleRate, settings.lastSampleRate);
        settings.lastAudioFile = ReadString(key.get(), kLastAudioFile);
        settings.recordFolder = ReadString(key.get(), kRecordFolder);
        settings.recordStereo = ReadDword(key.get(), kRecordStereo, 1) != 0;
    }
    if (!FolderExists(settings.recordFolder)) settings.recordFolder = DefaultRecordFolder(owner);
    return settings;
}

void SaveDialogSettings(const DialogSettings& settings)
{
    const RegKey key = RegKey::Create(HKEY_CURRENT_USER, kDialogSettingsKey, KEY_WRITE);
    if (!key) return;
    WriteDword(key.get(), kLastSampleRate, settings.lastSampleRate);
    WriteString(key.get(), kLastAudioFile, settings.lastAudioFile);
    WriteString(key.get(), kRecordFolder, settings.recordFolder);
    WriteDword(key.get(), kRecordStereo, settings.recordStereo ? 1 : 0);
}
