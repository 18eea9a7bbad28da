// Describes one of the driver's two settings keys under HKLM\Software\ASIO\<driver>: the key of
// the host program that loaded the driver, or "Default Parameters". Every access opens the key,
// does one read or write and closes it again. Reads open an existing key with read access, which
// every user has on HKLM; writes create it with write access, which takes an elevated host.
#pragma once

#include <veloran/RegKey.h>

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

extern const wchar_t kDriverName[];

// Opens (create false) or creates a key below HKEY_LOCAL_MACHINE, in its 64-bit view, with the
// access given.
using SettingsKeyOpener = RegKey (*)(const wchar_t* path, REGSAM access, bool create);
RegKey OpenLocalMachineKey(const wchar_t* path, REGSAM access, bool create);

class CSettingsKey {
public:
    // hostPath is the host executable's full path; empty describes "Default Parameters". Tests
    // pass their own opener to see the access asked for.
    CSettingsKey(REFCLSID clsid, const std::wstring& hostPath, SettingsKeyOpener open = OpenLocalMachineKey);

    // The key of the process that is running now.
    static CSettingsKey ForThisProcess(REFCLSID clsid);

    const std::wstring& classIdText() const { return classIdText_; }
    HRESULT classIdResult() const { return classIdResult_; }
    const std::wstring& driverName() const { return driverName_; }
    const std::wstring& hostPath() const { return hostPath_; }
    const std::wstring& hostName() const { return hostName_; }

    // Path below HKEY_LOCAL_MACHINE.
    std::wstring KeyPath() const;

    // A missing key or value, or one of another type, reads as the default.
    uint32_t ReadDword(const wchar_t* name, uint32_t defaultValue) const;
    bool TryReadDword(const wchar_t* name, uint32_t& value) const;
    void WriteDword(const wchar_t* name, uint32_t value) const;
    std::wstring ReadString(const wchar_t* name) const;

    // Reads a REG_BINARY value of 1 to maxBytes bytes and returns its size; 0 (nothing read)
    // when it is missing, of another type, empty or larger.
    DWORD ReadBinary(const std::wstring& name, void* buffer, DWORD maxBytes) const;
    void WriteBinary(const std::wstring& name, const void* data, DWORD bytes) const;

    // Every string of a REG_MULTI_SZ value up to the end of the stored bytes, empty ones (the
    // list's terminator among them) too; a last string without its terminator counts. False when
    // the value is missing or of another type.
    bool ReadMultiString(const wchar_t* name, std::vector<std::wstring>& strings) const;

    // The strings, each with its terminator, then the list's (so an empty list is one NUL).
    void WriteMultiString(const wchar_t* name, const std::vector<std::wstring>& strings) const;

    // "PortOrders": port display names in the user's order, up to the first empty string.
    bool ReadPortOrders(std::vector<std::wstring>& names) const;
    void WritePortOrders(const std::vector<std::wstring>& names) const;

private:
    RegKey OpenForReading() const;
    RegKey OpenForWriting() const;

    SettingsKeyOpener open_;
    std::wstring classIdText_;
    HRESULT classIdResult_ = S_OK;
    std::wstring driverName_;
    std::wstring hostPath_;
    std::wstring hostName_;
};
