// The test host's texts in French and English: French under id N, English under N + 1000, in the
// program's string table (resources/testhost/Strings.rc).
#pragma once

#include <string>

constexpr int kHostLanguageFrench = 12;
constexpr int kHostLanguageEnglish = 9;

// Ids of the texts (the French id; callers always name it).
enum HostStringId : int {
    kHostStrTitle = 100,
    kHostStrExplanation = 101,
    kHostStrHardware = 102,
    kHostStrNoHardware = 103,
    kHostStrInputs = 104,
    kHostStrOutputs = 105,
    kHostStrClose = 106,
    kHostStrOpening = 107,
    kHostStrMonitoringActive = 109,
    kHostStrMonitoringInactive = 110,
    kHostStrProcessorUsage = 111,
    kHostStrControlPanel = 112,
    kHostStrStartMonitoring = 113,
    kHostStrPlayTest = 114,
    kHostStrRecordTest = 115,
    kHostStrTestSettings = 116,
    kHostStrStartPlay = 117,
    kHostStrStopPlay = 118,
    kHostStrInternalAudio = 119,
    kHostStrChosenFile = 120,
    kHostStrStopMonitoring = 121,
    kHostStrSampleRate = 122,
    kHostStrBufferSize = 123,
    kHostStrSamples = 124,
    kHostStrOpenError = 125,
    kHostStrNone = 126,
    kHostStrStartRecording = 127,
    kHostStrStopRecording = 128,
    kHostStrRecordStereo = 129,
    kHostStrRecordPerInput = 130,
    kHostStrRecordFolder = 131,
    kHostStrBrowse = 132,
    kHostStrActivateInput = 133,
    kHostStrDeactivateInput = 134,
    kHostStrActivateOutput = 135,
    kHostStrDeactivateOutput = 136,
    kHostStrMonitoringFrame = 137,
    kHostStrNoInput = 138,
    kHostStrOneInput = 139,
    kHostStrNoOutput = 140,
    kHostStrFileReadError = 150,
    kHostStrFileRateUnsupported = 151,
    kHostStrFileChannelsUnsupported = 152,
    kHostStrFileBitsUnsupported = 153,
    kHostStrFileRateDiffers = 154,
    kHostStrFileChoiceTitle = 155,
    kHostStrFileChoiceFilter = 156,
};

// French tries the id then id + 1000; any other language id + 1000 then the id.
// False (and an empty text) when neither exists.
bool LoadHostString(int id, int language, std::wstring& text);
std::wstring HostText(int id, int language);
