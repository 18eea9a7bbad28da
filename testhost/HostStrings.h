// The test host's texts in French and English: French under id N, English under N + 1000.
#pragma once

#include <string>

constexpr int kHostLanguageFrench = 12;
constexpr int kHostLanguageEnglish = 9;

// Ids of the texts (the French id; callers always name it).
enum HostStringId : int {
    kHostStrTitle = 100,
    kHostStrInternalAudio = 119,
    kHostStrFileReadError = 150,
    kHostStrFileRateUnsupported = 151,
    kHostStrFileChannelsUnsupported = 152,
    kHostStrFileBitsUnsupported = 153,
    kHostStrFileRateDiffers = 154,
    kHostStrFileChoiceTitle = 155,
    kHostStrFileChoiceFilter = 156,
};

// The text stored under this id, or null.
const wchar_t* FindHostString(int id);

// French tries the id then id + 1000; any other language id + 1000 then the id.
// False (and an empty text) when neither exists.
bool LoadHostString(int id, int language, std::wstring& text);
std::wstring HostText(int id, int language);
