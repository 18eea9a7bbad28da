#include "QuilletApp.h"

#include "HostCheck.h"
#include "QuilletDlg.h"
#include "StandardStreams.h"
#include "StartupOptions.h"

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

}  // namespace

int CQuilletApp::Run(HINSTANCE instance)
{
    INITCOMMONCONTROLSEX classes = {sizeof(classes), 0xFF};
    InitCommonControlsEx(&classes);

    StartupOptions options;
    options.language = LanguageFromLangId(GetSystemDefaultLangID());
    std::wstring error;
    if (!ParseStartupArguments(CommandLineArguments(), options, error)) {
        // Never a message box: a scripted run must not wait for a click.
        WriteToStandardStream(STD_ERROR_HANDLE, error + L"\r\n");
        return kExitBadCommandLine;
    }

    // The dialog keeps its settings in HKCU\Software\Veloran\Veloran ASIO Quillet.
    CQuilletDlg dialog(options);
    if (options.check) return RunHostCheck(dialog, options);
    dialog.DoModal();
    return 0;
}
