#include "StandardStreams.h"

#include <veloran/UniqueHandle.h>

#include <string>

namespace {

bool Usable(HANDLE handle) { return handle && handle != INVALID_HANDLE_VALUE; }

}  // namespace

bool WriteToStandardStream(DWORD which, const std::wstring& text)
{
    HANDLE target = GetStdHandle(which);
    UniqueHandle console;
    if (!Usable(target)) {
        // Attaching fails harmlessly when already attached (a second message of the same run).
        AttachConsole(ATTACH_PARENT_PROCESS);
        console.Reset(CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        target = console.get();
    }
    if (!Usable(target)) return false;
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(target, &mode))
        return WriteConsoleW(target, text.c_str(), DWORD(text.size()), &written, nullptr) && written == text.size();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), utf8.data(), bytes, nullptr, nullptr);
    return WriteFile(target, utf8.data(), DWORD(utf8.size()), &written, nullptr) && written == utf8.size();
}
