#include "Text.h"

#include <windows.h>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <utility>

void CopyToAnsiField(const std::wstring& text, char* field, int fieldSize, UINT codePage)
{
    if (!field || fieldSize <= 0) return;
    // Character by character: a cut through the converted bytes could keep a double-byte
    // character's lead byte without its trail byte.
    int length = 0;
    for (size_t i = 0; i < text.size();) {
        const int units = IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]) ? 2 : 1;
        char bytes[8];
        const int count = WideCharToMultiByte(codePage, 0, text.data() + i, units, bytes, sizeof(bytes), nullptr,
                                              nullptr);
        if (count <= 0 || count > fieldSize - 1 - length) break;
        std::memcpy(field + length, bytes, static_cast<size_t>(count));
        length += count;
        i += static_cast<size_t>(units);
    }
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
