#include "ControlTestSupport.h"

#include <ui/CTransparentIcon.h>
#include <ui/EditForModelessDlg.h>
#include <ui/MixaraLikeLevelMeter.h>
#include <ui/MixaraLikeNumberBox.h>
#include <ui/MixaraLikeSliderCtrl.h>
#include <ui/StaticArrow.h>
#include <ui/StaticLine.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <thread>
#include <vector>

namespace {

// Records the given messages a window receives, before its own procedure sees them.
class MessageLog {
public:
    MessageLog(HWND window, std::initializer_list<UINT> wanted) : window_(window), wanted_(wanted)
    {
        SetWindowSubclass(window_, Proc, 1, reinterpret_cast<DWORD_PTR>(this));
    }
    ~MessageLog() { RemoveWindowSubclass(window_, Proc, 1); }

    struct Entry {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::vector<Entry> seen;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self)
    {
        auto* log = reinterpret_cast<MessageLog*>(self);
        for (UINT wanted : log->wanted_)
            if (message == wanted) log->seen.push_back({message, wParam, lParam});
        return DefSubclassProc(window, message, wParam, lParam);
    }
    HWND window_;
    std::vector<UINT> wanted_;
};

// Whether image appears in shown with its top-left corner at (x, y).
bool ShowsAt(const Pixels& shown, const Pixels& image, int x, int y)
{
    if (x < 0 || y < 0 || x + image.width > shown.width || y + image.height > shown.height) return false;
    for (int row = 0; row < image.height; ++row)
        for (int col = 0; col < image.width; ++col)
            if (shown.At(x + col, y + row) != image.At(col, row)) return false;
    return true;
}

// --- Level meter ---------------------------------------------------------------------------

constexpr COLORREF kOff[3] = {RGB(0, 24, 47), RGB(24, 183, 173), RGB(40, 67, 94)};
constexpr COLORREF kLine[3] = {RGB(29, 55, 79), RGB(76, 235, 223), RGB(49, 77, 104)};
constexpr int kMeterHeight = 178;

// The frame a level shows on a bar of 178 rows: the most lit rows (2 per frame) whose share of
// the bar does not pass the level.
int ExpectedFrame(int level)
{
    int frame = 0;
    for (int j = 0; j <= kMeterHeight / 2; ++j)
        if (std::min(static_cast<int>(j * 100.0 / (kMeterHeight / 2)), 99) <= level - 1) frame = j;
    return frame;
}

class LevelMeterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(meter_.Create(L"Static", L"", WS_CHILD | WS_VISIBLE, RECT{10, 5, 13, 5 + kMeterHeight},
                                  dialog_.hwnd(), 7100));
    }
    // Lit rows at the bottom of what the meter shows; -1 when the bar is not an unlit pattern
    // over a piece of the ramp.
    int LitRows()
    {
        const Pixels shown = Render(meter_.hwnd());
        int unlit = 0;
        while (unlit < shown.height && shown.At(1, unlit) == (unlit % 2 ? kLine[0] : kOff[0])) ++unlit;
        for (int y = unlit; y < shown.height; ++y)
            for (int x = 0; x < 3; ++x)
                if (shown.At(x, y) != ramp_.At(x, y)) return -1;
        return shown.height - unlit;
    }
    void Tick(int times = 1)
    {
        for (int i = 0; i < times; ++i) SendMessageW(meter_.hwnd(), WM_TIMER, CMixaraLikeLevelMeter::kFallTimer, 0);
    }
    bool FallTimerRunning() { return KillTimer(meter_.hwnd(), CMixaraLikeLevelMeter::kFallTimer); }

    TestDialog dialog_;
    CMixaraLikeLevelMeter meter_;
    const Pixels ramp_ = ResourceBitmap(3088);
};

TEST_F(LevelMeterTest, EveryLevelShowsItsPrerenderedFrame)
{
    meter_.SetLevel(50);  // before the frames exist: ignored
    EXPECT_EQ(Render(meter_.hwnd()).Count([](COLORREF c) { return c != kUnpainted; }, RECT{0, 0, 3, kMeterHeight}), 0);

    ASSERT_EQ(ramp_.height, kMeterHeight);
    meter_.BuildFrames(kOff, kLine);
    EXPECT_EQ(meter_.FrameCount(), 90);
    EXPECT_EQ(LitRows(), 0);
    for (int level : {1, 50, 100}) {
        meter_.SetLevel(level);
        EXPECT_EQ(LitRows(), 2 * ExpectedFrame(level)) << "level " << level;
    }
    EXPECT_EQ(ExpectedFrame(50), 44);
    EXPECT_EQ(LitRows(), kMeterHeight) << "full scale lights the whole bar";
    meter_.SetLevel(-7);
    EXPECT_EQ(LitRows(), 0);
    meter_.SetLevel(250);
    EXPECT_EQ(LitRows(), kMeterHeight);
}

TEST_F(LevelMeterTest, HeldPeakFallsByTwoLevelsPerTick)
{
    meter_.BuildFrames(kOff, kLine);
    meter_.SetFallOff(true, 10);
    meter_.SetLevel(80);
    EXPECT_EQ(LitRows(), 2 * ExpectedFrame(80));
    meter_.SetLevel(20);
    EXPECT_EQ(LitRows(), 2 * ExpectedFrame(80)) << "a lower level leaves the held bar";
    Tick();
    EXPECT_EQ(LitRows(), 2 * ExpectedFrame(78));
    Tick(9);
    EXPECT_EQ(LitRows(), 2 * ExpectedFrame(60));
    meter_.SetLevel(90);
    EXPECT_EQ(LitRows(), 2 * ExpectedFrame(90)) << "a higher level shows at once";
    Tick(45);
    EXPECT_EQ(LitRows(), 0) << "the fall ends dark";
    EXPECT_FALSE(FallTimerRunning());
}

TEST_F(LevelMeterTest, DisabledShowsStripesAndEnabledAnEmptyBar)
{
    meter_.BuildFrames(kOff, kLine);
    meter_.SetFallOff(true, 10);
    meter_.SetLevel(100);
    EnableWindow(meter_.hwnd(), FALSE);
    EXPECT_FALSE(FallTimerRunning()) << "disabling ends the fall";
    meter_.SetLevel(100);
    const Pixels shown = Grab(meter_.hwnd());
    for (int y = 0; y < kMeterHeight; ++y)
        ASSERT_EQ(shown.At(2, y), (kMeterHeight - y) % 2 ? kOff[2] : kLine[2]) << "row " << y;
    EnableWindow(meter_.hwnd(), TRUE);
    EXPECT_EQ(LitRows(), 0);
    meter_.SetLevel(30);
    EXPECT_EQ(LitRows(), 2 * ExpectedFrame(30)) << "no peak held from before";
}

TEST_F(LevelMeterTest, TheLevelWorkerNeitherWaitsForTheWindowNorLosesTheFall)
{
    meter_.BuildFrames(kOff, kLine);
    meter_.SetFallOff(true, 60000);  // no real tick during the test
    // This thread does not pump while the worker runs: a redraw that waited for it would hang.
    std::thread worker([&] { meter_.SetLevel(80); });
    worker.join();
    EXPECT_EQ(LitRows(), 2 * ExpectedFrame(80));
    PumpMessages();
    EXPECT_TRUE(FallTimerRunning()) << "the window's thread starts the fall";
}

TEST(LevelMeter, ABarOfOneRowHasOneEmptyFrame)
{
    TestDialog dialog;
    CMixaraLikeLevelMeter meter;
    ASSERT_TRUE(meter.Create(L"Static", L"", WS_CHILD | WS_VISIBLE, RECT{10, 5, 13, 6}, dialog.hwnd(), 7100));
    meter.BuildFrames(kOff, kLine);
    EXPECT_EQ(meter.FrameCount(), 1);
    meter.SetLevel(100);
    EXPECT_EQ(Render(meter.hwnd()).At(0, 0), kOff[0]);
}

// --- Fader ---------------------------------------------------------------------------------

constexpr int kFaderW = 24, kFaderH = 185;  // thumbs 12 x 20: they travel from y 3 to 161

class SliderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(slider_.Attach(window_));
        slider_.SetThumbBitmaps(3026, 3025, 3024, 19);
        slider_.SetTrackBitmap(3023);
        slider_.SetRange(0, 100);
        slider_.SetValue(100);
        slider_.SetWheelStep(10);
    }
    LPARAM At(int y) const { return MAKELPARAM(12, y); }
    void Wheel(int notches) { SendMessageW(window_, WM_MOUSEWHEEL, MAKEWPARAM(0, notches * WHEEL_DELTA), 0); }
    // The values the parent was told, each with SB_THUMBTRACK and the fader's handle.
    std::vector<int> Reported()
    {
        std::vector<int> values;
        for (const auto& entry : log_.seen) {
            EXPECT_EQ(LOWORD(entry.wParam), SB_THUMBTRACK);
            EXPECT_EQ(entry.lParam, reinterpret_cast<LPARAM>(window_));
            values.push_back(static_cast<short>(HIWORD(entry.wParam)));
        }
        log_.seen.clear();
        return values;
    }
    bool ThumbAt(int thumbId, int y) { return ShowsAt(Render(window_), ResourceBitmap(thumbId), 6, y); }

    TestDialog dialog_;
    HWND window_ = dialog_.Add(L"Static", L"", 0, RECT{20, 5, 20 + kFaderW, 5 + kFaderH}, 7029);
    MessageLog log_{dialog_.hwnd(), {WM_VSCROLL}};
    CMixaraLikeSliderCtrl slider_;
};

TEST_F(SliderTest, ThumbFollowsTheValueAndItsState)
{
    const Pixels track = ResourceBitmap(3023);
    EXPECT_EQ(Render(window_).At(12, 100), track.At(12, 100));
    EXPECT_TRUE(ThumbAt(3026, 3)) << "top value";
    slider_.SetValue(50);
    EXPECT_TRUE(ThumbAt(3026, 82));
    slider_.SetValue(-20);
    EXPECT_EQ(slider_.GetValue(), 0);
    EXPECT_TRUE(ThumbAt(3026, kFaderH - 20 - 4)) << "bottom value";
    EXPECT_TRUE(Reported().empty()) << "set by the owner: not reported";

    // The real mouse: in, then out again.
    slider_.SetNotifyTarget(dialog_.hwnd(), kHoverMessage);
    PointAt(window_);
    ASSERT_TRUE(PumpUntil([&] { return dialog_.hovers.size() >= 1; }));
    EXPECT_TRUE(ThumbAt(3025, 161)) << "hot under the mouse";
    EXPECT_EQ(GetFocus(), window_) << "so that the wheel reaches it";
    PointAway();
    ASSERT_TRUE(PumpUntil([&] { return dialog_.hovers.size() >= 2; }));
    EXPECT_EQ(dialog_.hovers[1].wParam, 0u);
    EXPECT_TRUE(ThumbAt(3026, 161));
    EXPECT_EQ(slider_.GetValue(), 0) << "hovering moves nothing";
    EnableWindow(window_, FALSE);
    EXPECT_TRUE(ThumbAt(3024, 161));

    // Thumbs of different sizes: nothing of its own is drawn.
    slider_.SetThumbBitmaps(3026, 3025, 3088, 19);
    EXPECT_EQ(Render(window_).Count([](COLORREF c) { return c != kUnpainted; }, RECT{0, 0, kFaderW, kFaderH}), 0);
}

TEST_F(SliderTest, WheelStepsStopAtTheEnds)
{
    slider_.SetValue(95);
    Wheel(1);
    EXPECT_EQ(slider_.GetValue(), 100);
    Wheel(1);
    EXPECT_EQ(Reported(), std::vector<int>{100}) << "no report without a change";
    slider_.SetValue(3);
    Wheel(-1);
    EXPECT_EQ(slider_.GetValue(), 0);
    Wheel(-1);
    EXPECT_EQ(Reported(), std::vector<int>{0});
}

TEST_F(SliderTest, TrackClickMovesOnReleaseAndTheThumbDrags)
{
    SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, At(150));
    EXPECT_EQ(slider_.GetValue(), 100) << "not on the press";
    EXPECT_TRUE(Reported().empty());
    SendMessageW(window_, WM_LBUTTONUP, 0, At(150));
    EXPECT_EQ(slider_.GetValue(), 10);
    EXPECT_EQ(Reported(), std::vector<int>{10});

    // The thumb now spans y 145 to 165: grab it, drag it up, let go.
    SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, At(150));
    EXPECT_EQ(GetCapture(), window_);
    SendMessageW(window_, WM_MOUSEMOVE, MK_LBUTTON, At(50));
    SendMessageW(window_, WM_MOUSEMOVE, MK_LBUTTON, At(-400));
    SendMessageW(window_, WM_LBUTTONUP, 0, At(-400));
    EXPECT_EQ(GetCapture(), nullptr);
    SendMessageW(window_, WM_MOUSEMOVE, 0, At(150));
    EXPECT_EQ(Reported(), (std::vector<int>{73, 100}));
    EXPECT_EQ(slider_.GetValue(), 100);
}

TEST_F(SliderTest, DegenerateRangeAndSizeNeitherHideNorJumpTheThumb)
{
    slider_.SetRange(40, 40);
    EXPECT_TRUE(ThumbAt(3026, 3));

    // Shorter than the thumb's travel needs: a click leaves the value.
    slider_.SetRange(0, 100);
    slider_.SetValue(70);
    SetWindowPos(window_, nullptr, 0, 0, kFaderW, 20 + 7, SWP_NOMOVE | SWP_NOZORDER);
    SendMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, At(26));
    SendMessageW(window_, WM_LBUTTONUP, 0, At(26));
    EXPECT_EQ(slider_.GetValue(), 70);
    EXPECT_TRUE(Reported().empty());
}

// --- Number box, arrow, icon ----------------------------------------------------------------

TEST(NumberBox, ShowsNumbersOneToSixteenAndBlankOtherwise)
{
    TestDialog dialog;
    CMixaraLikeNumberBox box;
    ASSERT_TRUE(box.Attach(dialog.Add(L"Static", L"", SS_NOTIFY | WS_DISABLED, RECT{40, 30, 50, 40}, 7193)));
    box.SetDigitBitmaps(4020, 4036);
    const RECT place = InParent(box.hwnd());
    EXPECT_EQ(place.left, 40);
    EXPECT_EQ(place.right - place.left, 27);
    EXPECT_EQ(place.bottom - place.top, 20);
    auto shows = [&](int id) { return Render(box.hwnd()).data == ResourceBitmap(id).data; };
    EXPECT_TRUE(shows(4036));
    box.ShowNumber(5);
    EXPECT_TRUE(IsWindowEnabled(box.hwnd()));
    EXPECT_TRUE(shows(4024));
    box.ShowNumber(16);
    EXPECT_TRUE(shows(4035));
    for (int outside : {0, 17}) {
        box.ShowNumber(outside);
        EXPECT_TRUE(shows(4036)) << outside;
    }

    box.ShowNumber(3);
    box.SetHighlight(true);
    const Pixels lit = Render(box.hwnd());
    for (int x : {2, 3, 23, 24}) EXPECT_EQ(lit.At(x, 10), RGB(255, 0, 0)) << x;
    EXPECT_EQ(lit.At(4, 10), ResourceBitmap(4022).At(4, 10));
}

TEST(StaticArrow, HeldDownRepeatsTheClickUntilReleased)
{
    TestDialog dialog;
    CStaticArrow arrow;
    ASSERT_TRUE(arrow.Attach(dialog.Add(L"Static", L"", SS_NOTIFY, RECT{5, 5, 16, 14}, 7209)));
    arrow.SetBitmaps(3070, 3071);
    EXPECT_TRUE(ShowsAt(Render(arrow.hwnd()), ResourceBitmap(3070), 0, 0));
    EnableWindow(arrow.hwnd(), FALSE);
    EXPECT_TRUE(ShowsAt(Render(arrow.hwnd()), ResourceBitmap(3071), 0, 0));
    EnableWindow(arrow.hwnd(), TRUE);
    PumpMessages();
    dialog.commands.clear();  // the static's enable and disable notifications

    auto press = [&] { SendMessageW(arrow.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, 0); };
    auto tick = [&] { SendMessageW(arrow.hwnd(), WM_TIMER, CStaticArrow::kRepeatTimer, 0); };
    // Long enough that the real timer never fires during the test.
    arrow.SetAutoRepeat(true, 60000);
    press();
    tick();
    tick();
    SendMessageW(arrow.hwnd(), WM_LBUTTONUP, 0, 0);
    PumpMessages();
    ASSERT_EQ(dialog.commands.size(), 3u) << "the click, then one per tick";
    for (const Posted& command : dialog.commands) EXPECT_EQ(command.wParam, MAKEWPARAM(7209, 0));
    EXPECT_FALSE(KillTimer(arrow.hwnd(), CStaticArrow::kRepeatTimer)) << "stopped on release";

    // Capture taken away (as by a disabling) ends the repeat too.
    press();
    ReleaseCapture();
    EXPECT_FALSE(KillTimer(arrow.hwnd(), CStaticArrow::kRepeatTimer));

    arrow.SetAutoRepeat(false, 60000);
    press();
    EXPECT_FALSE(KillTimer(arrow.hwnd(), CStaticArrow::kRepeatTimer));
}

// A red 16 x 16 square whose left column is transparent.
HICON MakeIcon()
{
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void* bits = nullptr;
    UniqueBitmap colour(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    auto* pixels = static_cast<uint32_t*>(bits);
    for (int i = 0; i < 256; ++i) pixels[i] = i % 16 == 0 ? 0 : 0xFFFF0000;
    WORD maskRows[16];
    for (WORD& row : maskRows) row = 0x0080;  // bit 7 of the first byte: column 0
    UniqueBitmap mask(CreateBitmap(16, 16, 1, 1, maskRows));
    ICONINFO icon{TRUE, 0, 0, mask.get(), colour.get()};
    return CreateIconIndirect(&icon);
}

TEST(TransparentIcon, DrawsOverTheBackgroundAndReloadsWithoutLeaking)
{
    TestDialog dialog;
    CCTransparentIcon icon;
    ASSERT_TRUE(icon.Create(L"Static", L"", WS_CHILD | WS_VISIBLE, RECT{30, 30, 70, 50}, dialog.hwnd(), 7318));
    HICON image = MakeIcon();
    ASSERT_TRUE(icon.SetIconImage(image));
    const RECT place = InParent(icon.hwnd());
    EXPECT_EQ(place.left, 30);
    EXPECT_EQ(place.right - place.left, 16);
    EXPECT_EQ(place.bottom - place.top, 16);
    const Pixels shown = Render(icon.hwnd());
    EXPECT_EQ(shown.At(8, 8), RGB(255, 0, 0));
    EXPECT_EQ(shown.At(0, 8), kUnpainted) << "transparent where the icon is";

    icon.SetIconImage(image);
    const int before = GdiObjects();
    for (int i = 0; i < 20; ++i) icon.SetIconImage(image);
    EXPECT_LE(GdiObjects() - before, 2);
    DestroyIcon(image);
}

// --- Connector line, name edit ----------------------------------------------------------------

TEST(StaticLine, DrawsItsShapeInItsColour)
{
    constexpr COLORREF kNormal = RGB(157, 157, 161), kRed = RGB(255, 0, 0), kGrey = RGB(92, 92, 92);
    TestDialog dialog;
    CStaticLine line;
    ASSERT_TRUE(line.Create(L"Static", L"", WS_CHILD | WS_VISIBLE, RECT{10, 10, 210, 50}, dialog.hwnd(), 0xFFFF));
    Pixels shown = Render(line.hwnd());
    EXPECT_EQ(shown.At(100, 20), kNormal);
    EXPECT_EQ(shown.At(100, 39), kUnpainted) << "the bar leaves the last row";
    line.SetAlertColour();
    EXPECT_EQ(Render(line.hwnd()).At(100, 20), kRed);
    EnableWindow(line.hwnd(), FALSE);
    EXPECT_EQ(Render(line.hwnd()).At(100, 20), kGrey);
    EnableWindow(line.hwnd(), TRUE);
    line.SetNormalColour(false);

    // Bridges: straight in the middle at 22 (from the top corners) or 18 (from the bottom ones).
    line.SetShape(1);
    shown = Render(line.hwnd());
    EXPECT_EQ(shown.At(100, 22), kNormal);
    EXPECT_EQ(shown.At(0, 0), kNormal) << "starts in the corner";
    EXPECT_EQ(shown.At(100, 20), kUnpainted);
    line.SetShape(2);
    shown = Render(line.hwnd());
    EXPECT_EQ(shown.At(100, 18), kNormal);
    EXPECT_EQ(shown.At(100, 22), kUnpainted);
    // Fork: from the left middle up to the top edge, which it follows to the right end.
    line.SetShape(3);
    shown = Render(line.hwnd());
    EXPECT_EQ(shown.At(0, 20), kNormal);
    EXPECT_EQ(shown.At(199, 0), kNormal);
    EXPECT_EQ(shown.At(100, 20), kUnpainted);
}

TEST(EditForModelessDlg, EscapeTabAndEnterGoToTheParentUntyped)
{
    TestDialog dialog;
    MessageLog log(dialog.hwnd(), {CEditForModelessDlg::kEscapeMessage, CEditForModelessDlg::kAcceptMessage});
    CEditForModelessDlg edit;
    // Multi-line, so that Tab and Enter would be typed if they got through.
    ASSERT_TRUE(edit.Attach(dialog.Add(L"Edit", L"", ES_MULTILINE | ES_WANTRETURN, RECT{5, 5, 120, 40}, 7146)));
    for (WPARAM c : {WPARAM{L'L'}, WPARAM{VK_ESCAPE}, WPARAM{VK_TAB}, WPARAM{VK_RETURN}, WPARAM{L'1'}})
        SendMessageW(edit.hwnd(), WM_CHAR, c, 0);
    wchar_t text[16]{};
    GetWindowTextW(edit.hwnd(), text, 16);
    EXPECT_STREQ(text, L"L1");
    ASSERT_EQ(log.seen.size(), 3u);
    EXPECT_EQ(log.seen[0].message, 1038u);
    EXPECT_EQ(log.seen[1].message, 1039u);
    EXPECT_EQ(log.seen[2].message, 1039u);
    EXPECT_EQ(log.seen[2].wParam, 0u);
    EXPECT_EQ(log.seen[2].lParam, 0);
}

}  // namespace
