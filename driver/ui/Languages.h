// The driver's texts in French and English: French under id N, English under N + 1000.
#pragma once

#include "../core/SettingsKey.h"

#include <string>

constexpr int kLanguageFrench = 12;
constexpr int kLanguageEnglish = 9;

// Ids of the texts (the French id; callers always name it).
enum StringId : int {
    kStrPanelTitle = 101,
    kStrFormat = 103,
    kStrCancel = 105,
    kStrStartFailed = 112,
    kStrNoWindow = 113,             // controlPanel: the callback window could not be created
    kStrDeviceInUse = 145,          // start: exclusive only, another program holds the device
    kStrExclusiveNotAllowed = 146,  // start: exclusive only, the user forbade exclusive use
    kStrAsioSettings = 114,
    kStrNewVersion = 118,
    kStrIn = 200,
    kStrInLeft = 201,
    kStrInRight = 202,
    kStrOutLeft = 203,
    kStrOutRight = 204,
    kStrInNumbered = 205,
    kStrOutNumbered = 206,
    kStrRefreshInterfaces = 209,
    kStrVersionLine = 224,
    kStrLanguage = 251,
    kStrOnlineManual = 255,
    kStrBufferSize = 261,
    kStrSamples = 262,
    kStrControlPanel = 264,
};

// The control panel's connect-an-interface picture, drawn with French or with English text.
constexpr int kPictureConnectFrench = 3007;
constexpr int kPictureConnectOther = 3008;
constexpr int ConnectPictureId(int language)
{
    return language == kLanguageFrench ? kPictureConnectFrench : kPictureConnectOther;
}

class CLanguages {
public:
    // Without descriptors the system's language is used and nothing is stored.
    CLanguages(const CSettingsKey* hostKey, const CSettingsKey* defaultKey) : hostKey_(hostKey), defaultKey_(defaultKey) {}

    // The host's choice, else "Default Parameters", else the system's; stores it for the host.
    int ResolveLanguage() const;
    bool LoadLocalisedString(int id, std::wstring& text) const;
    std::wstring Text(int id) const;

private:
    const CSettingsKey* hostKey_;
    const CSettingsKey* defaultKey_;
};

// The lookup with its fallbacks: French falls back to English then French, any other language
// behaves as English with a French fallback. False (and an empty text) when neither exists.
bool LoadStringForLanguage(int id, std::wstring& text, int language);

int SystemLanguage();
