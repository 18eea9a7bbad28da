#include "PlaySources.h"

#include <controls/ComboItems.h>
#include "HostStrings.h"
#include "TestEngine.h"

#include <controls/GdiObjects.h>
#include <veloran/FileNames.h>

#include <algorithm>

namespace {

int TextWidth(HWND combo, const std::wstring& text)
{
    ClientDC dc(combo);
    SelectedObject font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(combo, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    return extent.cx;
}

}  // namespace

void FillPlaySources(HWND combo, int language, const std::vector<std::wstring>& recordedFiles,
                     const std::wstring& chosenFile)
{
    const LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);

    std::vector<std::wstring> texts{HostText(kHostStrInternalAudio, language)};
    AddComboItem(combo, texts.back(), kPlaySourceInternal);
    for (size_t k = 0; k < recordedFiles.size(); ++k) {
        texts.push_back(HostText(kHostStrRecordTest, language) + L" \"" + FileTitleOf(recordedFiles[k]) + L"\"");
        AddComboItem(combo, texts.back(), kPlaySourceRecordedFirst + static_cast<int>(k));
    }
    const std::wstring chosen = chosenFile.empty() ? HostText(kHostStrNone, language) : FileTitleOf(chosenFile);
    texts.push_back(HostText(kHostStrChosenFile, language) + L" (" + chosen + L")");
    AddComboItem(combo, texts.back(), kPlaySourceChosenFile);

    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    SendMessageW(combo, CB_SETCURSEL, selected >= 0 && selected < count ? selected : 0, 0);

    int widest = 0;
    for (const std::wstring& text : texts) widest = std::max(widest, TextWidth(combo, text));
    RECT window{};
    GetWindowRect(combo, &window);
    const int scrollBar = GetSystemMetrics(SM_CXVSCROLL);
    if (window.right - window.left - scrollBar < widest)
        SendMessageW(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + scrollBar), 0);
}
