#include "ControlTestSupport.h"

#include <controls/MixaraLikeCheckBox.h>

#include <gtest/gtest.h>

namespace {

constexpr int kToggleId = 2016;

class CheckBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(box_.SubclassDlgItem(dialog_.hwnd(), kToggleId));
        box_.SetBitmaps(3027, 3028, 3029);
    }
    // Whether the control shows exactly the given image.
    bool Shows(int bitmapId)
    {
        const Pixels shown = Render(window_), image = ResourceBitmap(bitmapId);
        return shown.width == image.width && shown.height == image.height && shown.data == image.data;
    }
    void Press() { SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, 0); }

    TestDialog dialog_;
    // No SS_NOTIFY: the control must catch the mouse on its own.
    HWND window_ = dialog_.Add(L"Static", L"", SS_LEFT, RECT{30, 40, 60, 52}, kToggleId);
    CMixaraLikeCheckBox box_;
};

TEST_F(CheckBoxTest, ClickFlipsTheStateAndPostsTheCommand)
{
    const RECT place = InParent(window_);
    EXPECT_EQ(place.left, 30);  // sized to the image, not moved
    EXPECT_EQ(place.top, 40);
    EXPECT_EQ(place.right - place.left, 27);
    EXPECT_EQ(place.bottom - place.top, 20);

    Press();
    SendMessageW(window_, WM_LBUTTONUP, 0, 0);
    EXPECT_TRUE(box_.GetCheck());
    EXPECT_TRUE(dialog_.commands.empty()) << "the report is posted, not sent";
    EXPECT_EQ(GetFocus(), window_);
    PumpMessages();
    ASSERT_EQ(dialog_.commands.size(), 1u);
    EXPECT_EQ(dialog_.commands[0].wParam, MAKEWPARAM(kToggleId, 0));
    EXPECT_EQ(dialog_.commands[0].lParam, reinterpret_cast<LPARAM>(window_));

    // Driven from outside like a check box; real clicks, a double click counting twice.
    SendMessageW(window_, BM_CLICK, 0, 0);
    EXPECT_EQ(SendMessageW(window_, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    ClickWithMouse(window_);
    EXPECT_TRUE(box_.GetCheck());
    ClickWithMouse(window_);
    EXPECT_FALSE(box_.GetCheck());
    PumpMessages();
    EXPECT_EQ(dialog_.commands.size(), 4u);
}

TEST_F(CheckBoxTest, WithoutAutoToggleTheParentDecides)
{
    box_.SetAutoToggle(false);
    bool sawItUnchanged = false;
    dialog_.onCommand = [&] { sawItUnchanged = !box_.GetCheck(); };
    Press();
    EXPECT_TRUE(sawItUnchanged) << "sent at once";
    EXPECT_FALSE(box_.GetCheck());
    EXPECT_TRUE(Shows(3028));

    dialog_.onCommand = [&] { box_.SetCheck(true); };
    Press();
    EXPECT_TRUE(Shows(3027));
}

TEST_F(CheckBoxTest, DrawsTheImageOfItsState)
{
    EXPECT_TRUE(Shows(3028));
    box_.SetCheck(true);
    EXPECT_TRUE(Shows(3027));
    // Disabling repaints by itself, on screen.
    EnableWindow(window_, FALSE);
    EXPECT_EQ(Grab(window_).data, ResourceBitmap(3029).data);
    box_.SetIgnoreDisabled(true);
    EXPECT_TRUE(Shows(3027));

    // Missing images draw nothing and leave the size alone.
    box_.SetBitmaps(1, 2, 3);
    EXPECT_EQ(Render(window_).Count([](COLORREF c) { return c != kUnpainted; }, RECT{0, 0, 27, 20}), 0);
    EXPECT_EQ(box_.Size().cx, 27);
}

TEST_F(CheckBoxTest, HoverIsPostedOnEnterAndLeave)
{
    auto move = [&] { SendMessageW(window_, WM_MOUSEMOVE, 0, 0); };
    PointAt(window_);
    move();  // no target yet
    SendMessageW(window_, WM_MOUSELEAVE, 0, 0);
    PumpMessages();
    EXPECT_TRUE(dialog_.hovers.empty());

    box_.SetNotifyTarget(dialog_.hwnd(), kHoverMessage);
    for (int i = 0; i < 3; ++i) move();
    PointAway();
    ASSERT_TRUE(PumpUntil([&] { return dialog_.hovers.size() >= 2; })) << "no leave after the mouse went away";
    ASSERT_EQ(dialog_.hovers.size(), 2u) << "one enter for many moves";
    EXPECT_EQ(dialog_.hovers[0].wParam, 1u);
    EXPECT_EQ(dialog_.hovers[1].wParam, 0u);
    EXPECT_EQ(dialog_.hovers[1].lParam, reinterpret_cast<LPARAM>(window_));

    PointAt(window_);
    move();
    PumpMessages();
    ASSERT_EQ(dialog_.hovers.size(), 3u) << "entering again is reported again";
    EXPECT_EQ(dialog_.hovers[2].wParam, 1u);
    PointAway();
}

}  // namespace
