#include "ControlTestSupport.h"

#include <controls/MixaraLikeStaticFrameAuto.h>

#include <gtest/gtest.h>

namespace {

TEST(MixaraLikeStaticFrame, FillsAndOutlinesBelowTheTitleBand)
{
    TestDialog dialog;
    CMixaraLikeStaticFrame frame;
    ASSERT_TRUE(frame.Create(L"Static", L"", WS_CHILD | WS_VISIBLE, RECT{10, 10, 130, 70}, dialog.hwnd(), 1));
    for (COLORREF outline : {kFrameOutlineColour, kFrameHighlightOutlineColour}) {
        const Pixels shown = Render(frame.hwnd());
        EXPECT_EQ(shown.At(60, 30), kFrameFillColour);
        EXPECT_EQ(shown.At(60, 2), kFrameFillColour) << "no outline above the title band";
        EXPECT_EQ(shown.At(0, 6), kFrameFillColour) << "rounded corner";
        for (POINT edge : {POINT{60, 6}, POINT{0, 30}, POINT{119, 30}, POINT{60, 59}})
            EXPECT_EQ(shown.At(edge.x, edge.y), outline);
        frame.SetHighlightOutline();
    }
}

class FrameAutoTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(auto_.SubclassDlgItem(dialog_.hwnd(), 1047)); }

    TestDialog dialog_;
    HWND placeholder_ = dialog_.Add(L"Button", L"Play test", BS_GROUPBOX, RECT{10, 100, 400, 160}, 1047);
    CMixaraLikeStaticFrameAuto auto_;
};

TEST_F(FrameAutoTest, ReplacesTheGroupBoxWithFrameAndTitle)
{
    ASSERT_TRUE(auto_.CreateFrame(true));
    HWND frame = auto_.Frame().hwnd(), title = auto_.Title().hwnd();
    EXPECT_FALSE(IsWindowVisible(placeholder_));
    const RECT area = InParent(frame), expected{10, 100, 400, 160};
    EXPECT_TRUE(EqualRect(&area, &expected));
    EXPECT_EQ(GetWindow(dialog_.hwnd(), GW_CHILD), frame) << "frame on top of its siblings";
    EXPECT_EQ(GetWindow(frame, GW_HWNDNEXT), title) << "title right after it";

    // The group box's text in bold, at the frame's top edge, as wide as the text plus 2.
    wchar_t text[32]{};
    GetWindowTextW(title, text, 32);
    EXPECT_STREQ(text, L"Play test");
    const HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(title, WM_GETFONT, 0, 0));
    LOGFONTW described{};
    GetObjectW(font, sizeof(described), &described);
    EXPECT_EQ(described.lfWeight, FW_BOLD);
    SIZE extent{};
    {
        ClientDC dc(title);
        SelectedObject selected(dc.get(), font);
        GetTextExtentPoint32W(dc.get(), text, 9, &extent);
    }
    const RECT place = InParent(title), wanted{19, 100, 19 + extent.cx + 2, 118};
    EXPECT_TRUE(EqualRect(&place, &wanted));

    // On screen: title colour on the frame's fill, which hides the outline under the title.
    const Pixels screen = Grab(dialog_.hwnd());
    EXPECT_GT(screen.Count([](COLORREF c) { return Near(c, kFrameTitleColour, 30); }, place), 10);
    EXPECT_EQ(screen.At(place.right - 1, 106), kFrameFillColour);
    EXPECT_EQ(screen.At(place.right + 20, 106), kFrameHighlightOutlineColour);
    EXPECT_EQ(screen.At(200, 140), kFrameFillColour);
}

TEST_F(FrameAutoTest, EmptyTitleHidesOnlyTheLabelAndBothMoveTogether)
{
    ASSERT_TRUE(auto_.CreateFrame(false));
    HWND frame = auto_.Frame().hwnd(), title = auto_.Title().hwnd();
    auto_.SetTitle(L"");
    EXPECT_FALSE(IsWindowVisible(title));
    EXPECT_TRUE(IsWindowVisible(frame));

    auto_.MoveVertically(25);
    EXPECT_EQ(InParent(frame).top, 125);
    EXPECT_EQ(InParent(frame).bottom, 185);
    auto_.SetTitle(L"Record test");
    EXPECT_TRUE(IsWindowVisible(title));
    EXPECT_EQ(InParent(title).top, 125) << "the title stays on the moved frame";
    auto_.MoveVertically(-5);
    EXPECT_EQ(InParent(title).top, 120);
    EXPECT_EQ(InParent(frame).top, 120);
    EXPECT_EQ(GetWindow(frame, GW_HWNDNEXT), title);
}

}  // namespace
