#include "Languages.h"

#include "StringTable.h"

#include <windows.h>

namespace {
constexpr uint32_t kAutomatic = 0xFFFFFFFF;
}

int SystemLanguage() { return PRIMARYLANGID(GetSystemDefaultLangID()); }

int CLanguages::ResolveLanguage() const
{
    if (!hostKey_ || !defaultKey_) return SystemLanguage();
    uint32_t language = kAutomatic;
    if (hostKey_->TryReadDword(L"Language", language) && language != kAutomatic) return static_cast<int>(language);
    language = defaultKey_->ReadDword(L"Language", kAutomatic);
    const int resolved = language == kAutomatic ? SystemLanguage() : static_cast<int>(language);
    hostKey_->WriteDword(L"Language", static_cast<uint32_t>(resolved));
    return resolved;
}

bool LoadStringForLanguage(int id, std::wstring& text, int language) { return LoadDriverString(id, language, text); }

bool CLanguages::LoadLocalisedString(int id, std::wstring& text) const
{
    return LoadStringForLanguage(id, text, ResolveLanguage());
}

std::wstring CLanguages::Text(int id) const
{
    std::wstring text;
    LoadLocalisedString(id, text);
    return text;
}
