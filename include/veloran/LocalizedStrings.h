// Compiled-in string tables of both programs: the French text of a message under id N, its
// English text under N + 1000.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>

struct LocalizedString {
    int id;
    const wchar_t* text;
};

constexpr int kFrenchLanguage = 12;

// The entry stored under id in a table sorted by id, or null.
template <size_t N>
const wchar_t* FindLocalized(const LocalizedString (&table)[N], int id)
{
    const auto it = std::lower_bound(std::begin(table), std::end(table), id,
                                     [](const LocalizedString& e, int key) { return e.id < key; });
    return it != std::end(table) && it->id == id ? it->text : nullptr;
}

// French tries N then the English text; any other language the English text then N. False,
// with an empty text, when neither exists.
template <size_t N>
bool LoadLocalized(const LocalizedString (&table)[N], int id, int language, std::wstring& text)
{
    const bool french = language == kFrenchLanguage;
    const wchar_t* found = FindLocalized(table, french ? id : id + 1000);
    if (!found || !*found) found = FindLocalized(table, french ? id + 1000 : id);
    text = found && *found ? found : L"";
    return !text.empty();
}
