#include "QuilletApp.h"

#include "HostCheck.h"
#include "QuilletDlg.h"
#include "StartupOptions.h"

#include <veloran/UniqueHandle.h>

#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kExitBadCommandLine = 2;

struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const { LocalFree(block); }
};

// The arguments after the program name.
std::vector<std::wstring> CommandLineArguments()
{
    int count = 0;
    const std::unique_ptr<LPWSTR[], LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv) return {};
    return std::vector<std::wstring>(argv.get() + (count > 0 ? 1 : 0), argv.get() + count);
}

bool Usable(HANDLE handle) { return handle && handle != INVALID_HANDLE_VALUE; }

// To the standard error of whoever started us, never in a message box: a scripted run must not
// wait for a click. A program without standard handles borrows its parent's console.
void WriteToStandardError(const std::wstring& text)
{
    HANDLE target = GetStdHandle(STD_ERROR_HANDLE);
    UniqueHandle console;
    if (!Usable(target) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        console.Reset(CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        target = console.get();
    }
    if (!Usable(target)) return;
    const std::wstring line = text + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(target, &mode)) {
        WriteConsoleW(target, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    // A pipe or a file: UTF-8.
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), bytes, nullptr,
                        nullptr);
    WriteFile(target, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

int CQuilletApp::Run(HINSTANCE instance)
{
    INITCOMMONCONTROLSEX classes = {sizeof(classes), 0xFF};
    InitCommonControlsEx(&classes);

    StartupOptions options;
    options.language = LanguageFromLangId(GetSystemDefaultLangID());
    std::wstring error;
    if (!ParseStartupArguments(CommandLineArguments(), options, error)) {
        WriteToStandardError(error);
        return kExitBadCommandLine;
    }

    // The dialog keeps its settings in HKCU\Software\Veloran\Veloran ASIO Quillet.
    CQuilletDlg dialog(options);
    if (options.check) return RunHostCheck(dialog, options);
    dialog.DoModal();
    return 0;
}
