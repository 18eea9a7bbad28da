// A mode button of the test host (monitoring, play, record): checked while its mode is on, and
// then blinking between the stop image (800 ms) and its action image (300 ms).
#pragma once

#include <controls/MixaraLikeCheckBox.h>

class CModeButton : public CMixaraLikeCheckBox {
public:
    // actionImage: what a click would start; timerId: the owner's timer that drives the blinking.
    CModeButton(int actionImage, UINT_PTR timerId) : actionImage_(actionImage), timerId_(timerId) {}

    // Back to the resting images; blinking starts when the mode is on.
    void ShowMode(bool on);
    // From the owner's WM_TIMER with this button's timer id.
    void OnBlinkTimer();
    void StopBlinking();
    UINT_PTR TimerId() const { return timerId_; }
    int Phase() const { return phase_; }

private:
    void Blink(int checkedImage, int uncheckedImage, UINT period);

    int actionImage_;
    UINT_PTR timerId_;
    int phase_ = 0;
};
