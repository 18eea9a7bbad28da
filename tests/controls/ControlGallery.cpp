// Shows every shared control in the skin, laid out like the test host's lower half, for a look
// or a screenshot: controls_gallery.exe [seconds before it closes by itself]
#include "ControlTestSupport.h"

#include <controls/ColorStatic.h>
#include <controls/ComboBoxBuddy.h>
#include <controls/MixaraLikeCheckBox.h>
#include <controls/MixaraLikeStaticFrameAuto.h>

#include <commctrl.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct Gallery {
    std::vector<std::unique_ptr<CSubclassedWindow>> controls;
    template <typename T, typename... Args>
    T& Make(Args&&... args)
    {
        controls.push_back(std::make_unique<T>(std::forward<Args>(args)...));
        return static_cast<T&>(*controls.back());
    }
};

LRESULT CALLBACK Background(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_ERASEBKGND) {
        RECT client{};
        GetClientRect(window, &client);
        UniqueBrush fill(CreateSolidBrush(RGB(58, 87, 115)));
        FillRect(reinterpret_cast<HDC>(wParam), &client, fill.get());
        return 1;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv)
{
    TestDialog dialog;
    HWND parent = dialog.hwnd();
    SetWindowPos(parent, nullptr, 20, 20, 560, 430, SWP_NOZORDER);
    SetWindowSubclass(parent, Background, 1, 0);
    Gallery g;
    int nextId = 100;
    auto frame = [&](const wchar_t* title, RECT rect, bool bold) {
        auto& f = g.Make<CMixaraLikeStaticFrameAuto>();
        f.Attach(dialog.Add(L"Button", title, BS_GROUPBOX, rect, nextId++));
        f.CreateFrame(bold);
    };
    auto button = [&](int x, int y, int on, int off, int grey, bool checked, bool enabled) {
        auto& b = g.Make<CMixaraLikeCheckBox>();
        b.Attach(dialog.Add(L"Static", L"", SS_NOTIFY, RECT{x, y, x + 10, y + 10}, nextId++));
        b.SetBitmaps(on, off, grey);
        b.SetCheck(checked);
        EnableWindow(b.hwnd(), enabled);
    };
    auto text = [&](const wchar_t* words, RECT rect, COLORREF colour, COLORREF back) {
        auto& t = g.Make<CColorStatic>(kTestHostLabelFaces);
        t.Attach(dialog.Add(L"Static", words, SS_LEFT | SS_NOPREFIX, rect, nextId++));
        t.SetBackgroundColour(back);
        t.SetTextColour(colour, false);
    };

    frame(L"Veloran ASIO Driver : Functionality test", RECT{10, 10, 540, 80}, true);
    text(L"This tool allows you to check and validate the correct operation of the Veloran ASIO driver.",
         RECT{20, 30, 470, 70}, RGB(255, 255, 255), RGB(58, 87, 115));
    button(490, 40, 1060, 1060, 1061, false, true);
    frame(L" 2 Inputs", RECT{10, 90, 190, 170}, true);
    frame(L" 2 Outputs", RECT{350, 90, 540, 170}, true);
    for (int row = 0; row < 2; ++row) {
        const int y = 110 + 22 * row;
        text(row ? L" In R" : L" In L", RECT{20, y, 140, y + 18}, RGB(133, 151, 169), RGB(45, 78, 109));
        button(150, y - 1, 1071, 1070, 1072, row == 0, true);
        button(362, y - 1, 1068, 1067, 1069, row == 0, true);
        text(row ? L" Out R" : L" Out L", RECT{400, y, 530, y + 18}, RGB(133, 151, 169), RGB(45, 78, 109));
    }
    button(150, 153, 1071, 1070, 1072, false, false);
    button(362, 153, 1068, 1067, 1069, false, false);

    frame(L"Play test", RECT{10, 180, 540, 230}, true);
    auto& play = g.Make<CComboBoxBuddy>();
    play.Attach(dialog.Add(L"ComboBox", L"", CBS_DROPDOWNLIST, RECT{22, 198, 400, 300}, nextId++));
    SendMessageW(play.hwnd(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Internal Veloran audio file"));
    SendMessageW(play.hwnd(), CB_SETCURSEL, 0, 0);
    button(420, 194, 1041, 1052, 1052, true, true);
    button(470, 194, 1041, 1053, 1053, false, true);

    frame(L"Test settings", RECT{10, 240, 540, 290}, true);
    CColorStatic* labels[2]{};
    for (int i = 0; i < 2; ++i) {
        const int x = 22 + 260 * i;
        auto& label = g.Make<CColorStatic>(kTestHostLabelFaces);
        label.Attach(dialog.Add(L"Static", i ? L"Buffer size" : L"Sample rate", SS_CENTER | SS_CENTERIMAGE | SS_NOTIFY,
                                RECT{x, 258, x + 120, 278}, nextId++));
        label.BuildNormalFace();
        label.BuildHoverFace(kTestHostHoverLeftCap);
        auto& combo = g.Make<CComboBoxBuddy>();
        combo.Attach(dialog.Add(L"ComboBox", L"", CBS_DROPDOWNLIST, RECT{x + 126, 258, x + 240, 360}, nextId++));
        SendMessageW(combo.hwnd(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(i ? L"512 samples" : L"48000 Hz"));
        SendMessageW(combo.hwnd(), CB_SETCURSEL, 0, 0);
        LinkBuddies(label, combo);
        labels[i] = &label;
    }
    labels[1]->SetHovered(true);

    // The control panel's images.
    frame(L"Control panel", RECT{10, 300, 540, 390}, false);
    const int panel[][3] = {{3027, 3028, 3029}, {3030, 3031, 3032}, {3033, 3034, 3035}, {3036, 3037, 3038},
                            {3039, 3040, 3040}, {3085, 3086, 3087}, {3110, 3112, 3111}, {1065, 1065, 1066},
                            {1059, 1059, 1059}, {1040, 1040, 1040}};
    for (int i = 0; i < 10; ++i) {
        const int x = 22 + 52 * i;
        button(x, 320, panel[i][0], panel[i][1], panel[i][2], true, true);
        button(x, 350, panel[i][0], panel[i][1], panel[i][2], false, i != 8 && i != 9);
    }

    RedrawWindow(parent, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    if (seconds > 0) SetTimer(parent, 1, seconds * 1000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); });
    MSG msg;
    while (IsWindow(parent) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(parent, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 0;
}
