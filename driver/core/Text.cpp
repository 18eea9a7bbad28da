#include "Text.h"

#include <windows.h>
#include <cwchar>
#include <cwctype>
#include <utility>

void CopyToAnsiField(const std::wstring& text, char* field, int fieldSize)
{
    if (!field || fieldSize <= 0) return;
    field[0] = '\0';
    if (text.empty()) return;
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (needed <= 0) return;
    std::string ansi(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), ansi.data(), needed, nullptr,
                        nullptr);
    const size_t length = ansi.size() < static_cast<size_t>(fieldSize - 1) ? ansi.size() : fieldSize - 1;
    ansi.copy(field, length);
    field[length] = '\0';
}

void BubbleSortCaseInsensitive(std::vector<std::wstring>& items)
{
    bool swapped = true;
    while (swapped) {
        swapped = false;
        for (size_t i = 0; i + 1 < items.size(); ++i) {
            if (_wcsicmp(items[i].c_str(), items[i + 1].c_str()) > 0) {
                std::swap(items[i], items[i + 1]);
                swapped = true;
            }
        }
    }
}

std::wstring UpperCase(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

std::wstring LowerCase(std::wstring text)
{
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}
