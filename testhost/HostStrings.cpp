#include "HostStrings.h"

#include <veloran/LocalizedStrings.h>

const wchar_t* FindHostString(int id) { return FindStoredString(GetModuleHandleW(nullptr), id); }

bool LoadHostString(int id, int language, std::wstring& text)
{
    return LoadLocalized(GetModuleHandleW(nullptr), id, language, text);
}

std::wstring HostText(int id, int language)
{
    std::wstring text;
    LoadHostString(id, language, text);
    return text;
}
