#include "StartupOptions.h"

#include "HostStrings.h"

namespace {

constexpr int kMaxCheckSeconds = 3600;
constexpr wchar_t kCheckUsage[] = L"Usage: VeloranAsioTest.exe /check SECONDS [/report FILE]";

bool Is(const std::wstring& arg, const wchar_t* name) { return lstrcmpiW(arg.c_str(), name) == 0; }

// A switch that may be written with or without the leading slash.
bool IsSwitch(const std::wstring& arg, const wchar_t* slashed) { return Is(arg, slashed) || Is(arg, slashed + 1); }

bool Fail(std::wstring& error, const std::wstring& problem)
{
    error = problem + L"\n" + kCheckUsage;
    return false;
}

// Only plain decimal digits, with an optional minus so that "-5" is reported as out of range.
bool ParseSeconds(const std::wstring& text, int& seconds, std::wstring& error)
{
    const size_t first = !text.empty() && text[0] == L'-' ? 1 : 0;
    if (first == text.size())
        return Fail(error, L"/check SECONDS must be a whole number, not \"" + text + L"\".");
    long long value = 0;
    for (size_t k = first; k < text.size(); ++k) {
        if (text[k] < L'0' || text[k] > L'9')
            return Fail(error, L"/check SECONDS must be a whole number, not \"" + text + L"\".");
        if (value <= kMaxCheckSeconds) value = value * 10 + (text[k] - L'0');  // stays small: no overflow
    }
    if (first == 1 || value < 1 || value > kMaxCheckSeconds)
        return Fail(error, L"/check SECONDS must be from 1 to 3600, not \"" + text + L"\".");
    seconds = static_cast<int>(value);
    return true;
}

}  // namespace

long PrivateMessageReply(const StartupOptions& options)
{
    if (options.defaultDevicesOnly) return 292;
    if (options.defaultDevicesAllowed) return 291;
    return 0;
}

int LanguageFromLangId(LANGID langId)
{
    return PRIMARYLANGID(langId) == LANG_FRENCH ? kHostLanguageFrench : kHostLanguageEnglish;
}

bool ParseStartupArguments(const std::vector<std::wstring>& args, StartupOptions& result, std::wstring& error)
{
    StartupOptions options = result;
    bool report = false;
    for (size_t k = 0; k < args.size(); ++k) {
        const std::wstring& arg = args[k];
        if (IsSwitch(arg, L"/en")) {
            options.language = kHostLanguageEnglish;
        } else if (IsSwitch(arg, L"/fr")) {
            options.language = kHostLanguageFrench;
        } else if (IsSwitch(arg, L"/VELORAN_ASIO_USE_DEF_IN_OUTS_ONLY_OK")) {
            options.defaultDevicesOnly = true;
        } else if (IsSwitch(arg, L"/VELORAN_ASIO_USE_DEF_IN_OUTS_OK")) {
            options.defaultDevicesAllowed = true;
        } else if (Is(arg, L"/check")) {
            if (k + 1 == args.size()) return Fail(error, L"/check needs SECONDS, a whole number from 1 to 3600.");
            if (!ParseSeconds(args[++k], options.checkSeconds, error)) return false;
            options.check = true;
        } else if (Is(arg, L"/report")) {
            if (k + 1 == args.size() || args[k + 1].empty()) return Fail(error, L"/report needs a FILE.");
            options.reportPath = args[++k];
            report = true;
        }
    }
    if (report && !options.check) return Fail(error, L"/report is only valid with /check.");
    result = options;
    return true;
}

void ApplyKeyChord(StartupOptions& options, bool ctrl, bool shift, bool leftAlt)
{
    if (!ctrl || !shift) return;
    if (leftAlt)
        options.defaultDevicesOnly = true;
    else
        options.defaultDevicesAllowed = true;
}
