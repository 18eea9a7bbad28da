// A thin level bar drawn from pre-rendered frames: BuildFrames renders every possible bar once
// (frame j lights the lowest 2j rows), and a level change is one table look-up and one blit.
// With fall-off a peak is held and decays by 2 levels per timer tick.
//
// SetLevel may also be called from the panel's level worker: it then only stores the frame and
// the held level, invalidates, and has the window's own thread (re)start the timer.
#pragma once

#include <controls/GdiObjects.h>
#include <controls/SubclassedWindow.h>

#include <array>
#include <atomic>
#include <memory>

class CMixaraLikeLevelMeter : public CSubclassedWindow {
public:
    static constexpr UINT_PTR kFallTimer = 256;

    // Each takes three colours: [0] the unlit bar's rows, [2] the disabled image's; [1] unused.
    // The frames follow the client size at the time of the call.
    void BuildFrames(const COLORREF offColours[3], const COLORREF lineColours[3]);
    void SetFallOff(bool on, UINT periodMs);
    // Levels 1..100 (others clamped); ignored before BuildFrames and while disabled.
    void SetLevel(int level);

    int FrameCount() const { return frameCount_; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    static constexpr int kNoFrame = -1;

    int FrameOf(int level) const;
    void Show(int frame, bool fromOwnThread);
    void StartFall();
    void StopFall();
    void OnFallTick();

    bool fallMode_ = false;
    UINT fallPeriodMs_ = 10;
    SIZE size_{0, 0};
    int frameCount_ = 0;
    std::array<int, 100> table_{};
    // The frames side by side, the disabled image after the last one; selected into its own DC.
    UniqueBitmap strip_;
    std::unique_ptr<UniqueMemoryDC> stripDc_;
    std::atomic<int> current_{kNoFrame};
    std::atomic<int> held_{0};
};
