#include "HostStrings.h"

#include <veloran/LocalizedStrings.h>

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
