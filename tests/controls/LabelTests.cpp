#include "ControlTestSupport.h"

#include <controls/ColorStatic.h>
#include <controls/ComboBoxBuddy.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr int kLabelId = 1054, kComboId = 1055;

class LabelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(label_.SubclassDlgItem(dialog_.hwnd(), kLabelId));
        ASSERT_TRUE(combo_.SubclassDlgItem(dialog_.hwnd(), kComboId));
        for (const wchar_t* item : {L"44100 Hz", L"48000 Hz"})
            SendMessageW(comboWindow_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
        SendMessageW(comboWindow_, CB_SETCURSEL, 0, 0);
    }
    int ComboCommands(WORD code) const
    {
        return static_cast<int>(std::count_if(dialog_.commands.begin(), dialog_.commands.end(), [&](const Posted& c) {
            return c.wParam == MAKEWPARAM(kComboId, code);
        }));
    }

    TestDialog dialog_;
    HWND labelWindow_ = dialog_.Add(L"Static", L"Sample rate", SS_LEFT | SS_NOTIFY, RECT{10, 10, 311, 30}, kLabelId);
    HWND comboWindow_ = dialog_.Add(L"ComboBox", L"", CBS_DROPDOWNLIST | WS_VSCROLL, RECT{10, 40, 160, 140}, kComboId);
    CColorStatic label_{kTestHostLabelFaces};
    CComboBoxBuddy combo_;
};

TEST_F(LabelTest, FacesCoverTheLabelAndLetTheTextShowThrough)
{
    label_.BuildNormalFace();
    ASSERT_EQ(label_.FaceSize().cx, 301);
    const Pixels left = ResourceBitmap(6996), right = ResourceBitmap(6998);
    for (const Pixels& shown : {Render(labelWindow_), Grab(labelWindow_)}) {
        // Below the text every column, the last too, is the blue face, with the caps at the ends.
        EXPECT_EQ(shown.Count(Bluish, RECT{0, 16, 301, 17}), 301);
        EXPECT_EQ(shown.At(0, 16), left.At(0, 16));
        EXPECT_EQ(shown.At(300, 16), right.At(right.width - 1, 16));
        // White letters straight on the face: no text background, none of the label's colour.
        EXPECT_GT(shown.Count(White, RECT{0, 0, 80, 20}), 10);
        EXPECT_GT(shown.Count(Bluish, RECT{0, 0, 60, 14}), 60 * 14 / 2);
        // Anti-aliased letter edges may pass near that grey; an opaque text background fills the cell.
        EXPECT_LT(shown.Count([](COLORREF c) { return Near(c, RGB(224, 223, 227), 8); }, RECT{0, 0, 301, 20}), 40);
    }
    // New text is drawn on a fresh face, not over the old letters.
    SetWindowTextW(labelWindow_, L"");
    EXPECT_EQ(Grab(labelWindow_).Count(White, RECT{0, 3, 80, 17}), 0);
}

TEST_F(LabelTest, HoverFaceFollowsTheMouseOverTheLabelAndItsCombo)
{
    label_.BuildNormalFace();
    PointAt(labelWindow_);
    SendMessageW(labelWindow_, WM_MOUSEMOVE, 0, 0);
    EXPECT_FALSE(label_.IsHovered()) << "no hover face, no hovering";

    label_.BuildHoverFace(kTestHostHoverLeftCap);
    LinkBuddies(label_, combo_);
    SendMessageW(labelWindow_, WM_MOUSEMOVE, 0, 0);
    ASSERT_TRUE(label_.IsHovered());
    const Pixels hovered = Render(labelWindow_);
    EXPECT_EQ(hovered.Count(Yellowish, RECT{1, 16, 300, 17}), 299);
    EXPECT_GT(hovered.Count([](COLORREF c) { return Near(c, RGB(0, 0, 0), 60); }, RECT{0, 2, 80, 18}), 10);
    PointAway();
    ASSERT_TRUE(PumpUntil([&] { return !label_.IsHovered(); }));
    EXPECT_EQ(Render(labelWindow_).Count(Bluish, RECT{0, 16, 301, 17}), 301);

    PointAt(comboWindow_);
    SendMessageW(comboWindow_, WM_MOUSEMOVE, 0, 0);
    EXPECT_TRUE(label_.IsHovered());
    PointAway();
    EXPECT_TRUE(PumpUntil([&] { return !label_.IsHovered(); }));

    // A disabled combo: the label neither lights up nor opens the list.
    EnableWindow(comboWindow_, FALSE);
    PointAt(labelWindow_);
    SendMessageW(labelWindow_, WM_MOUSEMOVE, 0, 0);
    SendMessageW(labelWindow_, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_FALSE(label_.IsHovered());
    EXPECT_FALSE(SendMessageW(comboWindow_, CB_GETDROPPEDSTATE, 0, 0));
    PointAway();
}

TEST_F(LabelTest, ClickOpensTheBuddyListAndItsNotificationsStayInside)
{
    LinkBuddies(label_, combo_);
    SendMessageW(labelWindow_, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ASSERT_TRUE(SendMessageW(comboWindow_, CB_GETDROPPEDSTATE, 0, 0));
    EXPECT_EQ(GetFocus(), comboWindow_);
    RECT list{};
    SendMessageW(comboWindow_, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&list));
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_EQ(cursor.x, (list.left + list.right) / 2);
    EXPECT_EQ(cursor.y, (list.top + list.bottom) / 2);

    SendMessageW(comboWindow_, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ(GetFocus(), labelWindow_) << "closing the list hands the focus back to the label";
    SendMessageW(comboWindow_, WM_KEYDOWN, VK_DOWN, 0);
    PumpMessages();
    EXPECT_EQ(ComboCommands(CBN_SELCHANGE), 1);
    EXPECT_EQ(ComboCommands(CBN_DROPDOWN), 0);
    EXPECT_EQ(ComboCommands(CBN_CLOSEUP), 0);
    PointAway();
}

TEST_F(LabelTest, ColoursAndFontsOfPlainLabelsAndCombos)
{
    const HDC dc = CreateCompatibleDC(nullptr);
    auto askParent = [&] {
        return reinterpret_cast<HGDIOBJ>(SendMessageW(dialog_.hwnd(), WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                                      reinterpret_cast<LPARAM>(comboWindow_)));
    };
    EXPECT_EQ(askParent(), GetStockObject(NULL_BRUSH));
    EXPECT_EQ(GetTextColor(dc), RGB(133, 151, 169));
    EXPECT_EQ(GetBkColor(dc), RGB(3, 5, 7));
    combo_.SetCustomColours(false);
    EXPECT_NE(askParent(), GetStockObject(NULL_BRUSH));
    DeleteDC(dc);

    // Without faces: filled with the background colour, written in the text colour.
    label_.SetBackgroundColour(RGB(45, 78, 109));
    label_.SetTextColour(RGB(255, 0, 0), true, true);
    const Pixels shown = Render(labelWindow_);
    EXPECT_EQ(shown.Count([](COLORREF c) { return c == RGB(45, 78, 109); }, RECT{200, 0, 301, 20}), 101 * 20);
    EXPECT_GT(shown.Count([](COLORREF c) { return GetRValue(c) > 150 && GetGValue(c) < 90; }, RECT{0, 0, 80, 20}), 10);

    // One pair of font copies, whatever the switching; the test host's form never bolds.
    auto weight = [&] {
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(labelWindow_, WM_GETFONT, 0, 0)), sizeof(font), &font);
        return font.lfWeight;
    };
    EXPECT_EQ(weight(), FW_BOLD);
    const int objects = GdiObjects();
    for (int i = 0; i < 20; ++i) label_.SetTextColour(RGB(1, 2, 3), i % 2 == 0, false);
    EXPECT_EQ(GdiObjects(), objects);
    label_.SetTextColour(RGB(4, 5, 6), true);
    EXPECT_LT(weight(), FW_BOLD);
}

}  // namespace
