// Texts of both programs, read from a module's string table: the French text of a message under
// id N, its English text under N + 1000.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

constexpr int kFrenchLanguage = 12;
constexpr int kEnglishIdOffset = 1000;

// The text stored under exactly this id, or empty. It points into the module's resources and is
// not terminated.
inline std::wstring_view StoredString(HMODULE module, int id)
{
    // String ids are 16 bits; LoadStringW would take a larger one for its low word.
    if (id < 0 || id > 0xFFFF) return {};
    const wchar_t* text = nullptr;
    const int length = LoadStringW(module, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring_view(text, static_cast<size_t>(length)) : std::wstring_view();
}

// French tries N then the English text; any other language the English text then N. False,
// with an empty text, when neither exists.
inline bool LoadLocalized(HMODULE module, int id, int language, std::wstring& text)
{
    text.clear();
    if (id < 0 || id > 0xFFFF - kEnglishIdOffset) return false;
    const bool french = language == kFrenchLanguage;
    std::wstring_view found = StoredString(module, french ? id : id + kEnglishIdOffset);
    if (found.empty()) found = StoredString(module, french ? id + kEnglishIdOffset : id);
    text.assign(found);
    return !text.empty();
}
