#include "MixaraLikeLevelMeter.h"

#include "PanelControlSupport.h"

#include <resources/driver/PanelBitmapIds.h>

#include <algorithm>

namespace {

// Asks the window's thread to (re)start the fall timer, which only that thread may do.
constexpr UINT kRestartFallMessage = WM_APP + 0x256;

void FillRow(HDC dc, int x, int y, int width, COLORREF colour)
{
    const RECT row{x, y, x + width, y + 1};
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &row, nullptr, 0, nullptr);
}

}  // namespace

void CMixaraLikeLevelMeter::BuildFrames(const COLORREF offColours[3], const COLORREF lineColours[3])
{
    StopFall();
    current_ = kNoFrame;
    held_ = 0;
    stripDc_.reset();
    strip_.Reset();
    frameCount_ = 0;
    table_.fill(0);
    const SIZE size = panel_controls::ClientSize(hwnd());
    if (size.cx <= 0 || size.cy <= 0) return;
    size_ = size;
    const int w = size.cx, h = size.cy, half = h / 2, count = half + 1;
    {
        ClientDC screen(nullptr);
        strip_.Reset(CreateCompatibleBitmap(screen.get(), w * (count + 1), h));
    }
    if (!strip_) return;
    stripDc_ = std::make_unique<UniqueMemoryDC>(nullptr);
    HDC dc = stripDc_->get();
    SelectObject(dc, strip_.get());

    // The disabled image: lines every second row from the bottom.
    const int disabledX = w * count;
    for (int y = 0; y < h; ++y) FillRow(dc, disabledX, y, w, (h - y) % 2 == 0 ? lineColours[2] : offColours[2]);

    const UniqueBitmap ramp = LoadControlBitmap(IDB_METER_RAMP);
    UniqueMemoryDC rampDc(dc);
    SelectedObject selected(rampDc.get(), ramp.get());
    // A bar under 2 pixels has the single, empty frame.
    const double step = half ? 100.0 / half : 0.0;
    double threshold = 0.0;
    for (int j = 0; j < count; ++j) {
        const int x = w * j;
        BitBlt(dc, x, 0, w, h, rampDc.get(), 0, 0, SRCCOPY);
        for (int y = 0; y < h - 2 * j; ++y) FillRow(dc, x, y, w, y % 2 == 0 ? offColours[0] : lineColours[0]);
        for (int k = std::min(static_cast<int>(threshold), 99); k < 100; ++k) table_[k] = j;
        threshold += step;
    }
    frameCount_ = count;
    current_ = 0;
    Invalidate();
}

void CMixaraLikeLevelMeter::SetFallOff(bool on, UINT periodMs)
{
    fallMode_ = on;
    fallPeriodMs_ = periodMs;
    if (!on) StopFall();
}

int CMixaraLikeLevelMeter::FrameOf(int level) const
{
    return table_[std::clamp(level - 1, 0, 99)];
}

void CMixaraLikeLevelMeter::Show(int frame, bool fromOwnThread)
{
    current_ = frame;
    // A redraw from another thread would wait for this one: it only invalidates.
    if (fromOwnThread) Redraw(); else InvalidateRect(hwnd(), nullptr, TRUE);
}

void CMixaraLikeLevelMeter::SetLevel(int level)
{
    if (frameCount_ == 0 || current_ == frameCount_ || !hwnd()) return;
    const bool ownThread = GetWindowThreadProcessId(hwnd(), nullptr) == GetCurrentThreadId();
    if (!fallMode_) {
        Show(FrameOf(level), ownThread);
        return;
    }
    // A lower level leaves the falling bar alone.
    if (level <= held_) return;
    held_ = level;
    Show(FrameOf(level), ownThread);
    if (ownThread) StartFall(); else PostMessageW(hwnd(), kRestartFallMessage, 0, 0);
}

void CMixaraLikeLevelMeter::StartFall()
{
    SetTimer(hwnd(), kFallTimer, fallPeriodMs_, nullptr);
}

void CMixaraLikeLevelMeter::StopFall()
{
    if (hwnd()) KillTimer(hwnd(), kFallTimer);
}

void CMixaraLikeLevelMeter::OnFallTick()
{
    // Lowered before it is shown, so that the last tick leaves the bar dark.
    const int held = held_.fetch_sub(2) - 2;
    Show(FrameOf(held), true);
    if (held < 1) {
        held_ = 0;
        StopFall();
    }
}

LRESULT CMixaraLikeLevelMeter::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND: {
        Default(message, wParam, lParam);
        const int frame = current_;
        if (frame == kNoFrame || !stripDc_) return 1;
        BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, size_.cx, size_.cy, stripDc_->get(), frame * size_.cx, 0, SRCCOPY);
        return 1;
    }
    case WM_TIMER:
        if (wParam == kFallTimer) OnFallTick();
        return Default(message, wParam, lParam);
    case kRestartFallMessage:
        // The fall may have ended, or the meter been disabled, since the post.
        if (held_ > 0 && current_ != frameCount_) StartFall();
        return 0;
    case WM_ENABLE: {
        const LRESULT result = Default(message, wParam, lParam);
        if (frameCount_ == 0) return result;
        StopFall();
        held_ = 0;
        current_ = wParam ? 0 : frameCount_;
        Redraw();
        return result;
    }
    case WM_DESTROY:
        StopFall();
        return Default(message, wParam, lParam);
    default:
        return Default(message, wParam, lParam);
    }
}

bool CMixaraLikeLevelMeter::OnReflected(UINT message, WPARAM wParam, LPARAM, LRESULT& result)
{
    return panel_controls::TransparentStaticColour(message, wParam, result);
}
