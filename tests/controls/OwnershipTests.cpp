#include "ControlTestSupport.h"

#include <controls/ColorStatic.h>
#include <controls/ComboBoxBuddy.h>
#include <controls/MixaraLikeCheckBox.h>
#include <controls/MixaraLikeStaticFrameAuto.h>

#include <gtest/gtest.h>

namespace {

// One of each control, set up the way the owners do, reloading what they reload; the windows
// die before or after their control objects.
void BuildAndDestroyASet(bool windowsFirst)
{
    TestDialog dialog;
    CColorStatic label(kTestHostLabelFaces);
    CComboBoxBuddy combo;
    CMixaraLikeCheckBox button;
    CMixaraLikeStaticFrameAuto frame;
    label.Create(L"Static", L"Buffer size", WS_CHILD | WS_VISIBLE | SS_NOTIFY, RECT{10, 10, 130, 30}, dialog.hwnd(), 1056);
    combo.Create(L"ComboBox", L"", WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST, RECT{140, 10, 260, 100}, dialog.hwnd(), 1057);
    button.Create(L"Static", L"", WS_CHILD | WS_VISIBLE, RECT{10, 40, 40, 60}, dialog.hwnd(), 1051);
    frame.Attach(dialog.Add(L"Button", L"Record test", BS_GROUPBOX, RECT{5, 70, 300, 130}, 1048));
    LinkBuddies(label, combo);
    for (int i = 0; i < 3; ++i) {
        label.SetTextColour(RGB(255, 255, 255), i == 1, true);
        label.BuildNormalFace();
        label.BuildHoverFace(kTestHostHoverLeftCap);
        button.SetBitmaps(i ? 1041 : 1052, 1052, 1052);
        frame.Frame().SetHighlightOutline();
    }
    frame.CreateFrame(true);
    label.SetHovered(true);
    Render(dialog.hwnd());
    if (windowsFirst) DestroyWindow(dialog.hwnd());
}

TEST(ControlResources, EveryBitmapFontBrushAndPenIsReleased)
{
    BuildAndDestroyASet(false);  // lets the system set up its own caches first
    const int before = GdiObjects();
    for (int i = 0; i < 24; ++i) BuildAndDestroyASet(i % 2 == 0);
    // A leak of one object per set, on either path, would show 12 or more.
    EXPECT_LE(GdiObjects() - before, 2);
}

TEST(ControlResources, CreatedWindowsDieWithTheirControlAndAttachedOnesOutliveIt)
{
    TestDialog dialog;
    HWND placeholder = dialog.Add(L"Button", L"Inputs", BS_GROUPBOX, RECT{5, 5, 200, 100}, 1005);
    HWND frame = nullptr, title = nullptr;
    {
        CMixaraLikeStaticFrameAuto inputs;
        ASSERT_TRUE(inputs.Attach(placeholder));
        CMixaraLikeStaticFrameAuto second;
        EXPECT_FALSE(second.Attach(placeholder)) << "a window belongs to one control";
        ASSERT_TRUE(inputs.CreateFrame(false));
        frame = inputs.Frame().hwnd();
        title = inputs.Title().hwnd();
        EXPECT_EQ(CSubclassedWindow::FromHandle(frame), &inputs.Frame());
    }
    EXPECT_FALSE(IsWindow(frame));
    EXPECT_FALSE(IsWindow(title));
    EXPECT_TRUE(IsWindow(placeholder));
    EXPECT_EQ(CSubclassedWindow::FromHandle(placeholder), nullptr);

    // A window destroyed first lets its control go; the control's messages stop with it.
    CMixaraLikeCheckBox button;
    ASSERT_TRUE(button.Attach(dialog.Add(L"Static", L"", 0, RECT{5, 120, 30, 140}, 1062)));
    DestroyWindow(button.hwnd());
    EXPECT_EQ(button.hwnd(), nullptr);
}

}  // namespace
